#!/usr/bin/env bash
# Checks that every C++ file is formatted as .clang-format says (clang-format 14, Debian 12's).
# Usage: scripts/check-format.sh [source directory, default: the one above this script]
# Prints each file that differs with clang-format's own messages and exits 1 when there is any.
# To format a file: clang-format -i FILE.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
clang-format --dry-run --Werror "${files[@]}"

#pragma once
// Acting as another user, for tests of files that several users share. Only root can do so.

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorsa::test_files {

// The unprivileged user "nobody", and a user of no account, for the second user of a shared folder.
inline constexpr uid_t nobody_uid = 65534;
inline constexpr uid_t stranger_uid = 65533;

// Runs `action` in a child process as `user` (with the group of the same number, and no other group)
// and returns its exit code, or -1 when the child could not change to that user.
template <typename Action> int run_as(uid_t user, Action action)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0) ::_exit(100);
        ::_exit(action());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 100 ? WEXITSTATUS(status) : -1;
}

} // namespace vorsa::test_files

# The Debian package of the program: `cpack` in the build directory writes vorsa-receipt_<version>_<arch>.deb
# from the install rules (scripts/package.sh builds it in Release).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorsa-receipt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compose, preview and print sales receipts")
# The long description keeps its lines under 80 columns: package tools show them as they are.
set(CPACK_PACKAGE_DESCRIPTION
    "A counter tool for sportswear shops: brands, up to five product lines, a live
preview and a printed receipt with a QR code. The settings file dy.cfg is kept
in the directory the program is started from; from the desktop menu that is
the home directory.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(VORSA_PACKAGE_MAINTAINER "Vorsa Receipt maintainers <maintainers@vorsa-receipt.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VORSA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

# The libraries the program links (Qt, the web engine for the notice page, giflib, the C++ runtime)
# become Depends through dpkg-shlibdeps, with the versions the build saw.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# What the linker does not see, added to the library dependencies:
# - libcups2, the spooler's client library, which the program loads when it first needs the spooler
#   instead of linking it (so dpkg-shlibdeps cannot find it);
# - the Song faces the receipt is set in: Noto Serif CJK SC on the screen and AR PL UMing CN on the
#   printed page, whose PDF text layer Noto's shared glyphs spoil (either serves for both when the other
#   is missing); without any, the Chinese text falls back to whatever face fontconfig finds, or to boxes;
# - Qt's TIFF reader and writer, a plugin loaded at run time, for logos converted to or from TIFF.
# The xcb platform plugin that draws the window on X11 (and on Wayland through XWayland) is part of
# libqt6gui6 on Debian 12, which the library dependencies already require.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcups2, fonts-noto-cjk | fonts-arphic-uming, qt6-image-formats-plugins")
# The local print spooler: without it only printers shared by another CUPS server are listed. The printed
# page's face, when the Depends were met by Noto alone. The Qt 6 plugin of fcitx5, the usual Chinese input
# method: without it a fcitx5 user types Latin letters into every box (ibus needs nothing extra, Qt brings
# its plugin).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, fonts-arphic-uming, fcitx5-frontend-qt6")

# The copyright file (machine-readable format) and the changelog (Debian's format, compressed) that every
# Debian package carries in /usr/share/doc/<package>. The package is native (its version has no Debian
# revision), so the changelog is changelog.gz; its newest entry must name the project's version.
include(GNUInstallDirs)
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog vorsa_changelog_top LIMIT_COUNT 1)
if(NOT vorsa_changelog_top MATCHES "^vorsa-receipt \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "cmake/debian/changelog: the newest entry is not version ${PROJECT_VERSION}: "
                        "${vorsa_changelog_top}")
endif()
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/debian/changelog changelog
    COMMAND gzip -n -9 -f changelog
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} VERBATIM)
add_custom_target(vorsa_changelog DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
add_dependencies(vorsa-receipt vorsa_changelog)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vorsa-receipt)

include(CPack)

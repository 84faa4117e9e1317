# The Debian package, made by CPack's DEB generator (scripts/package.sh).
# CPack packs exactly what `cmake --install` puts in place, so the package
# and a hand installation cannot differ, and dpkg-shlibdeps finds the
# run-time libraries from the binaries themselves.

set(ORMBROOK_MAINTAINER "Nordvane <ormbrook@nordvane.example>")

# Debian wants a changelog and a copyright file beside the documentation.
# The date follows SOURCE_DATE_EPOCH (the last commit, in package.sh), so two
# builds of one commit give the same files.
string(TIMESTAMP ORMBROOK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/share/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/debian/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog
  COMMENT "Compressing the package's changelog")
add_custom_target(ormbrook_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${PROJECT_SOURCE_DIR}/share/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ormbrook)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ormbrook)
set(CPACK_PACKAGE_VENDOR Nordvane)
set(CPACK_PACKAGE_CONTACT "${ORMBROOK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop web crawler with a picture slide show")
# The summary above is the synopsis line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ormbrook keeps local mirrors of web sites. Projects of folders and start
URLs are crawled on command or from a timer list; every file lands at a
fixed place in the mirror and the stored pages' links are rewritten to
point at the local copies. A stopped crawl resumes where it stopped.
.
The JPEG pictures found are shown in a small always-on-top window, in a
screen saver and on the desktop. The interface is in Japanese.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the libraries the binaries link: Qt's platform plugins (the X11 and
# Wayland back ends are loaded, not linked), the Japanese faces of the
# interface and the captions, and xdg-open for the browser and the guide.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic, fonts-ipafont-mincho, xdg-utils")
# Qt's own dialog texts in Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Group-writable directories would be a lintian error.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)

#!/usr/bin/env bash
# Builds the Debian package build/package/ormbrook_<version>_<arch>.deb and
# checks it with lintian when lintian is installed.
#
# CPack's DEB generator makes it, from the same install rules that
# `cmake --install` follows, with dpkg-shlibdeps reading the dependencies
# off the binaries. A debian/ folder with dpkg-buildpackage would say the
# same things a second time (the file list, the build steps, the flags) in
# a second build system that must be kept in step with CMake's; the package
# is a binary package of this tree, not a source package for Debian's
# archive, so the one build system does it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh package
# dpkg-buildflags gives Debian's hardened flags (fortified functions, stack
# protector, read-only relocations bound at start), as a Debian-built
# package would have them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
CFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS CFLAGS LDFLAGS
# The changelog's date is that of the last commit: one commit, one package.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
cmake --preset package >/dev/null
cmake --build --preset package
rm -f build/package/ormbrook_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/ormbrook_*.deb)
echo "package: $deb ($(du -k "$deb" | cut -f1) KiB)"
dpkg-deb -f "$deb" Depends | sed 's/^/package: Depends: /'
if command -v lintian >/dev/null 2>&1; then
  # Errors fail the build; warnings and notes are printed.
  lintian --fail-on error --display-info "$deb"
else
  echo "package: lintian is not installed (apt-get install lintian); the package is not checked"
fi

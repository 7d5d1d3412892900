#!/usr/bin/env bash
# Builds the Debian package of the program into build-package/: a Release build with the
# distribution's hardening flags, installed under /usr, stripped and packed by CPack, its
# dependencies read from the program's libraries. Then checks it as the distribution would:
# lintian for the package, appstreamcli for its AppStream data.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD=build-package

# The distribution's flags choose the optimisation too (-O2): GCC 12 at CMake's -O3 warns
# falsely about overlapping copies inside the standard library's strings.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DPM_BUILD_TESTS=OFF \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
rm -f "$BUILD"/*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
PACKAGE=$(ls "$BUILD"/*.deb)

CHECK=$(mktemp -d)
trap 'rm -rf "$CHECK"' EXIT
dpkg-deb -x "$PACKAGE" "$CHECK"
appstreamcli validate --no-net "$CHECK"/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error "$PACKAGE"
echo "Package: $PACKAGE"

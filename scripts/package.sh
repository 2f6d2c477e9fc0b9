#!/usr/bin/env bash
# Builds the Debian package (helper, tamborix-remote, desktop entry, icons, AppStream data, user
# unit, manual pages) with Debian's hardening flags, checks it with lintian and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --tests >&2
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
# The package's dates (manual pages) are the changelog's, so the same sources give the same package.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l data/debian/changelog -S Timestamp)
export SOURCE_DATE_EPOCH
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"

dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAMBORIX_TESTS=OFF -DTAMBORIX_BENCH=OFF -DTAMBORIX_FUZZ=OFF -DTAMBORIX_SANITIZE=OFF \
  -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >&2
cmake --build "$dir" >&2
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/*.deb)
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >&2
echo "$deb"

#!/usr/bin/env bash
# Builds the client for release (the product's own endpoints: the defaults of
# cmake/Configuration.cmake) in build/package and makes its Debian package:
#   dist/velomark-client_<version>_<architecture>.deb
# Install it with  sudo apt install ./dist/velomark-client_*.deb
# Extra arguments go to cmake (for example -DVELOMARK_PACKAGE_MAINTAINER=...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build/package"
dist="$root/dist"
# --fresh: a cache left by an earlier configuration must not carry other
# endpoints into a release package.
cmake --fresh -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELOMARK_BUILD_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"

rm -rf "$dist" "$build/cpack"
mkdir -p "$dist"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/cpack" >/dev/null
mv "$build"/cpack/*.deb "$dist/"
deb=$(ls "$dist"/*.deb)
dpkg-deb --info "$deb"
echo "Package: $deb"

#!/usr/bin/env bash
# Builds the Debian package orvchat-server: by default a headless Release build in
# build/package (no Qt, so the package pulls in no desktop libraries). Given a build folder
# that is built already (CI passes build/test), packages that one instead.
# Prints the path of the .deb on its last line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-}"
if [ -z "$build" ]; then
  build="$root/build/package"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_GUI=OFF \
    -DORV_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc \
    -DCMAKE_INSTALL_LOCALSTATEDIR=/var >/dev/null
  cmake --build "$build" -j "$(nproc)"
else
  build=$(cd "$build" && pwd)
  # The package installs under /usr with its settings in /etc, whatever the folder was
  # configured for.
  cmake -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
cd "$build"
rm -f orvchat-server_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
ls "$build"/orvchat-server_*.deb

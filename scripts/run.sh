#!/usr/bin/env bash
# Installs what is missing, builds the server and starts it on the ready working folder
# (workdir/). Without a display it runs headless: console on stdout, commands on stdin.
# Extra arguments go to the server (for example --headless).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target orvchatserver -j "$(nproc)"
exec "$build/src/orvchatserver" -C "$root/workdir" "$@"

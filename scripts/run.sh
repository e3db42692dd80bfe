#!/usr/bin/env bash
# Installs what is missing, builds the server and starts it on the ready working folder
# (workdir/). Without a display it runs headless: console on stdout, commands on stdin.
# The terminal client and orvchatctl are built beside it (build/release/tools/orvchat-client,
# build/release/src/orvchatctl).
# Extra arguments go to the server (for example --headless).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORV_BUILD_TESTS=OFF >/dev/null
# The client and orvchatctl too, for the next steps in the README.
cmake --build "$build" --target orvchatserver orvchat-client orvchatctl -j "$(nproc)"
exec "$build/src/orvchatserver" -C "$root/workdir" "$@"

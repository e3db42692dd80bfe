#!/usr/bin/env bash
# The Windows build under Wine: cross-builds it (scripts/build-windows.sh), runs its unit
# tests as .exe files, then starts orvchatserver.exe --headless and talks to it over
# 127.0.0.1 with the Linux client (welcome, relay, user list, kick, orderly stop).
# Wine runs in a prefix of its own under build/, with a wineserver this script starts and
# stops again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh" --wine
bash "$root/scripts/build-windows.sh"

export WINEPREFIX="$root/build/wine-prefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver=/usr/lib/wine/wineserver
mkdir -p "$WINEPREFIX"
# (One already running for this prefix, from an earlier run or a screenshot, is used.)
"$wineserver" --persistent || true
trap '"$wineserver" --kill' EXIT
# Makes the prefix when there is none, and starts Wine's background services now, with
# output to nowhere: started by a test, they would hold its output open and CTest would
# wait for them.
echo "== Wine prefix"
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1

echo "== unit tests under Wine"
ctest --test-dir "$root/build/mingw" --output-on-failure -j "$(nproc)" --timeout 600

echo "== orvchatserver.exe under Wine, Linux clients on 127.0.0.1"
e2e="$root/build/wine-e2e"
cmake -S "$root" -B "$e2e" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_GUI=OFF \
  -DORV_WINDOWS_SERVER_EXE="$root/build/mingw/src/orvchatserver.exe"
cmake --build "$e2e" -j "$(nproc)" --target orv_wine_tests orvchat-client
ctest --test-dir "$e2e" --output-on-failure -R '^WineServerTest\.' --timeout 300

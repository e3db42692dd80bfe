#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 (orvchatserver.exe with its native
# window, orvchat-client.exe and the unit tests as .exe files) into build/mingw, and makes
# the zip (build/mingw/orvchat-server-VERSION-windows-x64.zip). Needs no Wine; the tests
# are run by scripts/test-windows.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/mingw"
bash "$root/scripts/install-deps.sh"

echo "== Windows cross build (MinGW-w64)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G ZIP >/dev/null)
# Only the Windows system's own DLLs may be needed: anything else would have to be shipped.
for exe in "$build/src/orvchatserver.exe" "$build/tools/orvchat-client.exe"; do
  extra=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' |
    grep -viE '^(kernel32|user32|gdi32|shell32|comctl32|advapi32|ws2_32|mswsock|iphlpapi|msvcrt|ole32)\.dll$' || true)
  if [ -n "$extra" ]; then
    echo "build-windows: $(basename "$exe") needs DLLs that are not part of Windows: $extra" >&2
    exit 1
  fi
done
ls -l "$build"/orvchat-server-*-windows-x64.zip

#!/usr/bin/env bash
# Installs what is missing, builds and runs every test: once with the operator window built
# in, once headless-only under AddressSanitizer and UndefinedBehaviorSanitizer; then runs
# the fuzz targets for a short while each (scripts/fuzz.sh) and cross-builds the Windows
# programs and their zip.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
jobs=$(nproc)

echo "== formatting"
bash "$root/scripts/check-format.sh"

echo "== layers (no include runs up a layer or in a loop)"
python3 "$root/scripts/check_layers.py"

# Among the tests: the web console over real HTTP and its page in headless Chromium
# (web_api_e2e, web_browser; about 10 and 7 s), against the real server on 127.0.0.1.
echo "== build and test (operator window on)"
cmake -S "$root" -B "$root/build/test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_BUILD_GUI=ON
cmake --build "$root/build/test" -j "$jobs"
ctest --test-dir "$root/build/test" --output-on-failure -j "$jobs" --timeout 300

echo "== package (from the build above): contents, unit, install, upgrade and purge"
deb=$(bash "$root/scripts/package.sh" "$root/build/test" | tail -n 1)
bash "$root/packaging/check-package.sh" "$deb"

echo "== build and test (headless only, AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_BUILD_GUI=OFF \
  -DORV_SANITIZE=ON
cmake --build "$root/build/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs" --timeout 600

echo "== fuzzing (the libFuzzer targets of fuzz/, built with clang, a bounded time each)"
bash "$root/scripts/fuzz.sh"

echo "== Windows cross build and zip (its tests under Wine: scripts/test-windows.sh)"
bash "$root/scripts/build-windows.sh"

#!/usr/bin/env bash
# Fails when a C++ file of the project is not formatted the way .clang-format asks.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
find src tests tools fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run --Werror

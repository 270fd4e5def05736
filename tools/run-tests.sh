#!/usr/bin/env bash
# Builds veltrane with its tests and runs them. With --sanitize the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer (in build-sanitize/).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh" tests
build="$top/build"
flags=(-DCMAKE_BUILD_TYPE=Release)
if [ "${1:-}" = "--sanitize" ]; then
  build="$top/build-sanitize"
  flags=(-DCMAKE_BUILD_TYPE=Debug -DVELTRANE_SANITIZE=ON)
fi
cmake -S "$top" -B "$build" -DVELTRANE_TESTS=ON "${flags[@]}" > /dev/null
cmake --build "$build" -j "$(nproc)"
cd "$build" && ctest --output-on-failure -j "$(nproc)"

#!/usr/bin/env bash
# Builds veltrane and runs it on the bundled example in example-run/.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/install-deps.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DVELTRANE_TESTS=OFF > /dev/null
cmake --build "$top/build" -j "$(nproc)"
rm -rf "$top/example-run" && mkdir "$top/example-run"
cp "$top"/example/{data.txt,params.txt,intervals.txt} "$top/example-run/"
cd "$top/example-run"
"$top/build/veltrane" -s data.txt params.txt intervals.txt
echo "Cluster report: example-run/output; results: example-run/data.txt-results"
tail -n 2 data.txt-results

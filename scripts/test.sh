#!/usr/bin/env bash
# Runs every test: the unit tests (plain and under ASan/UBSan), bounded fuzzing, the Windows
# builds with their binary checks, and the end-to-end tests of the 64-bit build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-tools.sh test

jobs=$(nproc)
for preset in native sanitize fuzz windows-x86 windows-x64; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset"
done

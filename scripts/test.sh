#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite (under Xvfb without a display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
jobs="${QV_TEST_JOBS:-2}"
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j"$jobs"
fi
exec ctest --output-on-failure -j"$jobs"

#!/usr/bin/env bash
# Installs what is missing, builds only the browser and its resources, and starts it (under
# Xvfb when there is no display). Arguments go to the browser: addresses, --new-instance ...
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE="${QV_BUILD_TYPE:-RelWithDebInfo}" ${QV_CMAKE_ARGS:-}
cmake --build build -j"$(nproc)" --target quivel-browser
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting under Xvfb"
    QV_XVFB_ANNOUNCE=1 exec bash scripts/xvfb.sh -s "-screen 0 1280x900x24" ./build/quivel-browser "$@"
fi
exec ./build/quivel-browser "$@"

#!/usr/bin/env bash
# Installs what is missing, builds, and starts the browser (under Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting under Xvfb (screenshot with: import -window root shot.png)"
    exec xvfb-run -a -s "-screen 0 1280x900x24" ./build/quivel-browser
fi
exec ./build/quivel-browser

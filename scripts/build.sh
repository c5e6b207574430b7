#!/usr/bin/env bash
# Installs what is missing and builds everything into build/ (ccache is used when installed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/ccache_env.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE="${QV_BUILD_TYPE:-RelWithDebInfo}" "${qv_launcher[@]}" \
    ${QV_CMAKE_ARGS:-}
cmake --build build -j"$(nproc)"

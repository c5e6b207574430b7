#!/usr/bin/env bash
# Installs what is missing and builds everything into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE="${QV_BUILD_TYPE:-RelWithDebInfo}" ${QV_CMAKE_ARGS:-}
cmake --build build -j"$(nproc)"

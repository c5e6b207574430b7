#!/usr/bin/env bash
# Installs what is missing and builds everything into build/ (ccache is used when installed).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
launcher=()
if command -v ccache >/dev/null; then
    # Relative paths let clones in other folders share the cache.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE="${QV_BUILD_TYPE:-RelWithDebInfo}" "${launcher[@]}" \
    ${QV_CMAKE_ARGS:-}
cmake --build build -j"$(nproc)"

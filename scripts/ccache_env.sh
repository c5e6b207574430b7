# Sourced by the build scripts: the ccache launcher for CMake, when ccache is installed.
# Relative paths and no working folder in the hash let clones in other folders share the cache;
# the sloppiness lets precompiled headers be cached at all.
qv_launcher=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
    export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
    export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
    qv_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

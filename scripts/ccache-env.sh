# Sourced by the build scripts. ccache keys on paths relative to the project folder, so a
# fresh clone in another folder reuses what an earlier build of the same sources compiled,
# and precompiled headers stay cacheable.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$root}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"

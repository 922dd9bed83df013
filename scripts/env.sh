# Shared locations of the build scripts. Sourced, not run.
# The cache lives outside the repository and survives between runs on one machine.
export VOREL_CACHE="${VOREL_CACHE:-/var/cache/vorel-launcher}"
export MINGW_DEPS="$VOREL_CACHE/mingw-deps"
export MINGW_CRYPTO="$VOREL_CACHE/mingw-crypto"
export MINGW_ZSTD="$VOREL_CACHE/mingw-zstd"
export WINEPREFIX="${VOREL_WINEPREFIX:-$VOREL_CACHE/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# Windows programs run as on a Vietnamese Windows: ANSI code page 1258, UTF-8 file names.
export VOREL_WINE_LANG=vi_VN.UTF-8

#!/usr/bin/env bash
# Prepares a Debian 12 machine (as root) for building and testing the launcher:
#   1. Debian packages for the native build, the mingw-w64 build, Wine and the test tools;
#   2. libcurl (static, Schannel), minizip, libsodium, nettle, libzstd and libdivsufsort for mingw-w64, and minizip for
#      the native build, built from Debian's source packages into a cache folder outside the
#      repository;
#   3. a private Wine prefix with the fonts the skin asks for.
# Every step is skipped when its result is already in place, so a second run takes seconds.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/env.sh
. "$here/env.sh"

log() { printf '[setup] %s\n' "$*"; }

# --- 1. Debian packages --------------------------------------------------------------------
packages=(
  build-essential cmake ninja-build pkg-config dpkg-dev
  libcurl4-openssl-dev zlib1g-dev libsodium-dev nettle-dev autoconf automake libtool m4
  libgtest-dev libgmock-dev googletest clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 xvfb xauth fonts-dejavu-core fonts-wine libfontconfig1
  python3 python3-pyftpdlib python3-pil xdotool x11-apps x11-utils imagemagick zip unzip libarchive-tools p7zip-full nginx-light aria2 curl rhash time locales procps
  osslsigncode openssl nsis libzstd-dev libdivsufsort-dev xdelta3 bsdiff
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # Packages such as nginx-light would start a system service on install; the project runs its
  # own instances from temporary folders. Services are kept from starting while this installs,
  # and nothing that already runs on the machine is touched.
  policy=/usr/sbin/policy-rc.d
  own_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod +x "$policy" && own_policy=1
  fi
  installed=0
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null && installed=1
  [ "$own_policy" = 1 ] && rm -f "$policy"
  [ "$installed" = 1 ] || { log "installing the packages failed"; exit 1; }
else
  log "Debian packages present"
fi

# Wine takes the player's Windows locale (Vietnamese, ANSI code page 1258) from the Unix one.
if ! locale -a 2>/dev/null | grep -qi '^vi_VN\.utf-\?8$'; then
  log "generating the vi_VN.UTF-8 locale"
  localedef -i vi_VN -f UTF-8 vi_VN.UTF-8
fi

# --- 2. libcurl and minizip for mingw-w64 -----------------------------------------------------
# The native build links a static minizip made from the same zlib source, not Debian's libminizip
# (minizip 1.1, which on 64-bit Linux ignores the zip64 sizes of entries of 4 GiB and more), so
# that both builds extract with the same code.
# Source entries are made from the machine's own apt sources, so the same mirror serves them.
ensure_deb_src() {
  if apt-get source --print-uris -qq zlib >/dev/null 2>&1; then return; fi
  log "adding deb-src entries"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/vorel-deb-src.sources
  fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/vorel-deb-src.list
  fi
  apt-get update -qq
}

# True when the stamp file holds this stamp and every file named is there: the cache was built by
# the current recipe from the installed versions.
cache_current() {  # stamp file, stamp, files...
  local stamp_file=$1 wanted=$2 file
  shift 2
  [ -f "$stamp_file" ] && [ "$(cat "$stamp_file")" = "$wanted" ] || return 1
  for file in "$@"; do [ -f "$file" ] || return 1; done
}

# Fetches one Debian source package into the current folder: the installed version first; a mirror
# that lacks its source (a security update) serves the newest one it has.
fetch_source() {  # source package, installed version
  apt-get source -qq "$1=$2" >/dev/null 2>&1 && return 0
  local version
  for version in $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -rV); do
    apt-get source -qq "$1=$version" >/dev/null 2>&1 && return 0
  done
  return 1
}

curl_version=$(dpkg-query -W -f='${Version}' libcurl4-openssl-dev)
zlib_version=$(dpkg-query -W -f='${Version}' zlib1g-dev)
# Bump when the build recipe below changes, so that caches made by the old one are rebuilt.
recipe=3
stamp="curl=$curl_version zlib=$zlib_version recipe=$recipe"
# CMakeLists.txt looks for the native minizip here.
native_deps="$VOREL_CACHE/native-deps"

mkdir -p "$VOREL_CACHE"
if cache_current "$MINGW_DEPS/stamp" "$stamp" "$MINGW_DEPS/lib/libcurl.a" "$MINGW_DEPS/lib/libminizip.a" \
     "$native_deps/lib/libminizip.a"; then
  log "mingw libcurl and minizip, native minizip present ($stamp)"
else
  ensure_deb_src
  src="$VOREL_CACHE/src"
  rm -rf "$src" "$MINGW_DEPS" "$native_deps"
  mkdir -p "$src" "$MINGW_DEPS/lib" "$MINGW_DEPS/include/minizip" "$native_deps/lib" "$native_deps/include/minizip"
  (cd "$src" && apt-get source -qq "curl=$curl_version" "zlib=$zlib_version" >/dev/null 2>&1 \
     || apt-get source -qq curl zlib >/dev/null)
  zdir=$(find "$src" -maxdepth 1 -type d -name 'zlib-*' | head -n 1)
  cdir=$(find "$src" -maxdepth 1 -type d -name 'curl-*' | head -n 1)

  log "building minizip for mingw-w64 from $(basename "$zdir")"
  mz="$zdir/contrib/minizip"
  objs=()
  for f in unzip zip ioapi iowin32; do
    x86_64-w64-mingw32-gcc-posix -O2 -I"$zdir" -c "$mz/$f.c" -o "$src/mz_$f.o"
    objs+=("$src/mz_$f.o")
  done
  x86_64-w64-mingw32-ar rcs "$MINGW_DEPS/lib/libminizip.a" "${objs[@]}"
  cp "$mz"/unzip.h "$mz"/zip.h "$mz"/ioapi.h "$mz"/iowin32.h "$MINGW_DEPS/include/minizip/"

  # Position-independent, so that every native build (PIE, either sanitizer, Release) links it.
  log "building minizip for the native build"
  objs=()
  for f in unzip zip ioapi; do
    gcc -O2 -g -fPIC -I"$zdir" -c "$mz/$f.c" -o "$src/native_$f.o"
    objs+=("$src/native_$f.o")
  done
  ar rcs "$native_deps/lib/libminizip.a" "${objs[@]}"
  cp "$mz"/unzip.h "$mz"/zip.h "$mz"/ioapi.h "$native_deps/include/minizip/"

  log "building libcurl (static, Schannel) for mingw-w64 from $(basename "$cdir"), a few minutes"
  (cd "$cdir" \
    && ./configure -q --host=x86_64-w64-mingw32 --prefix="$MINGW_DEPS" \
         CC=x86_64-w64-mingw32-gcc-posix \
         --with-schannel --with-zlib=/usr/x86_64-w64-mingw32 \
         --enable-static --disable-shared --without-libpsl --without-brotli --without-zstd \
         --without-libidn2 --without-nghttp2 --disable-ldap --disable-ldaps \
         --disable-manual >/dev/null \
    && make -s -j"$(nproc)" -C lib >/dev/null \
    && make -s -C lib install >/dev/null && make -s -C include install >/dev/null)
  rm -rf "$src"
  echo "$stamp" > "$MINGW_DEPS/stamp"
fi

# Signatures (libsodium: Ed25519) and the bulk SHA-256 of signed releases (nettle: its "fat"
# build picks the processor's SHA instructions at run time, about five times libsodium's portable
# SHA-256) for mingw-w64, in a folder of their own so that the libcurl cache above stays.
sodium_version=$(dpkg-query -W -f='${Version}' libsodium-dev)
nettle_version=$(dpkg-query -W -f='${Version}' nettle-dev)
crypto_recipe=1
crypto_stamp="libsodium=$sodium_version nettle=$nettle_version recipe=$crypto_recipe"
if cache_current "$MINGW_CRYPTO/stamp" "$crypto_stamp" "$MINGW_CRYPTO/lib/libsodium.a" "$MINGW_CRYPTO/lib/libnettle.a"; then
  log "mingw libsodium and nettle present ($crypto_stamp)"
else
  ensure_deb_src
  src="$VOREL_CACHE/crypto-src"
  rm -rf "$src" "$MINGW_CRYPTO"
  mkdir -p "$src" "$MINGW_CRYPTO/lib" "$MINGW_CRYPTO/include/nettle"
  (cd "$src" && apt-get source -qq "libsodium=$sodium_version" "nettle=$nettle_version" >/dev/null 2>&1 \
     || apt-get source -qq libsodium nettle >/dev/null)
  sdir=$(find "$src" -maxdepth 1 -type d -name 'libsodium-*' | head -n 1)
  ndir=$(find "$src" -maxdepth 1 -type d -name 'nettle-*' | head -n 1)

  log "building nettle (static, fat) for mingw-w64 from $(basename "$ndir")"
  # Only the library is built: its install targets would regenerate the configure script.
  (cd "$ndir" \
    && ./configure -q --host=x86_64-w64-mingw32 --prefix="$MINGW_CRYPTO" CC=x86_64-w64-mingw32-gcc-posix \
         --enable-fat --disable-public-key --disable-shared --disable-documentation --disable-openssl >/dev/null \
    && make -s -j"$(nproc)" libnettle.a >/dev/null)
  cp "$ndir/libnettle.a" "$MINGW_CRYPTO/lib/"
  cp "$ndir"/*.h "$MINGW_CRYPTO/include/nettle/"

  log "building libsodium (static) for mingw-w64 from $(basename "$sdir"), about two minutes"
  # Debian's source package carries no generated configure script.
  (cd "$sdir" && autoreconf -fi >/dev/null 2>&1 \
    && ./configure -q --host=x86_64-w64-mingw32 --prefix="$MINGW_CRYPTO" CC=x86_64-w64-mingw32-gcc-posix \
         --disable-shared --enable-static --enable-minimal --disable-dependency-tracking >/dev/null \
    && make -s -j"$(nproc)" >/dev/null 2>&1 && make -s install >/dev/null)
  rm -rf "$src"
  echo "$crypto_stamp" > "$MINGW_CRYPTO/stamp"
fi

# libzstd for mingw-w64 (the streams of binary patches), static and complete (the Windows tests
# compress their hand-made patches with it), in a folder of its own like the crypto libraries.
# Its few dozen C files are compiled directly: the library's makefile decides its flags from the
# build machine, not the target.
zstd_version=$(dpkg-query -W -f='${Version}' libzstd-dev)
zstd_recipe=1
zstd_stamp="libzstd=$zstd_version recipe=$zstd_recipe"
if cache_current "$MINGW_ZSTD/stamp" "$zstd_stamp" "$MINGW_ZSTD/lib/libzstd.a" "$MINGW_ZSTD/include/zstd.h"; then
  log "mingw libzstd present ($zstd_stamp)"
else
  ensure_deb_src
  src="$VOREL_CACHE/zstd-src"
  rm -rf "$src" "$MINGW_ZSTD"
  mkdir -p "$src/obj" "$MINGW_ZSTD/lib" "$MINGW_ZSTD/include"
  (cd "$src" && fetch_source libzstd "$zstd_version")
  zsdir=$(find "$src" -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
  [ -n "$zsdir" ] || { log "the libzstd source package could not be fetched"; exit 1; }
  log "building libzstd (static) for mingw-w64 from $(basename "$zsdir")"
  # No assembly (its decoder loop is written for the System V calling convention), and the
  # xxhash symbols in the library's own namespace, as its makefile has them.
  find "$zsdir/lib/common" "$zsdir/lib/compress" "$zsdir/lib/decompress" -maxdepth 1 -name '*.c' -print0 |
    xargs -0 -P "$(nproc)" -I{} sh -c 'x86_64-w64-mingw32-gcc-posix -O2 -DZSTD_DISABLE_ASM \
      -DXXH_NAMESPACE=ZSTD_ -DDEBUGLEVEL=0 -c "$1" -o "$2/obj/$(basename "$1" .c).o"' sh {} "$src"
  x86_64-w64-mingw32-ar rcs "$MINGW_ZSTD/lib/libzstd.a" "$src"/obj/*.o
  cp "$zsdir"/lib/zstd.h "$zsdir"/lib/zstd_errors.h "$zsdir"/lib/zdict.h "$MINGW_ZSTD/include/"
  rm -rf "$src"
  echo "$zstd_stamp" > "$MINGW_ZSTD/stamp"
fi

# libdivsufsort for mingw-w64 (the suffix sort of the patch maker, so that vorel-publish.exe makes
# patches too), static, into the same folder; its own CMake build, told the target.
dss_version=$(dpkg-query -W -f='${Version}' libdivsufsort-dev)
dss_stamp="libdivsufsort=$dss_version recipe=1"
if cache_current "$MINGW_ZSTD/stamp-divsufsort" "$dss_stamp" "$MINGW_ZSTD/lib/libdivsufsort.a"; then
  log "mingw libdivsufsort present ($dss_stamp)"
else
  ensure_deb_src
  src="$VOREL_CACHE/divsufsort-src"
  rm -rf "$src"
  mkdir -p "$src" "$MINGW_ZSTD/lib" "$MINGW_ZSTD/include"
  (cd "$src" && fetch_source libdivsufsort "$dss_version")
  dsdir=$(find "$src" -maxdepth 1 -type d -name 'libdivsufsort-*' | head -n 1)
  [ -n "$dsdir" ] || { log "the libdivsufsort source package could not be fetched"; exit 1; }
  log "building libdivsufsort (static) for mingw-w64 from $(basename "$dsdir")"
  cmake -S "$dsdir" -B "$src/build" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=x86_64-w64-mingw32-gcc-posix \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_EXAMPLES=OFF -DUSE_OPENMP=OFF \
    -Wno-dev >/dev/null 2>&1
  cmake --build "$src/build" -j "$(nproc)" >/dev/null
  cp "$src/build/lib/libdivsufsort.a" "$MINGW_ZSTD/lib/"
  cp "$src/build/include/divsufsort.h" "$MINGW_ZSTD/include/"
  rm -rf "$src"
  echo "$dss_stamp" > "$MINGW_ZSTD/stamp-divsufsort"
fi

# --- 3. Wine prefix ------------------------------------------------------------------------------
# Wine has neither the skin's font nor the generic sans-serif family of GDI+ ("Microsoft Sans
# Serif"); both are mapped to DejaVu Sans, which has every Vietnamese letter. Bump prefix_recipe
# when the prefix's preparation changes.
prefix_recipe=2
if [ -f "$WINEPREFIX/.vorel-ready" ] && [ "$(cat "$WINEPREFIX/.vorel-ready")" = "$prefix_recipe" ]; then
  log "Wine prefix present ($WINEPREFIX)"
else
  log "preparing Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
  for family in 'Microsoft YaHei' '微软雅黑' 'Microsoft Sans Serif'; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$family" /t REG_SZ /d 'DejaVu Sans' /f >/dev/null 2>&1
  done
  wineserver -w
  echo "$prefix_recipe" > "$WINEPREFIX/.vorel-ready"
fi
log "ready"

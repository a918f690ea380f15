#!/usr/bin/env bash
# Installs what building and testing Kelvora needs on Debian 12, then builds
# libjpeg-turbo and libpng for i686 Windows into .deps/ (once).
# A second run finds everything in place and prints nothing.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
prefix="$root/.deps/i686"
stamp="$prefix/.built-v1"

SUDO=
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
fi

log() { echo "setup: $*" >&2; }

packages=(
    wine wine32:i386
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
    mingw-w64-i686-dev libz-mingw-w64-dev
    cmake ninja-build nasm make pkg-config dpkg-dev file
    xvfb x11-utils x11-apps xauth
    ffmpeg python3
    g++ clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev
    zlib1g-dev libjpeg62-turbo-dev libpng-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
    case "$status" in
        ii*) ;;
        *) missing+=("$p") ;;
    esac
done

src_list=/etc/apt/sources.list.d/kelvora-src.sources
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "enabling i386 multiarch"
    $SUDO dpkg --add-architecture i386
    need_update=1
fi
if [ ! -f "$src_list" ]; then
    log "adding deb-src entries"
    $SUDO tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    need_update=1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
    log "apt-get update"
    $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

[ -f "$stamp" ] && exit 0

# --- libjpeg-turbo and libpng for i686-w64-mingw32, static, from Debian's sources ---
work="$root/.deps/src"
rm -rf "$work"
mkdir -p "$work" "$prefix"

# Fetches a source package; when the newest version is missing from the
# archive, falls back to the older versions apt knows of (main's pool).
fetch_source() {
    local pkg=$1 dir=$2 v
    mkdir -p "$dir"
    if (cd "$dir" && apt-get source -qq "$pkg" >/dev/null 2>&1); then
        return 0
    fi
    for v in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -u -r -V); do
        log "newest $pkg source unavailable, trying $v"
        rm -rf "${dir:?}"/*
        if (cd "$dir" && apt-get source -qq "$pkg=$v" >/dev/null 2>&1); then
            return 0
        fi
    done
    log "cannot fetch the source of $pkg"
    return 1
}

toolchain="$root/cmake/toolchain-i686-mingw.cmake"
mingw_sys=/usr/i686-w64-mingw32

log "building libjpeg-turbo (i686, SIMD)"
fetch_source libjpeg-turbo "$work/jpeg"
jsrc=$(find "$work/jpeg" -mindepth 1 -maxdepth 1 -type d | head -n 1)
cmake -S "$jsrc" -B "$work/jpeg-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DREQUIRE_SIMD=ON \
    -DCMAKE_ASM_NASM_COMPILER=nasm >"$work/jpeg.log" 2>&1 \
    || { tail -n 30 "$work/jpeg.log"; exit 1; }
cmake --build "$work/jpeg-build" --target install >>"$work/jpeg.log" 2>&1 \
    || { tail -n 30 "$work/jpeg.log"; exit 1; }

log "building libpng (i686)"
fetch_source libpng1.6 "$work/png"
psrc=$(find "$work/png" -mindepth 1 -maxdepth 1 -type d | head -n 1)
cmake -S "$psrc" -B "$work/png-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
    -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
    -DZLIB_INCLUDE_DIR="$mingw_sys/include" -DZLIB_LIBRARY="$mingw_sys/lib/libz.a" \
    >"$work/png.log" 2>&1 || { tail -n 30 "$work/png.log"; exit 1; }
cmake --build "$work/png-build" --target install >>"$work/png.log" 2>&1 \
    || { tail -n 30 "$work/png.log"; exit 1; }

rm -rf "$work"
touch "$stamp"
log "dependencies ready in $prefix"

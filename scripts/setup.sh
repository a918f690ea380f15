#!/usr/bin/env bash
# Installs what building and testing Kelvora needs on Debian 12, then builds
# libjpeg-turbo and libpng for i686 and x86_64 Windows into .deps/ (once).
# Says in one line which Windows build this machine runs; a second run finds
# everything else in place and prints nothing more.
set -euo pipefail
source "$(dirname "$0")/env.sh"

root=$KELVORA_ROOT

SUDO=
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
fi

log() { echo "setup: $*" >&2; }

log "$(kelvora_wine_summary)"

packages=(
    wine wine64
    gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    mingw-w64-x86-64-dev libz-mingw-w64-dev
    cmake ninja-build nasm make pkg-config dpkg-dev file
    xvfb x11-utils x11-apps xauth
    pulseaudio pulseaudio-utils
    ffmpeg python3 procps
    g++ clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev
    zlib1g-dev libjpeg62-turbo-dev libpng-dev
)
# 32-bit Wine only where the kernel can run it: elsewhere it is dead weight,
# and the i386 multiarch it needs is not wanted either.
want_i386=0
if kelvora_kernel_runs_32bit; then
    want_i386=1
    packages+=(wine32:i386)
fi

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
if [ $want_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
apt_log="${TMPDIR:-/tmp}/kelvora-apt.log"
if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
    log "apt-get update"
    if ! $SUDO apt-get update -qq >"$apt_log" 2>&1; then
        tail -n 15 "$apt_log" >&2
        log "apt-get update failed: check the network and Debian's mirrors (full log: $apt_log)"
        exit 1
    fi
fi
if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$apt_log" 2>&1; then
        tail -n 15 "$apt_log" >&2
        log "apt-get install failed (full log: $apt_log); run this script as root or with sudo"
        exit 1
    fi
fi

# --- libjpeg-turbo and libpng for MinGW-w64, static, from Debian's sources ---

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
    log "cannot fetch the source of $pkg: are the deb-src entries in $src_list reachable?"
    return 1
}

# Runs a build step with its output in a log; on failure shows the log's end.
build_step() {
    local what=$1 logfile=$2
    shift 2
    if ! "$@" >>"$logfile" 2>&1; then
        tail -n 30 "$logfile" >&2
        log "$what failed (full log: $logfile)"
        exit 1
    fi
}

# build_deps <processor>: i686 or x86_64.
build_deps() {
    local arch=$1
    local prefix="$root/.deps/$arch"
    local stamp="$prefix/.built-v1"
    local toolchain="$root/cmake/toolchain-$arch-mingw.cmake"
    local mingw_sys="/usr/$arch-w64-mingw32"
    local work="$root/.deps/src-$arch"
    [ -f "$stamp" ] && return 0
    rm -rf "$work"
    mkdir -p "$work" "$prefix"

    log "building libjpeg-turbo ($arch, SIMD)"
    fetch_source libjpeg-turbo "$work/jpeg"
    local jsrc psrc
    jsrc=$(find "$work/jpeg" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    build_step "configuring libjpeg-turbo ($arch)" "$work/jpeg.log" \
        cmake -S "$jsrc" -B "$work/jpeg-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DREQUIRE_SIMD=ON \
        -DCMAKE_ASM_NASM_COMPILER=nasm
    build_step "building libjpeg-turbo ($arch)" "$work/jpeg.log" \
        cmake --build "$work/jpeg-build" --target install

    log "building libpng ($arch)"
    fetch_source libpng1.6 "$work/png"
    psrc=$(find "$work/png" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    build_step "configuring libpng ($arch)" "$work/png.log" \
        cmake -S "$psrc" -B "$work/png-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF -DPNG_STATIC=ON \
        -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON \
        -DZLIB_INCLUDE_DIR="$mingw_sys/include" -DZLIB_LIBRARY="$mingw_sys/lib/libz.a"
    build_step "building libpng ($arch)" "$work/png.log" \
        cmake --build "$work/png-build" --target install

    rm -rf "$work"
    touch "$stamp"
    log "dependencies ready in $prefix"
}

# The earlier layout kept the i686 work folder here.
rm -rf "$root/.deps/src"
build_deps i686
build_deps x86_64

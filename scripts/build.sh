#!/usr/bin/env bash
# Configures (when needed) and builds the three trees: build/win (i686, the
# product), build/w64 (the same sources for x86_64) and build/host. Both
# Windows trees are built on every machine, so that neither rots; the tests
# run the one this machine's Wine can start.
set -euo pipefail
source "$(dirname "$0")/env.sh"

jobs=${KELVORA_JOBS:-$(nproc)}

# configure <tree> [cmake arguments...]
configure() {
    local tree=$1
    shift
    [ -f "$tree/build.ninja" ] && return 0
    if ! cmake -S "$KELVORA_ROOT" -B "$tree" -G Ninja "$@" >"$KELVORA_BUILD/configure.log" 2>&1; then
        tail -n 30 "$KELVORA_BUILD/configure.log" >&2
        echo "build: configuring $tree failed; run scripts/setup.sh first if anything is missing" >&2
        exit 1
    fi
}

mkdir -p "$KELVORA_BUILD"
configure "$KELVORA_I686_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KELVORA_ROOT/cmake/toolchain-i686-mingw.cmake"
configure "$KELVORA_X64_BUILD" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$KELVORA_ROOT/cmake/toolchain-x86_64-mingw.cmake"
configure "$KELVORA_HOST_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The tree that runs here first, so that a failure there shows soonest.
if [ "$KELVORA_WIN_BUILD" = "$KELVORA_I686_BUILD" ]; then
    other=$KELVORA_X64_BUILD
else
    other=$KELVORA_I686_BUILD
fi
for tree in "$KELVORA_WIN_BUILD" "$KELVORA_HOST_BUILD" "$other"; do
    if ! cmake --build "$tree" -j "$jobs"; then
        echo "build: building $tree failed (the compiler's messages are above)" >&2
        exit 1
    fi
done

# One ctest tree over the host tree and the Windows tree that runs here, so
# that one run ends with one summary.
cat >"$KELVORA_BUILD/CTestTestfile.cmake" <<CT
subdirs("host" "$(basename "$KELVORA_WIN_BUILD")")
CT

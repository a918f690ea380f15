#!/usr/bin/env bash
# Configures (when needed) and builds both trees: build/win and build/host.
set -euo pipefail
source "$(dirname "$0")/env.sh"

jobs=${KELVORA_JOBS:-$(nproc)}

if [ ! -f "$KELVORA_WIN_BUILD/build.ninja" ]; then
    cmake -S "$KELVORA_ROOT" -B "$KELVORA_WIN_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KELVORA_ROOT/cmake/toolchain-i686-mingw.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
if [ ! -f "$KELVORA_HOST_BUILD/build.ninja" ]; then
    cmake -S "$KELVORA_ROOT" -B "$KELVORA_HOST_BUILD" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$KELVORA_WIN_BUILD" -j "$jobs"
cmake --build "$KELVORA_HOST_BUILD" -j "$jobs"

# One ctest tree over both builds, so that one run ends with one summary.
cat >"$KELVORA_BUILD/CTestTestfile.cmake" <<CT
subdirs("host" "win")
CT

#!/usr/bin/env bash
# Runs every test: set-up, build, then both trees' tests in one ctest run on a
# private X display with a private Wine prefix. Exits non-zero on any failure.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"

cleanup() {
    stop_wine
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
start_wine

cd "$KELVORA_BUILD"
ctest --output-on-failure --timeout 1500 -j "${KELVORA_TEST_JOBS:-2}" "$@"

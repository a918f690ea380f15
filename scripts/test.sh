#!/usr/bin/env bash
# Runs every test: set-up, build, then the host tree's and the runnable
# Windows tree's tests in one ctest run on a private X display with a private
# Wine prefix and a private sound server. Exits non-zero on any failure. Arguments go to ctest.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"

cleanup() {
    stop_wine
    stop_pulse
    stop_xvfb
}
trap cleanup EXIT
start_xvfb
# Before Wine, so that its sound goes to the private server from the start.
start_pulse
start_wine

# The host tree's checks read what the Windows tests left here.
export KELVORA_WIN_TEST_OUT="$KELVORA_WIN_BUILD/test-out"

cd "$KELVORA_BUILD"
status=0
ctest --output-on-failure --timeout 1500 -j "${KELVORA_TEST_JOBS:-2}" "$@" || status=$?
echo "test: $(kelvora_wine_summary)"
if [ $status -ne 0 ]; then
    echo "test: failed (ctest exit $status); the failing tests' output is above, their files under $KELVORA_BUILD/*/test-out" >&2
fi
exit $status

#!/usr/bin/env bash
# ctest's emulator for the Windows tree: runs a Windows program under Wine with
# the project's prefix. DISPLAY must name a running X server.
source "$(dirname "$0")/env.sh"

# Once in many runs, beside other tests, the loader has failed within 0.1 s
# without a word: the program never started. Such a start is tried once more,
# and said so; a program that ran and failed prints its own output.
out=$(mktemp "${TMPDIR:-/tmp}/kelvora-wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
started=$SECONDS
"$KELVORA_WINE_LOADER" "$@" | tee "$out"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] && [ ! -s "$out" ] && [ $((SECONDS - started)) -lt 5 ]; then
    echo "wine-run: $1 exited with status $status before printing anything; starting it again" >&2
    "$KELVORA_WINE_LOADER" "$@"
    status=$?
fi
exit "$status"

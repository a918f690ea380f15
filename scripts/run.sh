#!/usr/bin/env bash
# Builds Kelvora.exe and starts it under Wine, on $DISPLAY or, when there is
# none, on a virtual display started for it.
set -euo pipefail
here=$(dirname "$0")
"$here/setup.sh"
"$here/build.sh"
source "$here/env.sh"

if [ -z "${DISPLAY:-}" ]; then
    trap stop_xvfb EXIT
    start_xvfb
    echo "run: no DISPLAY, started a virtual display $DISPLAY" >&2
fi
start_wine
cd "$KELVORA_WIN_BUILD/shell"
wine ./Kelvora.exe "$@"

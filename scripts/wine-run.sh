#!/usr/bin/env bash
# ctest's emulator for the Windows tree: runs a Windows program under Wine with
# the project's prefix. DISPLAY must name a running X server.
source "$(dirname "$0")/env.sh"
exec "$KELVORA_WINE_LOADER" "$@"

# Shared by the build, test and run scripts: paths, the Wine prefix and the
# private X display. Source it; it defines functions and variables only.

KELVORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVORA_BUILD=${KELVORA_BUILD:-$KELVORA_ROOT/build}
KELVORA_HOST_BUILD=$KELVORA_BUILD/host
KELVORA_WIN_BUILD=$KELVORA_BUILD/win

# Wine: a private 32-bit prefix under the build folder, no Mono/Gecko prompts.
export WINEPREFIX=${WINEPREFIX:-$KELVORA_BUILD/wineprefix}
export WINEARCH=win32
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG:--all}

kelvora_xvfb_pid=

# Starts a private Xvfb and exports DISPLAY. The display number comes from
# Xvfb itself (-displayfd), so parallel runs never collide.
start_xvfb() {
    local fifo dpy
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/kelvora-xvfb.XXXXXX")
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    kelvora_xvfb_pid=$!
    if ! read -r -t 20 dpy <"$fifo"; then
        rm -f "$fifo"
        echo "Xvfb did not start" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=":$dpy"
}

stop_xvfb() {
    if [ -n "$kelvora_xvfb_pid" ]; then
        kill "$kelvora_xvfb_pid" 2>/dev/null || true
        wait "$kelvora_xvfb_pid" 2>/dev/null || true
        kelvora_xvfb_pid=
    fi
}

# Creates the Wine prefix once (about 15 s), then keeps a wineserver running
# so that each test program starts in well under a second.
start_wine() {
    if [ ! -f "$WINEPREFIX/.kelvora-ready" ]; then
        echo "wine: creating the prefix in $WINEPREFIX" >&2
        mkdir -p "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1
        wineserver -w
        touch "$WINEPREFIX/.kelvora-ready"
    fi
    wineserver -p >/dev/null 2>&1
    # The first program of a session starts Wine's services, which live on;
    # start them here, detached from the caller's output, or ctest would wait
    # for them to close the pipes they inherited.
    wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
}

# Shared by the set-up, build, test, run and benchmark scripts: paths, which
# Windows build this machine runs, the Wine prefix and the private X display.
# Source it; it defines functions and variables only.
#
# Two kinds of machine are in use. Where the kernel runs 32-bit Linux
# programs, Debian's 32-bit Wine runs the i686 tree (build/win, the product).
# Where it refuses them ("Exec format error"), only 64-bit Wine starts, and the
# same sources built for x86_64 (build/w64) are what runs. KELVORA_WINE_BITS=64
# forces the 64-bit path on a machine that could run either.

KELVORA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KELVORA_BUILD=${KELVORA_BUILD:-$KELVORA_ROOT/build}
KELVORA_HOST_BUILD=$KELVORA_BUILD/host
KELVORA_I686_BUILD=$KELVORA_BUILD/win
KELVORA_X64_BUILD=$KELVORA_BUILD/w64

# Every script stops at its first failure; say which command failed, so that
# no run ends without a reason.
set -E
trap 'kelvora_failed $? "$BASH_COMMAND" "${BASH_SOURCE[0]}" "$LINENO"' ERR
kelvora_failed() {
    echo "$(basename "$3"):$4: failed (exit $1): $2" >&2
}

# quietly <what> <command...>: the command's output goes to a log under the
# build folder; on failure the log's end is shown with what failed.
quietly() {
    local what=$1 logfile
    shift
    mkdir -p "$KELVORA_BUILD"
    logfile="$KELVORA_BUILD/$(echo "$what" | tr -c 'A-Za-z0-9\n' '-').log"
    if ! "$@" >"$logfile" 2>&1; then
        tail -n 40 "$logfile" >&2
        echo "$what failed (full log: $logfile)" >&2
        return 1
    fi
}

# Runs a hand-made 93-byte i386 ELF program that only exits: it needs no
# 32-bit library, so it tells whether the kernel itself runs 32-bit programs.
kelvora_kernel_runs_32bit() {
    local probe status
    probe=$(mktemp "${TMPDIR:-/tmp}/kelvora-i386.XXXXXX")
    # ELF header, one PT_LOAD program header, then: mov eax,1; xor ebx,ebx; int 0x80.
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
    printf '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' >>"$probe"
    printf '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00' >>"$probe"
    printf '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >>"$probe"
    chmod +x "$probe"
    status=0
    "$probe" 2>/dev/null || status=$?
    rm -f "$probe"
    return "$status"
}

if [ -z "${KELVORA_WINE_BITS:-}" ]; then
    if kelvora_kernel_runs_32bit; then
        KELVORA_WINE_BITS=32
    else
        KELVORA_WINE_BITS=64
        KELVORA_WINE_BITS_WHY="this machine cannot run 32-bit programs"
    fi
elif [ "$KELVORA_WINE_BITS" = 64 ]; then
    KELVORA_WINE_BITS_WHY="KELVORA_WINE_BITS=64 asked for it"
elif [ "$KELVORA_WINE_BITS" != 32 ]; then
    echo "KELVORA_WINE_BITS must be 32 or 64, not '$KELVORA_WINE_BITS'" >&2
    return 1
elif ! kelvora_kernel_runs_32bit; then
    echo "KELVORA_WINE_BITS=32: this machine cannot run 32-bit programs; unset it for the 64-bit build" >&2
    return 1
fi
export KELVORA_WINE_BITS KELVORA_WINE_BITS_WHY

if [ "$KELVORA_WINE_BITS" = 32 ]; then
    # The Windows tree that the tests and the run command use.
    KELVORA_WIN_BUILD=$KELVORA_I686_BUILD
    export WINEPREFIX=${WINEPREFIX:-$KELVORA_BUILD/wineprefix}
    export WINEARCH=win32
    # Debian's own choice of loader (wine32) and server.
    KELVORA_WINE_LOADER=/usr/bin/wine
    wineserver() { command wineserver "$@"; }
else
    KELVORA_WIN_BUILD=$KELVORA_X64_BUILD
    export WINEPREFIX=${WINEPREFIX:-$KELVORA_BUILD/wineprefix64}
    export WINEARCH=win64
    # Debian's wine script prefers wine32 whenever it is installed, even where
    # it cannot start: name the 64-bit loader and server directly.
    export WINELOADER=/usr/lib/wine/wine64
    export WINESERVER=/usr/lib/wine/wineserver64
    KELVORA_WINE_LOADER=$WINELOADER
    wineserver() { "$WINESERVER" "$@"; }
fi
# Scripts that need the loader itself (exec) use $KELVORA_WINE_LOADER.
wine() { "$KELVORA_WINE_LOADER" "$@"; }
winepath() { wine winepath.exe "$@"; }
wineboot() { wine wineboot.exe "$@"; }
export -f wine wineserver winepath wineboot
export KELVORA_WIN_BUILD KELVORA_WINE_LOADER
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG:--all}

# One line on which Windows build runs here and why.
kelvora_wine_summary() {
    if [ "$KELVORA_WINE_BITS" = 32 ]; then
        echo "Windows programs: 32-bit builds ($KELVORA_WIN_BUILD) under 32-bit Wine"
    else
        echo "Windows programs: 64-bit builds ($KELVORA_WIN_BUILD) under 64-bit Wine, because $KELVORA_WINE_BITS_WHY"
    fi
}

kelvora_xvfb_pid=

# Starts a private Xvfb and exports DISPLAY. The display number comes from
# Xvfb itself (-displayfd), so parallel runs never collide.
start_xvfb() {
    local fifo dpy
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/kelvora-xvfb.XXXXXX")
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${KELVORA_XVFB_SCREEN:-1920x1080x24}" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    kelvora_xvfb_pid=$!
    if ! read -r -t 20 dpy <"$fifo"; then
        rm -f "$fifo"
        echo "Xvfb did not start within 20 s (is the package xvfb installed? run scripts/setup.sh)" >&2
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

kelvora_pulse_pid=
kelvora_pulse_keeper_pid=
kelvora_pulse_dir=

# Starts a private PulseAudio whose one sink is a null sink and whose default
# input is that sink's monitor, so that what a test plays comes back as
# recorded sound; exports PULSE_SERVER (Wine's sound and paplay find it
# there) and KELVORA_TEST_SOUND. Its socket, runtime folder and home are in a
# folder of its own, it loads no hardware modules and stays off D-Bus, so a
# user's own sound server is not touched.
start_pulse() {
    local dir i
    dir=$(mktemp -d "${TMPDIR:-/tmp}/kelvora-pulse.XXXXXX")
    mkdir -p "$dir/home"
    kelvora_pulse_dir=$dir
    env -u DISPLAY -u WAYLAND_DISPLAY HOME="$dir/home" XDG_RUNTIME_DIR="$dir" \
        XDG_CONFIG_HOME="$dir/home/.config" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
        pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
        --realtime=no --high-priority=no \
        --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        --load="module-null-sink sink_name=kelvora_null rate=44100 channels=2" \
        >"$dir/pulse.log" 2>&1 &
    kelvora_pulse_pid=$!
    export PULSE_SERVER="unix:$dir/native"
    for i in $(seq 50); do
        if pactl info >/dev/null 2>&1; then
            break
        fi
        sleep 0.2
    done
    if ! pactl set-default-source kelvora_null.monitor >/dev/null 2>&1; then
        echo "pulseaudio did not start (is the package pulseaudio installed? run scripts/setup.sh); it said:" >&2
        tail -n 15 "$dir/pulse.log" | sed 's/^/  /' >&2
        stop_pulse
        return 1
    fi
    pactl set-default-sink kelvora_null >/dev/null
    # An idle null sink renders in blocks of up to 2 s. A recording that
    # connects to its monitor meanwhile gets its first sound in one late
    # burst, which Wine's capture buffer then keeps as a lasting delay of up
    # to about 130 ms, different in every run. A sound card's input has no
    # such start; a stream of silence keeps the sink at 10 ms blocks (a
    # shorter latency asked for here costs the server more wake-ups).
    pacat --playback --raw --latency-msec=40 --device=kelvora_null /dev/zero >/dev/null 2>&1 &
    kelvora_pulse_keeper_pid=$!
    export KELVORA_TEST_SOUND=1
}

stop_pulse() {
    if [ -n "$kelvora_pulse_keeper_pid" ]; then
        kill "$kelvora_pulse_keeper_pid" 2>/dev/null || true
        wait "$kelvora_pulse_keeper_pid" 2>/dev/null || true
        kelvora_pulse_keeper_pid=
    fi
    if [ -n "$kelvora_pulse_pid" ]; then
        kill "$kelvora_pulse_pid" 2>/dev/null || true
        wait "$kelvora_pulse_pid" 2>/dev/null || true
        kelvora_pulse_pid=
    fi
    if [ -n "$kelvora_pulse_dir" ]; then
        rm -rf "$kelvora_pulse_dir"
        kelvora_pulse_dir=
    fi
    unset PULSE_SERVER KELVORA_TEST_SOUND
}

# Creates the Wine prefix once (about 15 s), then keeps a wineserver running
# so that each test program starts in well under a second.
start_wine() {
    local log="$KELVORA_BUILD/wine-start.log"
    mkdir -p "$KELVORA_BUILD"
    if [ ! -f "$WINEPREFIX/.kelvora-ready" ]; then
        echo "wine: creating the prefix in $WINEPREFIX ($WINEARCH)" >&2
        mkdir -p "$WINEPREFIX"
        if ! wineboot -i >"$log" 2>&1 || ! wineserver -w >>"$log" 2>&1; then
            echo "wine: cannot create the prefix in $WINEPREFIX; Wine said:" >&2
            tail -n 15 "$log" | sed 's/^/  /' >&2
            echo "wine: run scripts/setup.sh to install Wine; $(kelvora_wine_summary)" >&2
            return 1
        fi
        touch "$WINEPREFIX/.kelvora-ready"
    fi
    wineserver -p >/dev/null 2>&1
    # Our virtual display has no window manager, and Wine would wait up to
    # 2 s for one each time a captioned window (a message box, its tray)
    # hides: there Wine places its windows itself. A user's display keeps
    # its window manager.
    local managed=Y
    if [ -n "$kelvora_xvfb_pid" ]; then
        managed=N
    fi
    # The first program of a session starts Wine's services, which live on;
    # start them here, detached from the caller's output, or ctest would wait
    # for them to close the pipes they inherited.
    if ! wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d "$managed" /f \
        </dev/null >"$log" 2>&1; then
        echo "wine: cannot start a program in $WINEPREFIX; Wine said:" >&2
        tail -n 15 "$log" | sed 's/^/  /' >&2
        echo "wine: $(kelvora_wine_summary)" >&2
        return 1
    fi
}

stop_wine() {
    wineserver -k >/dev/null 2>&1 || true
}

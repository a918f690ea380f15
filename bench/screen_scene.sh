# Screen content for the benchmarks, on the X display named by $DISPLAY:
# terminals scrolling text, a clock and a window drifting across the screen.
# Source it; start_screen_scene starts it, stop_screen_scene ends it.

screen_scene_pids=()
screen_scene_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

start_screen_scene() {
    local need=() p
    for p in xterm xdotool x11-apps x11-xserver-utils; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || need+=("$p")
    done
    if [ ${#need[@]} -gt 0 ]; then
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
    xsetroot -solid '#3a6ea5'
    # Each window's text comes from one long-lived process: a loop that forks
    # a few programs per line spends most of the processor on forks.
    local text
    text="find /usr/share/doc /usr/include -type f | perl $(printf %q "$screen_scene_dir/scene_text.pl")"
    xterm -geometry 110x40+20+20 -fa Monospace -fs 10 -bg white -fg black -e bash -c "$text" 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 90x30+980+40 -bg '#202020' -fg '#d0d0d0' -e bash -c 'list=$(ls -l --color=always /usr/bin | head -60); while true; do date; printf "%s\n" "$list"; sleep 0.3; done' 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 100x20+900+600 -bg '#fdf6e3' -fg '#586e75' -e bash -c "$text" 2>/dev/null &
    screen_scene_pids+=($!)
    xclock -update 1 -geometry 260x260+620+700 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 40x12+100+700 -bg '#004000' -fg '#80ff80' -title mover -e bash -c "top -d 0.5" 2>/dev/null &
    screen_scene_pids+=($!)
    sleep 2
    ( wid=$(xdotool search --sync --name mover | head -n 1)
      # One xdotool per pass across the screen, not one per step.
      steps=()
      for ((x = 100; x < 1400; x += 17)); do
          steps+=(windowmove "$wid" "$x" 700 sleep 0.05)
      done
      while true; do
          xdotool "${steps[@]}" 2>/dev/null || sleep 1
      done ) &
    screen_scene_pids+=($!)
    sleep 1
}

stop_screen_scene() {
    local p
    for p in "${screen_scene_pids[@]}"; do
        # The mover's xdotool runs for seconds: it goes with its loop.
        local children
        children=$(pgrep -P "$p" || true)
        kill "$p" $children 2>/dev/null || true
    done
    screen_scene_pids=()
}

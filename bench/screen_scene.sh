# Screen content for the benchmarks, on the X display named by $DISPLAY:
# terminals scrolling text, a clock and a window drifting across the screen.
# Source it; start_screen_scene starts it, stop_screen_scene ends it.

screen_scene_pids=()

start_screen_scene() {
    local need=() p
    for p in xterm xdotool x11-apps x11-xserver-utils; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || need+=("$p")
    done
    if [ ${#need[@]} -gt 0 ]; then
        apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    fi
    xsetroot -solid '#3a6ea5'
    local text='find /usr/share/doc /usr/include -type f | while read -r f; do echo "$f"; head -c 300 "$f" | tr -c "[:print:]\n" .; sleep 0.02; done'
    xterm -geometry 110x40+20+20 -fa Monospace -fs 10 -bg white -fg black -e bash -c "$text" 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 90x30+980+40 -bg '#202020' -fg '#d0d0d0' -e bash -c "while true; do date; ls -l --color=always /usr/bin | head -60; sleep 0.3; done" 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 100x20+900+600 -bg '#fdf6e3' -fg '#586e75' -e bash -c "$text" 2>/dev/null &
    screen_scene_pids+=($!)
    xclock -update 1 -geometry 260x260+620+700 2>/dev/null &
    screen_scene_pids+=($!)
    xterm -geometry 40x12+100+700 -bg '#004000' -fg '#80ff80' -title mover -e bash -c "top -d 0.5" 2>/dev/null &
    screen_scene_pids+=($!)
    sleep 2
    ( wid=$(xdotool search --sync --name mover | head -n 1)
      x=100
      while true; do
          xdotool windowmove "$wid" "$x" 700 2>/dev/null || true
          x=$(( (x + 17) % 1400 ))
          sleep 0.05
      done ) &
    screen_scene_pids+=($!)
    sleep 1
}

stop_screen_scene() {
    local p
    for p in "${screen_scene_pids[@]}"; do
        kill "$p" 2>/dev/null || true
    done
    screen_scene_pids=()
}

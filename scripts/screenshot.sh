#!/usr/bin/env bash
# Takes the README's pictures of the operator window: docs/screenshot.png with eight users
# online (long MACs and addresses, some Cyrillic names, one blocked by name, some with AFS
# values of their own) and docs/screenshot-menu.png with a user's context menu open. The
# real server runs on a virtual X display (Xvfb) with a notification area (trayer); the
# users are real terminal clients (orvchat-client) on 127.0.0.1. Fails, saying why, when
# the server is missing, does not listen, or ends before the pictures are taken.
#
#   scripts/screenshot.sh [WINDOW.png [MENU.png]]
#
# ORVCHATSERVER and ORVCHAT_CLIENT name the programs to use; otherwise both are built with
# the window in ${ORV_BUILD_DIR:-build/gui}. ORV_SCALE=2 takes the pictures at double scale.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--on-display" ]; then
  shot=$(realpath -m "${1:-$root/docs/screenshot.png}")
  menu_shot=$(realpath -m "${2:-$root/docs/screenshot-menu.png}")
  bash "$root/scripts/install-deps.sh" --screenshot >/dev/null

  server=${ORVCHATSERVER:-}
  client=${ORVCHAT_CLIENT:-}
  if [ -z "$server" ] || [ -z "$client" ]; then
    build=${ORV_BUILD_DIR:-$root/build/gui}
    cmake -S "$root" -B "$build" -G Ninja -DORV_BUILD_GUI=ON -DORV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target orvchatserver orvchat-client -j2
    server=${server:-$build/src/orvchatserver}
    client=${client:-$build/tools/orvchat-client}
  fi
  for program in "$server" "$client"; do
    if [ ! -x "$program" ]; then
      echo "screenshot: no program at $program" >&2
      exit 1
    fi
  done

  # A private copy of the ready working folder, listening on a free local port, with one
  # name on the block list and two AFS values of the users' own. The window keeps its state
  # in the private folder too, so it opens as on a first run and leaves the home alone.
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp -r "$root/workdir/." "$work/"
  mkdir -p "$work/data" "$work/config"
  printf '[LIST]\r\nreception-desk=1\r\n' >"$work/data/blocklist.cfg"
  printf '[LIST]\r\n00AA11BB22CC=25\r\nF0DEF1A2B3C4=40\r\n' >"$work/data/afs.cfg"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 - "$work/orvchatserver.cfg" "$port" <<'PY'
import re, sys
path, port = sys.argv[1], sys.argv[2]
text = open(path, encoding="latin-1").read()
text = re.sub(r"<ServerPort>\r?\n.*?</ServerPort>", "<ServerPort>\n%s\n</ServerPort>" % port, text, flags=re.S)
text = re.sub(r"<ServerIP>\r?\n.*?</ServerIP>", "<ServerIP>\n127.0.0.1\n</ServerIP>", text, flags=re.S)
open(path, "w", encoding="latin-1").write(text)
PY
  mkdir -p "$(dirname "$shot")" "$(dirname "$menu_shot")"
  # The window opens at 760 x 540 where the screen leaves room around it.
  scale=${ORV_SCALE:-1}
  screen="$((800 * scale))x$((610 * scale))x24"
  xvfb-run -a -s "-screen 0 $screen" \
    bash "$0" --on-display "$server" "$client" "$work" "$port" "$shot" "$menu_shot" "$scale"
  echo "screenshot: $shot $menu_shot"
  exit 0
fi

# On the virtual display.
server=$2 client=$3 work=$4 port=$5 shot=$6 menu_shot=$7 scale=$8
pids=()
# Stops what this script started, newest first; SIGTERM gives the server its orderly stop.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

fail() {
  echo "screenshot: $*" >&2
  if [ -s "$work/server.out" ]; then
    echo "screenshot: the server said:" >&2
    cat "$work/server.out" >&2
  fi
  exit 1
}
server_alive() {
  kill -0 "$server_pid" 2>/dev/null || fail "the server ended early"
}

# shellcheck source=scripts/screenshot_users.sh
source "$root/scripts/screenshot_users.sh"

trayer --SetDockType true --edge bottom --align right --widthtype request \
  --height $((28 * scale)) --transparent false --tint 0xdddddd >/dev/null 2>&1 &
pids+=($!)
sleep 1

QT_SCALE_FACTOR=$scale XDG_CONFIG_HOME="$work/config" "$server" -C "$work" >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)

wait_for_listener 100 0.1
connect_users 60

window=$(xdotool search --onlyvisible --name "ORV Chat Server" | head -n 1)
[ -n "$window" ] || fail "no operator window on the display"
# The keyboard goes to the window (the pointer out of the way); the command line has the
# focus: a message to everyone shows in the console.
xdotool mousemove --sync $((780 * scale)) $((10 * scale))
xdotool windowfocus --sync "$window"
xdotool type --delay 20 "The server restarts at 18:00, please save your drafts."
xdotool key Return
sleep 1
server_alive
import -window root "$shot"

# The context menu of the sixth user, opened from the keyboard: Tab from the command line
# to Send, the filter and the list, down to the user, then the menu key and into the AFS
# submenu.
xdotool key --delay 150 Tab Tab Tab Down Down Down Down Down Menu
sleep 0.5
xdotool key --delay 150 Down Right
sleep 0.7
server_alive
import -window root "$menu_shot"
xdotool key Escape Escape

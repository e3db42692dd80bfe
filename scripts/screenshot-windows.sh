#!/usr/bin/env bash
# Takes the README's pictures of the Windows operator window: orvchatserver.exe of the
# cross build (scripts/build-windows.sh) under Wine, on a virtual X display (Xvfb) inside
# Wine's own desktop (which has a notification area), with eight real Linux clients on
# 127.0.0.1: docs/screenshot-windows.png with the users and an operator message, and
# docs/screenshot-windows-menu.png with a user's context menu open. Fails, saying why, when
# the server is missing, does not listen, or ends before the pictures are taken.
#
#   scripts/screenshot-windows.sh [WINDOW.png [MENU.png]]
#
# ORVCHATSERVER_EXE and ORVCHAT_CLIENT name the programs to use; otherwise both are built.
# Wine runs in the prefix build/wine-prefix with a wineserver this script starts and stops.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--on-display" ]; then
  shot=$(realpath -m "${1:-$root/docs/screenshot-windows.png}")
  menu_shot=$(realpath -m "${2:-$root/docs/screenshot-windows-menu.png}")
  bash "$root/scripts/install-deps.sh" --screenshot --wine >/dev/null

  server=${ORVCHATSERVER_EXE:-}
  client=${ORVCHAT_CLIENT:-}
  if [ -z "$server" ]; then
    bash "$root/scripts/build-windows.sh" >/dev/null
    server=$root/build/mingw/src/orvchatserver.exe
  fi
  if [ -z "$client" ]; then
    build=${ORV_BUILD_DIR:-$root/build/headless}
    cmake -S "$root" -B "$build" -G Ninja -DORV_BUILD_GUI=OFF -DORV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target orvchat-client -j2
    client=$build/tools/orvchat-client
  fi
  for program in "$server" "$client"; do
    if [ ! -f "$program" ]; then
      echo "screenshot-windows: no program at $program" >&2
      exit 1
    fi
  done

  export WINEPREFIX="$root/build/wine-prefix"
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver --persistent || true  # or the one running for this prefix
  work=$(mktemp -d)
  trap '/usr/lib/wine/wineserver --kill; rm -rf "$work"' EXIT
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1
  # Debian 12's Wine does not look for its own fonts where fonts-wine installs them
  # (/usr/share/wine/fonts): without Marlett the title bar's buttons come out as the letters
  # "0 1 r". The prefix's Fonts folder is read at every start, so Wine's TrueType fonts go
  # there.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  # The window opens as on a first run.
  rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/orvchatserver

  # A private copy of the ready working folder, listening on a free local port, with one
  # name on the block list and two AFS values of the users' own.
  cp -r "$root/workdir/." "$work/"
  mkdir -p "$work/data"
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
  xvfb-run -a -s "-screen 0 820x640x24" \
    bash "$0" --on-display "$server" "$client" "$work" "$port" "$shot" "$menu_shot"
  echo "screenshot-windows: $shot $menu_shot"
  exit 0
fi

# On the virtual display.
server=$2 client=$3 work=$4 port=$5 shot=$6 menu_shot=$7
pids=()
# Stops what this script started, newest first.
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
  echo "screenshot-windows: $*" >&2
  if [ -s "$work/server.out" ]; then
    echo "screenshot-windows: the server said:" >&2
    cat "$work/server.out" >&2
  fi
  exit 1
}
server_alive() {
  kill -0 "$server_pid" 2>/dev/null || fail "the server ended early"
}

# shellcheck source=scripts/screenshot_users.sh
source "$root/scripts/screenshot_users.sh"

# Wine's own desktop: one X window holding the Windows ones, with a task bar and its
# notification area.
/usr/lib/wine/wine64 explorer /desktop=orvchat,820x640 "Z:${server//\//\\}" -C "$work" \
  >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)

wait_for_listener 300 0.2
connect_users 90

# A click on the window's title bar gives it the keyboard, and the command line the focus:
# a message to everyone shows in the console.
desktop=$(xdotool search --name "orvchat - Wine desktop" | head -n 1)
[ -n "$desktop" ] || fail "no Wine desktop on the display"
xdotool mousemove --sync 600 62 click 1
xdotool mousemove --sync 815 5
xdotool type --delay 30 "The server restarts at 18:00, please save your drafts."
xdotool key Return
sleep 1.5
server_alive
import -window root "$shot"

# The context menu of the sixth user, opened from the keyboard: Tab from the command line
# to Send, the filter and the list, down to the user, then the menu key and into the AFS
# submenu.
xdotool key --delay 200 Tab Tab Tab Down Down Down Down Down Down Menu
sleep 0.8
xdotool key --delay 200 Down Right
sleep 1
server_alive
import -window root "$menu_shot"
xdotool key Escape Escape

#!/usr/bin/env bash
# Takes the README's picture of the chat client: docs/screenshot-client.png, orvchat-client
# in an xterm on a virtual X display (Xvfb) during a morning in an office, eight users with
# Cyrillic names online, one who came and went, a message from the operator and a line half
# typed. The server runs headless on a free port of 127.0.0.1; the other users are real
# clients in their script mode. Fails, saying why, when a program is missing, the server
# does not listen, or something ends before the picture is taken.
#
#   scripts/screenshot-client.sh [PICTURE.png]
#
# ORVCHATSERVER and ORVCHAT_CLIENT name the programs to use; otherwise both are built in
# ${ORV_BUILD_DIR:-build/dev}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--on-display" ]; then
  shot=$(realpath -m "${1:-$root/docs/screenshot-client.png}")
  bash "$root/scripts/install-deps.sh" --screenshot >/dev/null

  server=${ORVCHATSERVER:-}
  client=${ORVCHAT_CLIENT:-}
  if [ -z "$server" ] || [ -z "$client" ]; then
    build=${ORV_BUILD_DIR:-$root/build/dev}
    cmake -S "$root" -B "$build" -G Ninja -DORV_BUILD_GUI=OFF >/dev/null
    cmake --build "$build" --target orvchatserver orvchat-client -j2
    server=${server:-$build/src/orvchatserver}
    client=${client:-$build/tools/orvchat-client}
  fi
  for program in "$server" "$client"; do
    if [ ! -x "$program" ]; then
      echo "screenshot-client: no program at $program" >&2
      exit 1
    fi
  done

  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cp -r "$root/workdir/." "$work/"
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 - "$work/orvchatserver.cfg" "$port" <<'PY'
import re, sys
path, port = sys.argv[1], sys.argv[2]
text = open(path, encoding="latin-1").read()
text = re.sub(r"<ServerPort>\r?\n.*?</ServerPort>", "<ServerPort>\n%s\n</ServerPort>" % port, text, flags=re.S)
text = re.sub(r"<ServerIP>\r?\n.*?</ServerIP>", "<ServerIP>\n127.0.0.1\n</ServerIP>", text, flags=re.S)
open(path, "w", encoding="latin-1").write(text)
PY
  mkdir -p "$(dirname "$shot")"
  xvfb-run -a -s "-screen 0 900x560x24" \
    bash "$0" --on-display "$server" "$client" "$work" "$port" "$shot"
  echo "screenshot-client: $shot"
  exit 0
fi

# On the virtual display.
server=$2 client=$3 work=$4 port=$5 shot=$6
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
  echo "screenshot-client: $*" >&2
  if [ -s "$work/server.out" ]; then
    echo "screenshot-client: the server said:" >&2
    cat "$work/server.out" >&2
  fi
  exit 1
}
server_alive() {
  kill -0 "$server_pid" 2>/dev/null || fail "the server ended early"
}
export LANG=C.UTF-8

# The headless server reads operator commands from a pipe this script holds open.
mkfifo "$work/console"
sleep 600 >"$work/console" &
pids+=($!)
"$server" --headless --control none -C "$work" <"$work/console" >"$work/server.out" 2>&1 &
server_pid=$!
pids+=($server_pid)
for _ in $(seq 100); do
  server_alive
  grep -q "Waiting for connections" "$work/server.out" && break
  sleep 0.1
done
grep -q "Waiting for connections" "$work/server.out" || fail "the server does not listen on 127.0.0.1:$port"

xterm -fa "DejaVu Sans Mono" -fs 11 -geometry 100x26+0+0 -bg "#1c1c1c" -fg "#d8d8d8" \
  -xrm "XTerm*cursorColor: #d8d8d8" -title "orvchat-client" \
  -e "$client" --name "Анна" --mac 00-1A-2B-3C-4D-01 "127.0.0.1:$port" &
pids+=($!)
window=""
for _ in $(seq 50); do
  window=$(xdotool search --onlyvisible --name "orvchat-client" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no xterm on the display"
sleep 1

# user NAME MAC STATUS TEXT STAY [--send LINE...]: a user of its own client, connected for
# STAY seconds.
user() {
  local name=$1 mac=$2 status=$3 text=$4 stay=$5
  shift 5
  "$client" --name "$name" --mac "$mac" --status "$status" --status-text "$text" \
    --wait "$stay" "$@" "127.0.0.1:$port" >"$work/$mac.out" 2>&1 &
  pids+=($!)
}
user "Ольга Смирнова" 00-1A-2B-3C-4D-02 1 online 60 --send "Доброе утро! Кто сегодня в офисе?"
sleep 1
user "Дмитрий" 00-1A-2B-3C-4D-03 1 online 60 --send "Я здесь, после обеда уеду на склад."
sleep 0.6
user "Екатерина Волкова" 00-1A-2B-3C-4D-04 2 "на встрече до 11" 60
sleep 0.6
user "Борис" 00-1A-2B-3C-4D-05 1 online 60 --send "Принтер на втором этаже снова работает."
sleep 0.6
user "Сергей" 00-1A-2B-3C-4D-06 1 online 0.5
sleep 0.6
# Her answer comes after Иван's question: an unchanged status first, the answer a pause
# later.
user "Наталья" 00-1A-2B-3C-4D-07 1 online 60 --gap 2500 --send "/status 1 online" \
  --send "Иван, хорошо, пришлю."
sleep 0.6
user "Иван Петров" 00-1A-2B-3C-4D-08 1 online 60 \
  --send "Наталья, пришли, пожалуйста, отчёт до пятницы."
sleep 0.6
user "Светлана" 00-1A-2B-3C-4D-09 1 online 60
sleep 1
echo "Сервер перезапустится сегодня в 18:00." >"$work/console"
sleep 1

# Anna writes: one line sent, the next half typed.
xdotool windowfocus --sync "$window"
xdotool type --delay 120 "Всем привет! Обед в 13:00?"
xdotool key Return
sleep 1
xdotool type --delay 120 "Ольга, я тоже до вечера, зайди "
# Сергей's leave shows once the list has been asked for again.
sleep 3
server_alive
import -window "$window" "$shot"

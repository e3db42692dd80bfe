#!/usr/bin/env bash
# Takes docs/screenshot.png: the operator window on a virtual X display (Xvfb), with a
# notification area (trayer, when installed) and two clients connected, one of them with a
# Cyrillic name. Installs imagemagick and xvfb when they are missing.
#
#   scripts/screenshot.sh [OUTPUT.png]
#
# ORVCHATSERVER=path uses that server binary; otherwise it is built with the window in
# ${ORV_BUILD_DIR:-build/gui}.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" != "--on-display" ]; then
  out=$(realpath -m "${1:-$root/docs/screenshot.png}")
  missing=()
  command -v xvfb-run >/dev/null || missing+=(xvfb xauth)
  command -v import >/dev/null || missing+=(imagemagick)
  if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi

  server=${ORVCHATSERVER:-}
  if [ -z "$server" ]; then
    build=${ORV_BUILD_DIR:-$root/build/gui}
    cmake -S "$root" -B "$build" -G Ninja -DORV_BUILD_GUI=ON -DORV_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target orvchatserver -j2
    server=$build/src/orvchatserver
  fi
  if [ ! -x "$server" ]; then
    echo "screenshot: no server program at $server" >&2
    exit 1
  fi

  # A private copy of the ready working folder, listening on a free local port.
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
  mkdir -p "$(dirname "$out")"
  xvfb-run -a -s "-screen 0 580x432x24" \
    bash "$0" --on-display "$server" "$work" "$port" "$out"
  echo "screenshot: $out"
  exit 0
fi

# On the virtual display.
server=$2 work=$3 port=$4 out=$5
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

if command -v trayer >/dev/null; then
  trayer --SetDockType true --edge bottom --align right --widthtype request --height 28 \
    --transparent false --tint 0xdddddd >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi

"$server" -C "$work" >"$work/server.out" 2>&1 &
pids+=($!)
server_pid=$!

# Two clients log in with a status packet each and stay connected until the picture is
# taken. They speak the wire format with the built-in alphabets, made by the generator
# the header comes from (its --check keeps the two the same).
python3 - "$root/tools" "$port" <<'PY' &
import socket, sys, time

sys.path.insert(0, sys.argv[1])
from make_alphabets import make_pair

port = int(sys.argv[2])
plain, wire = make_pair()
table = bytes.maketrans(bytes(plain), bytes(wire))

def packet(ip, mac, name, kind, body):
    text = "%s(%s)||%s||default.gif||0.0||1||%d||%s//end" % (ip, mac, name, kind, body)
    return text.encode("cp1251").translate(table)

deadline = time.monotonic() + 10
clients = []
for ip, mac, name in [("192.168.1.23", "00AA11BB22CC", "alice"),
                      ("192.168.1.42", "00DDEEFF0011", "Ольга")]:
    while True:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("screenshot: the server does not listen on port %d" % port)
            time.sleep(0.2)
    s.sendall(packet(ip, mac, name, 2, "1:online"))
    clients.append(s)
    time.sleep(0.6)
for s in clients:
    s.settimeout(0.2)
end = time.monotonic() + 30
while time.monotonic() < end:
    for s in clients:
        try:
            s.recv(65536)
        except OSError:
            pass
PY
pids+=($!)
clients_pid=$!

# The user list is rebuilt 3 s after the last accepted connection.
sleep 6
# A picture without the server or its clients would be no picture of the server at work.
if ! kill -0 "$server_pid" 2>/dev/null || ! kill -0 "$clients_pid" 2>/dev/null; then
  echo "screenshot: the server or its clients ended early; the server said:" >&2
  cat "$work/server.out" >&2
  exit 1
fi
import -window root "$out"

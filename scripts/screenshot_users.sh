# The part both screenshot scripts share, sourced by them: wait for the server they started,
# then connect the eight users the pictures show. Uses their port, client, work, pids (each
# client's PID is added) and their fail and server_alive.

# wait_for_listener TRIES PAUSE: waits until the server takes connections on 127.0.0.1:$port.
wait_for_listener() {
  local tries=$1 pause=$2
  for _ in $(seq "$tries"); do
    server_alive
    if python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()' \
      "$port" 2>/dev/null; then
      return 0
    fi
    sleep "$pause"
  done
  fail "the server does not listen on 127.0.0.1:$port"
}

# connect_users STAY: eight users, each a client of its own that stays connected STAY
# seconds (until the pictures are taken); fails when one has ended once the list is built.
connect_users() {
  local stay=$1
  local users=(
    "00-1A-2B-3C-4D-5E|Ольга Смирнова|192.168.100.200"
    "00AA11BB22CC|alice|10.20.30.40"
    "00DDEEFF0011|Дмитрий|172.16.254.129"
    "A4-5E-60-E2-11-F7|reception-desk|192.168.101.17"
    "0019D2C3B4A5|bob|10.0.0.9"
    "F0DEF1A2B3C4|Екатерина Волкова|10.0.0.10"
    "001122334455|warehouse|192.168.1.5"
    "3C-97-0E-AB-CD-EF|Natalia|10.100.200.250"
  )
  local user_pids=() n=0 mac name ip
  for user in "${users[@]}"; do
    IFS='|' read -r mac name ip <<<"$user"
    "$client" --name "$name" --mac "$mac" --ip "$ip" --status 1 --status-text online \
      --wait "$stay" "127.0.0.1:$port" >"$work/client$n.out" 2>&1 &
    user_pids+=($!)
    pids+=($!)
    n=$((n + 1))
    sleep 0.3
  done

  # The user list is rebuilt 3 s after the last accepted connection.
  sleep 5
  server_alive
  for ((i = 0; i < n; i++)); do
    kill -0 "${user_pids[i]}" 2>/dev/null || fail "client $i ended early: $(cat "$work/client$i.out")"
  done
}

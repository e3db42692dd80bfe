#!/usr/bin/env bash
# Runs the packaged service under systemd, with its unit's hardening in force, without
# touching this machine: a throwaway system boots from an overlay of this machine's root
# (its writes stay in memory), with systemd as the first process of new mount, process,
# network, host name and IPC namespaces and a cgroup of its own. The package is installed
# there; the service must start, run under its system call filter with an invisible
# /proc, serve a client over 127.0.0.1 of its own network, reload, stop in order and be
# purged.
#
#   packaging/service-test.sh orvchat-server_VERSION_ARCH.deb
#
# Ends 0 when every check passed, 1 when one failed, and 77, saying why, when this machine
# cannot boot the throwaway system (not root, no overlayfs or no cgroups to hand out, as in
# most containers).
set -euo pipefail
deb=$(realpath "$1")
skip() {
  echo "service test skipped: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "it needs root"
for tool in unshare nsenter chroot; do
  command -v "$tool" >/dev/null || skip "no $tool"
done
systemd=$(command -v /lib/systemd/systemd /usr/lib/systemd/systemd | head -n 1)
[ -n "$systemd" ] || skip "no systemd"
grep -qw overlay /proc/filesystems || skip "no overlayfs"
if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
  hierarchies=(/sys/fs/cgroup)  # cgroup v2 only
elif [ -d /sys/fs/cgroup/systemd ]; then
  hierarchies=(/sys/fs/cgroup/systemd)  # v1, with v2 beside it where mounted
  [ -f /sys/fs/cgroup/unified/cgroup.controllers ] && hierarchies+=(/sys/fs/cgroup/unified)
else
  skip "no cgroup hierarchy for systemd"
fi

work=$(mktemp -d /tmp/orvchat-service.XXXXXX)
name=$(basename "$work")
for hierarchy in "${hierarchies[@]}"; do
  mkdir "$hierarchy/$name" 2>/dev/null || { rm -rf "$work"; skip "cannot make a cgroup in $hierarchy"; }
done
init=""
unshare_pid=""
cleanup() {
  # The first process of the namespace takes every other one with it.
  [ -n "$init" ] && kill -KILL "$init" 2>/dev/null || true
  [ -n "$unshare_pid" ] && wait "$unshare_pid" 2>/dev/null || true
  for hierarchy in "${hierarchies[@]}"; do
    find "$hierarchy/$name" -depth -type d -exec rmdir {} + 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Units that would reach past the namespaces into the machine (kernel variables, modules,
# binary formats, the clock, swap, devices, file systems from fstab) or start timed jobs.
masked=(systemd-sysctl.service systemd-modules-load.service modprobe@.service
  systemd-binfmt.service proc-sys-fs-binfmt_misc.automount proc-sys-fs-binfmt_misc.mount
  systemd-timesyncd.service systemd-pstore.service systemd-random-seed.service
  systemd-remount-fs.service systemd-udevd.service systemd-udev-trigger.service
  systemd-udev-settle.service systemd-hwdb-update.service kmod-static-nodes.service
  local-fs.target remote-fs.target swap.target cryptsetup.target timers.target
  getty.target)

cat >"$work/boot.sh" <<EOF
set -euo pipefail
work=$work
merged=\$work/merged
mount --make-rprivate /
mount -t tmpfs tmpfs "\$work/layer"
mkdir -p "\$work/layer/upper/etc/systemd/system" "\$work/layer/upper/orvchat-test" "\$work/layer/work"
for unit in ${masked[*]}; do ln -s /dev/null "\$work/layer/upper/etc/systemd/system/\$unit"; done
cp "$deb" "\$work/layer/upper/orvchat-test/"
mount -t overlay overlay -o "lowerdir=/,upperdir=\$work/layer/upper,workdir=\$work/layer/work" "\$merged"
mount -t proc proc "\$merged/proc"
mount -t sysfs -o ro sysfs "\$merged/sys"
mount -t tmpfs -o mode=755 tmpfs "\$merged/dev"
for node in null zero full random urandom tty; do
  touch "\$merged/dev/\$node"
  mount --bind "/dev/\$node" "\$merged/dev/\$node"
done
mkdir "\$merged/dev/pts" "\$merged/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666 devpts "\$merged/dev/pts"
ln -s pts/ptmx "\$merged/dev/ptmx"
mount -t tmpfs tmpfs "\$merged/dev/shm"
mount -t tmpfs tmpfs "\$merged/run"
mount -t tmpfs tmpfs "\$merged/tmp"
for hierarchy in ${hierarchies[*]}; do echo \$\$ >"\$hierarchy/$name/cgroup.procs"; done
# In a cgroup namespace of its own, the cgroup it was given is its root.
exec unshare --cgroup bash -c '
  mount -t tmpfs -o mode=755 tmpfs "$work/merged/sys/fs/cgroup"
  if [ "${hierarchies[0]}" = /sys/fs/cgroup ]; then
    mount -t cgroup2 cgroup2 "$work/merged/sys/fs/cgroup"
  else
    mkdir "$work/merged/sys/fs/cgroup/systemd"
    mount -t cgroup -o none,name=systemd cgroup "$work/merged/sys/fs/cgroup/systemd"
    if [ -n "${hierarchies[1]:-}" ]; then
      mkdir "$work/merged/sys/fs/cgroup/unified"
      mount -t cgroup2 cgroup2 "$work/merged/sys/fs/cgroup/unified"
    fi
  fi
  exec chroot "$work/merged" /usr/bin/env -i container=orvchat-test \
    PATH=/usr/sbin:/usr/bin:/sbin:/bin "$systemd" --unit=basic.target'
EOF
mkdir "$work/layer" "$work/merged"
unshare --fork --pid --mount --uts --ipc --net bash "$work/boot.sh" >"$work/boot.log" 2>&1 &
unshare_pid=$!
for _ in $(seq 50); do
  init=$(pgrep -P "$unshare_pid" || true)
  [ -n "$init" ] && break
  sleep 0.1
done
[ -n "$init" ] || { cat "$work/boot.log" >&2; skip "the throwaway system did not start"; }
inside() { nsenter -t "$init" -m -u -i -n -p -C -r -w "$@"; }
state=""
for _ in $(seq 120); do
  state=$(inside systemctl is-system-running 2>/dev/null || true)
  case "$state" in running | degraded) break ;; esac
  sleep 0.5
done
case "$state" in
  running | degraded) ;;
  *)
    cat "$work/boot.log" >&2
    skip "systemd did not come up in the throwaway system (${state:-no answer})"
    ;;
esac
echo "systemd runs in the throwaway system ($state)"

echo "== install"
inside dpkg -i "/orvchat-test/$(basename "$deb")" >"$work/dpkg.log" 2>&1 ||
  { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
active=""
for _ in $(seq 100); do
  active=$(inside systemctl is-active orvchatserver 2>/dev/null || true)
  [ "$active" = active ] && break
  sleep 0.2
done
[ "$active" = active ] || fail "the service is $active after the install"
sleep 0.5
inside systemctl is-enabled -q orvchatserver || fail "the service is not enabled"

echo "== hardening in force"
pid=$(inside systemctl show -p MainPID --value orvchatserver)
status=$(inside cat "/proc/$pid/status" 2>/dev/null || true)
grep -q "^Seccomp:[[:space:]]*2" <<<"$status" || fail "no system call filter on the server"
grep -q "^NoNewPrivs:[[:space:]]*1" <<<"$status" || fail "the server may gain privileges"
grep -q "^CapEff:[[:space:]]*0*$" <<<"$status" || fail "the server holds capabilities"
inside grep -q " /proc .*hidepid=invisible" "/proc/$pid/mountinfo" ||
  fail "other processes are visible in the server's /proc"
[ "$(inside stat -c %U "/proc/$pid")" = orvchat ] || fail "the server does not run as orvchat"

echo "== serving"
inside orvchat-client -n tester --send "hello from the service test" --send "/file test.txt;board text" \
  --wait 1 127.0.0.1:9010 >"$work/client.out" 2>&1 || fail "the client: $(cat "$work/client.out")"
grep -q "^6 OrvServer" "$work/client.out" || fail "no welcome: $(cat "$work/client.out")"
grep -q "hello from the service test" "$work/client.out" || fail "the chat line was not relayed"
inside test -f /var/lib/orvchat/board/test.txt || fail "no board file written"
inside orvchatctl status >"$work/ctl.out" 2>&1 || fail "orvchatctl status: $(cat "$work/ctl.out")"

echo "== reload (in Russian) and stop"
inside sed -i 's/^english$/russian/' /etc/orvchat/orvchatserver.cfg
inside systemctl reload orvchatserver || fail "systemctl reload"
sleep 1
inside env LC_ALL=C.UTF-8 journalctl -u orvchatserver --no-pager >"$work/journal" 2>&1 || true
grep -q "Имя сервера: OrvServer" "$work/journal" || fail "the reload did not take the language"
inside systemctl stop orvchatserver || fail "systemctl stop"
[ "$(inside systemctl show -p Result --value orvchatserver)" = success ] ||
  fail "the service did not end well: $(inside systemctl show -p Result -p ExecMainStatus orvchatserver)"
inside env LC_ALL=C.UTF-8 journalctl -u orvchatserver --no-pager >"$work/journal" 2>&1 || true
grep -q "Сервер остановлен" "$work/journal" || fail "no orderly stop in the journal"

echo "== purge"
inside dpkg --purge orvchat-server >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge"; }
inside test ! -e /var/lib/orvchat || fail "the purge left /var/lib/orvchat"

if [ "$failures" -ne 0 ]; then
  echo "--- the service's journal:" >&2
  cat "$work/journal" >&2
  echo "service test: $failures failed" >&2
  exit 1
fi
echo "service test: the service runs, serves, reloads and stops under its unit"

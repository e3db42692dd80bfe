#!/usr/bin/env bash
# Checks a built orvchat-server .deb: its control data and contents, its settings, the
# systemd unit (where systemd-analyze is present), an install, an upgrade and a purge in a
# throwaway root (dpkg --root, the maintainer scripts run outside it with DPKG_ROOT set), and
# the service itself under systemd where this machine can boot a throwaway system for it
# (packaging/service-test.sh).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d /tmp/orvchat-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect() { grep -q -- "$2" <<<"$1" || fail "$3 (no '$2')"; }

echo "== control data"
info=$(dpkg-deb -I "$deb")
expect "$info" "Package: orvchat-server" "package name"
expect "$info" "Depends: .*libc6" "computed dependencies"
expect "$info" "conffiles" "conffiles"
for script in postinst prerm postrm; do expect "$info" " $script" "maintainer script $script"; done
dpkg-deb -e "$deb" "$work/control"
expect "$(cat "$work/control/conffiles")" "^/etc/orvchat/orvchatserver.cfg$" "settings are a conffile"

echo "== contents"
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/orvchatserver ./usr/bin/orvchatctl ./usr/bin/orvchat-client \
  ./usr/lib/systemd/system/orvchatserver.service ./usr/lib/sysusers.d/orvchat.conf \
  ./usr/libexec/orvchat/setup-workdir ./etc/orvchat/orvchatserver.cfg \
  ./etc/orvchat/orvchatserver_command.cfg ./usr/share/orvchat/workdir/language/lang_english.cfg \
  ./usr/share/orvchat/workdir/language/lang_russian.cfg ./usr/share/man/man1/orvchatserver.1 \
  ./usr/share/man/man1/orvchatctl.1 ./usr/share/man/man5/orvchatserver.cfg.5 \
  ./usr/share/doc/orvchat-server/README.md ./usr/share/doc/orvchat-server/copyright; do
  expect "$contents" " $path\$" "contents"
done
if grep -q " ./var/lib/orvchat" <<<"$contents"; then
  fail "the working folder is state, not package contents"
fi

echo "== settings: the package's own, serving the LAN"
dpkg-deb -x "$deb" "$work/extracted"
# Never the checkout's workdir/orvchatserver.cfg, whatever a developer left in it.
for file in etc/orvchat/orvchatserver.cfg usr/share/orvchat/workdir/orvchatserver.cfg; do
  cmp -s "$work/extracted/$file" "$source_dir/packaging/orvchatserver.cfg" ||
    fail "/$file is not packaging/orvchatserver.cfg"
done
grep -Pzq '\n<ServerIP>\n</ServerIP>\n' "$work/extracted/etc/orvchat/orvchatserver.cfg" ||
  fail "the packaged settings do not listen on every address (ServerIP empty)"

echo "== unit"
unit="$work/extracted/usr/lib/systemd/system/orvchatserver.service"
for line in "User=orvchat" "ExecStart=/usr/bin/orvchatserver --headless -C /var/lib/orvchat" \
  "ExecReload=/bin/kill -HUP \$MAINPID" "Restart=on-failure" "NoNewPrivileges=yes" \
  "ProtectSystem=strict" "PrivateTmp=yes" "StandardOutput=journal" \
  "SystemCallFilter=@system-service" "ProtectProc=invisible"; do
  grep -qxF -- "$line" "$unit" || fail "unit lacks $line"
done
if command -v systemd-analyze >/dev/null; then
  # The package's root, with the system's own units and kill beside it, as on a machine
  # that has it installed.
  cp -rn /usr/lib/systemd/system/. "$work/extracted/usr/lib/systemd/system/" 2>/dev/null || true
  mkdir -p "$work/extracted/bin"
  cp "$(type -P kill)" "$work/extracted/bin/kill"
  # It ends with 0 on what it only warns about (an unknown key, a bad value): any word is
  # a failure.
  if out=$(systemd-analyze verify --man=no --root="$work/extracted" \
    /usr/lib/systemd/system/orvchatserver.service 2>&1) && [ -z "$out" ]; then
    echo "systemd-analyze verify: clean"
  else
    fail "systemd-analyze verify: $out"
  fi
else
  echo "(no systemd-analyze here: the unit is checked by its lines only)"
fi

echo "== install into a throwaway root"
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc"
touch "$root/var/lib/dpkg/status"
install_deb() {
  dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" \
    >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i"; }
}
install_deb
# A first install says where the server listens and that a firewall must let the port in.
for said in "listens on TCP port 9010 of every address" "write that address into ServerIP" \
  "/etc/orvchat/orvchatserver.cfg" "must let TCP port 9010 in"; do
  grep -qF "$said" "$work/dpkg.log" || fail "the install does not say: $said"
done
grep -q "^orvchat:" "$root/etc/passwd" || fail "no system user orvchat"
wd="$root/var/lib/orvchat"
[ "$(readlink "$wd/orvchatserver.cfg")" = "../../../etc/orvchat/orvchatserver.cfg" ] ||
  fail "the working folder's settings do not link to /etc/orvchat"
[ -d "$wd/language" ] && [ -d "$wd/data" ] && [ -d "$wd/logs" ] || fail "working folder layout"
uid=$(awk -F: '$1 == "orvchat" { print $3 }' "$root/etc/passwd")
[ "$(stat -c %u "$wd/data")" = "$uid" ] || fail "data/ does not belong to orvchat"
"$root/usr/bin/orvchatserver" --version | grep -q "^orvchatserver 1\." || fail "--version"
"$root/usr/bin/orvchatserver" --check-config -C "$wd" >"$work/check.log" ||
  { cat "$work/check.log" >&2; fail "--check-config of the installed working folder"; }

echo "== upgrade keeps the settings and the state"
sed -i 's/OrvServer/Edited by the admin/' "$root/etc/orvchat/orvchatserver.cfg"
echo "[LIST]" >"$wd/data/blocklist.cfg"
install_deb
grep -q "Edited by the admin" "$root/etc/orvchat/orvchatserver.cfg" || fail "settings replaced"
[ -f "$wd/data/blocklist.cfg" ] || fail "the block list went"

echo "== purge"
dpkg --root="$root" --force-script-chrootless --log=/dev/null --purge orvchat-server \
  >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg --purge"; }
[ ! -e "$wd" ] || fail "purge left the working folder"
[ ! -e "$root/etc/orvchat/orvchatserver.cfg" ] || fail "purge left the settings"

echo "== the service under systemd, in a throwaway system"
status=0
bash "$source_dir/packaging/service-test.sh" "$deb" || status=$?
case "$status" in
  0 | 77) ;;  # 77: this machine cannot boot one; the test said why
  *) fail "service test" ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "package check: $failures failed" >&2
  exit 1
fi
echo "package check: $(basename "$deb") is fine"

#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder, unpacks it into a scratch
# root with dpkg -x and checks what a desktop install relies on: the layout under
# /opt/orvohttps/ (every component the build puts beside the executable), nothing installed
# elsewhere but the user unit and the autostart entry, the control fields and maintainer
# scripts, the unit (systemd-analyze verify, silent), the autostart entry, what Debian's tools
# ask of a package (lintian), and that the unpacked service, with no certificate beside it,
# starts with the one its unit makes in the user's folder and answers over TLS.
# Usage: check_package.sh BUILD_DIR
set -uo pipefail
build_dir=${1:?usage: check_package.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'curl -sk https://localhost:38951/stop >/dev/null 2>&1; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/out" >/dev/null || fail "cpack"
deb=$(ls "$work"/out/orvohttps_*.deb 2>/dev/null | head -1)
[[ -n "$deb" ]] || { fail "no .deb"; exit 1; }
root=$work/root
dpkg -x "$deb" "$root" || fail "dpkg -x"
dpkg -e "$deb" "$work/control" || fail "dpkg -e"
app=$root/opt/orvohttps

# Layout.
for program in orvohttps orvohttps-session make-dev-cert trust-cert; do
  [[ -x "$app/$program" ]] || fail "/opt/orvohttps/$program missing or not executable"
done
for component in "$build_dir"/dist/*.so; do
  [[ -f "$app/$(basename "$component")" ]] || fail "component $(basename "$component") not packaged"
done
[[ -f "$root/usr/lib/systemd/user/orvohttps.service" ]] || fail "user unit missing"
[[ -f "$root/etc/xdg/autostart/orvohttps.desktop" ]] || fail "autostart entry missing"
while IFS= read -r path; do
  case "$path" in
    ./opt/orvohttps/* | ./usr/lib/systemd/user/orvohttps.service | ./etc/xdg/autostart/orvohttps.desktop) ;;
    ./usr/share/doc/orvohttps/copyright | ./usr/share/doc/orvohttps/changelog.gz) ;;
    *) fail "unexpected file $path" ;;
  esac
done < <(cd "$root" && find . -type f)
[[ -e "$app/localhost-key.pem" ]] && fail "a private key is shipped in the package"
file -b "$app/orvohttps" | grep -q ', stripped' || fail "the executable is not stripped"
ls "$work"/out/orvohttps-dbgsym_*.ddeb >/dev/null 2>&1 || fail "no debug-symbols package"

# Control fields and maintainer scripts.
[[ $(dpkg-deb -f "$deb" Package) == orvohttps ]] || fail "package name"
dpkg-deb -f "$deb" Depends | grep -q 'openssl' || fail "Depends lacks openssl"
dpkg-deb -f "$deb" Depends | grep -q 'libcpp-httplib' || fail "Depends lacks the shared libraries"
[[ -x "$work/control/postinst" ]] || fail "postinst missing"
grep -qx '/etc/xdg/autostart/orvohttps.desktop' "$work/control/conffiles" || fail "autostart entry not a conffile"
if command -v lintian >/dev/null; then
  errors=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep '^E:' | grep -v 'dir-or-file-in-opt')
  [[ -z "$errors" ]] || fail "lintian: $errors"
fi

# The unit, with ExecStart pointed at the unpacked executable so that verify can find it.
unit=$root/usr/lib/systemd/user/orvohttps.service
grep -qx 'ExecStart=/opt/orvohttps/orvohttps' "$unit" || fail "ExecStart"
grep -qx 'Restart=on-failure' "$unit" || fail "Restart=on-failure"
grep -qx 'WorkingDirectory=/opt/orvohttps' "$unit" || fail "the unit does not start in the install folder"
mkdir -p "$work/units"
sed "s#=/opt/orvohttps#=$app#" "$unit" >"$work/units/orvohttps.service"
verify=$(systemd-analyze verify --man=no "$work/units/orvohttps.service" 2>&1) || fail "systemd-analyze verify failed"
[[ -z "$verify" ]] || fail "systemd-analyze verify: $verify"

# The autostart entry hands DISPLAY to the user manager, or runs the service itself.
entry=$root/etc/xdg/autostart/orvohttps.desktop
grep -qx 'Exec=/opt/orvohttps/orvohttps-session' "$entry" || fail "autostart entry Exec"
grep -q 'import-environment DISPLAY XAUTHORITY WAYLAND_DISPLAY' "$app/orvohttps-session" ||
  fail "session start does not import DISPLAY and WAYLAND_DISPLAY"
grep -q '^exec /opt/orvohttps/orvohttps' "$app/orvohttps-session" || fail "session start has no fallback"
sh -n "$app/orvohttps-session" || fail "session start script does not parse"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
fi

# The unpacked service, no certificate lying beside it, makes its user one in the user's folder
# (as its unit does before it starts: ExecStartPre) and serves with it.
grep -qx 'ExecStartPre=/opt/orvohttps/make-dev-cert %E/orvohttps' "$unit" || fail "ExecStartPre"
config=$work/config
ca=$config/orvohttps/localhost.pem
XDG_CONFIG_HOME=$config "$app/orvohttps" >"$work/service.log" &
service=$!
for _ in $(seq 100); do
  curl -s --cacert "$ca" https://localhost:38951/hi >/dev/null 2>&1 && break
  sleep 0.1
done
answer=$(curl -s --cacert "$ca" -H 'Content-Type: text/plain' \
  --data '{"cmd":"cfp-1000","session":"p","pdu":{}}' https://localhost:38951/)
[[ "$answer" == '{"cmd":"cfp-1000","error":-1,"pdu":{"version":"'*'"},"session":"p"}' ]] ||
  fail "version answer of the unpacked service: $answer"
curl -s --cacert "$ca" https://localhost:38951/stop >/dev/null
[[ $(stat -c %a "$config/orvohttps/localhost-key.pem" 2>&1) == 600 ]] || fail "the user's key is not 0600"
wait "$service" || fail "service exit code $?"

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package $(basename "$deb"): layout, control, unit and start-up are right"

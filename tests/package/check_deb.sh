#!/usr/bin/env bash
# The .deb as operators get it: built by CPack from this build, its fields
# and files, the unit checked by systemd-analyze, and an install, removal and
# purge in a throw-away root (dpkg --root with chroot-less maintainer
# scripts) that must leave this machine's own files untouched.
#   check_deb.sh BUILD_DIR VERSION
set -uo pipefail
build=$1
version=$2
. "$(dirname "$0")/check_lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  # dpkg --root needs to give the files their owners.
  echo "skipped: installing into a throw-away root needs root"
  exit 77
fi

make_package "$build"
deb="$work/out/vexhold-serve_${version}_amd64.deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

# --- fields and contents
field() { dpkg-deb -f "$deb" "$1"; }
check "package name" [ "$(field Package)" = vexhold-serve ]
check "version is the project version" [ "$(field Version)" = "$version" ]
check "architecture" [ "$(field Architecture)" = amd64 ]
check "depends on passwd (useradd) and the C++ runtime" \
  bash -c '[[ "$1" == *passwd* && "$1" == *libc6* && "$1" == *libstdc++6* ]]' _ "$(field Depends)"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sort >"$work/files"
cat >"$work/expected" <<LIST
./etc/vexhold/setting.ini
./lib/systemd/system/vexhold-serve.service
./usr/bin/vexhold-serve
./usr/share/doc/vexhold-serve/copyright
./usr/share/doc/vexhold-serve/使用说明.md
./usr/share/man/man1/vexhold-serve.1.gz
LIST
check "exactly the expected files" diff -u "$work/expected" "$work/files"
dpkg-deb -e "$deb" "$work/control"
check "setting.ini is a conffile" grep -qx /etc/vexhold/setting.ini "$work/control/conffiles"
for s in postinst prerm postrm; do
  check "$s is an executable shell script" bash -c '[ -x "$1" ] && sh -n "$1"' _ "$work/control/$s"
done

dpkg-deb -x "$deb" "$work/x"
check "--version of the packaged binary" \
  [ "$("$work/x/usr/bin/vexhold-serve" --version)" = "vexhold-serve $version" ]
mkdir "$work/fresh"
"$work/x/usr/bin/vexhold-serve" --dir "$work/fresh" 2>/dev/null
check "the shipped setting.ini is the file a first start creates" \
  cmp "$work/x/etc/vexhold/setting.ini" "$work/fresh/setting.ini"
zcat "$work/x/usr/share/man/man1/vexhold-serve.1.gz" >"$work/man.1"
check "man page formats without warnings" \
  bash -c '[ -z "$(groff -man -Tutf8 -ww -z -K utf8 "$1" 2>&1)" ]' _ "$work/man.1"
check "man page names the version" grep -q "Vexhold $version" "$work/man.1"
unit="$work/x/lib/systemd/system/vexhold-serve.service"
for line in Type=notify "ExecReload=/bin/kill -HUP \$MAINPID" User=vexhold \
  AmbientCapabilities=CAP_NET_BIND_SERVICE ProtectSystem=strict ReadWritePaths=/etc/vexhold \
  "ExecStart=/usr/bin/vexhold-serve --dir /etc/vexhold --watch"; do
  check "unit has $line" grep -qxF "$line" "$unit"
done

# --- a throw-away root: a minimal dpkg database and account files
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers" \
  "$root/etc" "$root/var/log"
: >"$root/var/lib/dpkg/status"
: >"$root/var/lib/dpkg/available"
echo 'root:x:0:0:root:/root:/bin/sh' >"$root/etc/passwd"
echo 'root:x:0:' >"$root/etc/group"
echo 'root:*:19000:0:99999:7:::' >"$root/etc/shadow"
echo 'root:*::' >"$root/etc/gshadow"
chmod 0640 "$root/etc/shadow" "$root/etc/gshadow"
(cd "$root" && find . \( -type f -o -type l \) | sort) >"$work/root-before"

# What must not change on this machine.
machine() {
  md5sum /etc/passwd /etc/group /etc/shadow /etc/gshadow /var/lib/dpkg/status 2>/dev/null
  ls -la /etc/systemd/system /etc/systemd/system/multi-user.target.wants 2>/dev/null
  ls /var/lib/dpkg/info | grep -c . ; ls -d /etc/vexhold /usr/bin/vexhold-serve 2>&1
}
machine >"$work/machine-before"

# The throw-away root holds no other package, so dependencies cannot be met there.
dpkg_root() {
  dpkg --root="$root" --force-script-chrootless --force-depends --log="$root/var/log/dpkg.log" "$@"
}
check "install into the throw-away root" dpkg_root -i "$deb"
check "dpkg sees it installed there" \
  bash -c '[ "$(dpkg-query --root="$1" -W -f="\${Status}" vexhold-serve)" = "install ok installed" ]' _ "$root"
check "postinst made the vexhold user and group" \
  bash -c 'grep -q "^vexhold:x:[0-9]*:[0-9]*:.*:/nonexistent:/usr/sbin/nologin$" "$1/etc/passwd" &&
           grep -q "^vexhold:x:" "$1/etc/group" && grep -q "^vexhold:" "$1/etc/shadow"' _ "$root"
uid=$(awk -F: '$1 == "vexhold" { print $3 }' "$root/etc/passwd")
check "the user is a system account (below 1000)" [ -n "$uid" ] && [ "$uid" -lt 1000 ] && [ "$uid" -gt 0 ]
check "the config folder is the user's, 0750" \
  [ "$(stat -c '%u %a' "$root/etc/vexhold")" = "$uid 750" ]
check "setting.ini is the user's, 0640" \
  [ "$(stat -c '%u %a' "$root/etc/vexhold/setting.ini")" = "$uid 640" ]
wants="$root/etc/systemd/system/multi-user.target.wants/vexhold-serve.service"
if command -v systemctl >/dev/null; then
  check "the unit is enabled in the root" [ -L "$wants" ]
fi
check "a second install (upgrade in place) keeps one user" \
  bash -c 'dpkg --root="$1" --force-script-chrootless --force-depends -i "$2" >/dev/null &&
           [ "$(grep -c "^vexhold:" "$1/etc/passwd")" = 1 ]' _ "$root" "$deb"

# systemd-analyze verify, offline: the unit in a copy of the root that also
# holds the base units and the kill it reloads with, man pages from the root.
verify="$work/verify"
cp -a "$root" "$verify"
mkdir -p "$verify/bin" "$verify/lib/systemd/system"
cp -rn /lib/systemd/system/. "$verify/lib/systemd/system/"
cp /bin/kill "$verify/bin/kill"
verify_out=$(MANPATH="$verify/usr/share/man" systemd-analyze verify --root="$verify" \
  /lib/systemd/system/vexhold-serve.service 2>&1)
check "systemd-analyze verify passes with nothing to say" \
  bash -c '[ $1 -eq 0 ] && [ -z "$2" ]' _ $? "$verify_out"
[ -z "$verify_out" ] || echo "$verify_out"
check "systemd-analyze security rates the hardening at most 2.5" \
  systemd-analyze security --offline=yes --threshold=25 --root="$verify" \
  /lib/systemd/system/vexhold-serve.service >/dev/null 2>&1

check "remove" dpkg_root -r vexhold-serve
check "the binary and the unit are gone" \
  bash -c '[ ! -e "$1/usr/bin/vexhold-serve" ] && [ ! -e "$1/lib/systemd/system/vexhold-serve.service" ]' _ "$root"
check "the unit is no longer enabled" [ ! -e "$wants" ] && [ ! -L "$wants" ]
check "the configuration stays until a purge" [ -f "$root/etc/vexhold/setting.ini" ]
check "purge" dpkg_root -P vexhold-serve
check "the configuration folder is gone" [ ! -e "$root/etc/vexhold" ]
check "dpkg no longer knows it" \
  bash -c '! dpkg-query --root="$1" -W vexhold-serve >/dev/null 2>&1 ||
           [ -z "$(dpkg-query --root="$1" -W -f="\${Status}" vexhold-serve | grep installed)" ]' _ "$root"
(cd "$root" && find . \( -type f -o -type l \) | sort) >"$work/root-after"
# Left behind, by design: the account (kept, as system accounts are) with
# useradd's backups of the files it changed, and dpkg's own records.
grep -vE '^\./etc/(passwd|group|shadow|gshadow)-$|^\./var/log/dpkg\.log$|^\./var/lib/dpkg/' \
  "$work/root-after" >"$work/root-after-files"
grep -vE '^\./var/lib/dpkg/' "$work/root-before" >"$work/root-before-files"
check "nothing else of the package is left in the root" \
  diff -u "$work/root-before-files" "$work/root-after-files"

machine >"$work/machine-after"
check "this machine's accounts, dpkg database and units are untouched" \
  diff -u "$work/machine-before" "$work/machine-after"

echo "$failures failed"
[ "$failures" -eq 0 ]

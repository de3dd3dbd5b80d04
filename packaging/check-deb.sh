#!/bin/sh
# Checks a qm9000 package: what it holds, lintian, and that qmhost runs the
# simulated meter from the unpacked package alone (its libraries, plug-in and
# example files), installing nothing on this machine.
# usage: check-deb.sh qm9000_<version>_<arch>.deb
set -eu
deb=$(realpath "$1")
config=$(dirname "$(realpath "$0")")/../config
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }
examples=$(cd "$config" && ls *.json) || fail "no example files in $config"

# The files qmhost needs, every example application file; all of it under
# /usr (the application directory is the meter's own), root's, in Debian's
# modes, with only qmhost executable.
dpkg-deb -c "$deb" > "$tmp/list"
for f in usr/bin/qmhost usr/lib/qm9000/QM9000.so usr/lib/qm9000/libqmsim.so usr/lib/qm9000/libqmsimcore.so \
         usr/lib/qm9000/libqmsimline.so usr/lib/qm9000/libqmboard.so usr/share/man/man1/qmhost.1.gz usr/share/doc/qm9000/copyright \
         usr/share/doc/qm9000/changelog.gz $(printf 'usr/share/qm9000/examples/%s ' $examples) \
         usr/share/qm9000/web/index.html usr/share/qm9000/web/app.js usr/share/qm9000/web/style.css; do
  grep -q " \./$f\$" "$tmp/list" || fail "$f missing"
done
awk '$6 !~ /^\.\/(usr\/|$)/ || $2 != "root/root" ||
     !($1 == "drwxr-xr-x" || $1 == "-rw-r--r--" || ($1 == "-rwxr-xr-x" && $6 ~ /^\.\/usr\/bin\//))' \
    "$tmp/list" > "$tmp/bad"
[ ! -s "$tmp/bad" ] || fail "unexpected entries:
$(cat "$tmp/bad")"

lintian --fail-on error "$deb" > "$tmp/lintian" 2>&1 || fail "lintian:
$(cat "$tmp/lintian")"
grep '^[EW]:' "$tmp/lintian" || true

# qmhost links no part of the simulator: --board sim loads it at run time.
dpkg-deb -x "$deb" "$tmp/root"
readelf -d "$tmp/root/usr/bin/qmhost" > "$tmp/dynamic" || fail "readelf cannot read qmhost"
! grep -E 'NEEDED.*(qmsim|qmboard|QM9000)' "$tmp/dynamic" || fail "qmhost links a board or the module"

# The board's plug-in reads the board's own timer, so the board's package runs
# on the board only (lintian has checked that its binaries are ARM ones); its
# qmhost answers --help under qemu, with the cross toolchain's C library.
if [ "$(dpkg-deb -f "$deb" Architecture)" = armhf ]; then
  qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib \
      "$tmp/root/usr/bin/qmhost" --help > "$tmp/help" 2>&1 || fail "qmhost --help under qemu:
$(cat "$tmp/help")"
  grep -q 'calibrate' "$tmp/help" || fail "qmhost --help lists no subcommands:
$(cat "$tmp/help")"
  echo "check-deb: $(basename "$deb") good (qmhost --help under qemu; not run here)"
  exit 0
fi

# Run it the way the package installs it. The dynamic linker's trace shows
# where the plug-in and the board libraries came from: a build tree left
# behind must not be what makes this pass. The web page must come from the
# unpacked tree too.
mkdir "$tmp/app"
cp "$tmp/root/usr/share/qm9000/examples/"* "$tmp/app/"
QM_APP_DIR="$tmp/app" LD_DEBUG=libs "$tmp/root/usr/bin/qmhost" --board sim --seconds 3 --log --web 127.0.0.1:0 \
    < /dev/null > "$tmp/out" 2> "$tmp/ld" &
host=$!
url=""
for _ in $(seq 50); do
  url=$(sed -n 's/^qmhost: web page: //p' "$tmp/out")
  [ -n "$url" ] && break
  sleep 0.1
done
page=$(curl -sf "$url" || true)
wait $host || fail "qmhost failed:
$(cat "$tmp/out"; grep -v '^ *[0-9]*:' "$tmp/ld")"
[ "$page" = "$(cat "$tmp/root/usr/share/qm9000/web/index.html")" ] || fail "the web page was not served from the package:
$(cat "$tmp/out")"
sed -n 's/.*calling init: \(.*\(QM9000\|libqm[a-z]*\)\.so\)$/\1/p' "$tmp/ld" > "$tmp/loaded"
grep -q '/QM9000\.so$' "$tmp/loaded" || fail "QM9000.so was not loaded"
! grep -v "^$tmp/root/" "$tmp/loaded" || fail "loaded from outside the package"
[ "$(grep -c 'records: *[1-9]' "$tmp/out")" -ge 2 ] || fail "no records a second:
$(cat "$tmp/out")"
echo "check-deb: $(basename "$deb") good"

#!/bin/sh
# Checks a qm9000 package, installing nothing on this machine: what it holds,
# its control files and dependencies, lintian, the service's unit, the
# maintainer scripts run against stand-ins of the system's tools in a scratch
# tree, and qmhost run on the simulated meter from the unpacked package alone
# (its libraries, plug-in, example files and web page); the board's armhf
# package under qemu-arm.
# usage: check-deb.sh qm9000_<version>_<arch>.deb
set -eu
deb=$(realpath "$1")
config=$(dirname "$(realpath "$0")")/../config
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "check-deb: $*" >&2; exit 1; }
examples=$(cd "$config" && ls *.json) || fail "no example files in $config"
arch=$(dpkg-deb -f "$deb" Architecture)
unit=usr/lib/systemd/system/qm9000.service
rules=usr/lib/udev/rules.d/60-qm9000.rules

# --- Contents ---------------------------------------------------------------
# The files qmhost needs, every example application file, the service's unit,
# udev rules and options. All of it under /usr but the options in
# /etc/default (the application directory is the meter's own, made by
# postinst), root's, in Debian's modes, with only qmhost executable.
dpkg-deb -c "$deb" > "$tmp/list"
for f in usr/bin/qmhost usr/lib/qm9000/QM9000.so usr/lib/qm9000/libqmsim.so usr/lib/qm9000/libqmsimcore.so \
         usr/lib/qm9000/libqmsimline.so usr/lib/qm9000/libqmboard.so usr/share/man/man1/qmhost.1.gz usr/share/doc/qm9000/copyright \
         usr/share/doc/qm9000/changelog.gz $(printf 'usr/share/qm9000/examples/%s ' $examples) \
         usr/share/qm9000/web/index.html usr/share/qm9000/web/app.js usr/share/qm9000/web/style.css \
         $unit $rules etc/default/qm9000; do
  grep -q " \./$f\$" "$tmp/list" || fail "$f missing"
done
awk '!($6 ~ /^\.\/(usr\/|$)/ || $6 == "./etc/" || $6 == "./etc/default/" || $6 == "./etc/default/qm9000") ||
     $2 != "root/root" ||
     !($1 == "drwxr-xr-x" || $1 == "-rw-r--r--" || ($1 == "-rwxr-xr-x" && $6 ~ /^\.\/usr\/bin\//))' \
    "$tmp/list" > "$tmp/bad"
[ ! -s "$tmp/bad" ] || fail "unexpected entries:
$(cat "$tmp/bad")"

# The options file is a conffile (an upgrade keeps the administrator's
# changes), and so is every file the package puts in /etc; the maintainer
# scripts are there and executable.
dpkg-deb -e "$deb" "$tmp/control"
[ -f "$tmp/control/conffiles" ] || fail "no conffiles"
awk '$6 ~ /^\.\/etc\/.*[^\/]$/ { print substr($6, 2) }' "$tmp/list" | sort > "$tmp/etc"
sort "$tmp/control/conffiles" > "$tmp/conffiles"
cmp -s "$tmp/etc" "$tmp/conffiles" || fail "the conffiles are not the files in /etc:
conffiles: $(cat "$tmp/conffiles")
in /etc: $(cat "$tmp/etc")"
for s in postinst prerm postrm; do
  [ -x "$tmp/control/$s" ] || fail "no executable $s"
done

lintian --fail-on error,warning "$deb" > "$tmp/lintian" 2>&1 || fail "lintian:
$(cat "$tmp/lintian")"
! grep '^[EW]:' "$tmp/lintian" || fail "lintian has errors or warnings"

dpkg-deb -x "$deb" "$tmp/root"

# --- Dependencies -----------------------------------------------------------
# Each names a real package of the package's architecture (or one for all
# architectures), none of the cross toolchain's. Every library a binary links
# is in the package or in a package of its architecture that Depends names
# with a version (dpkg-shlibdeps's work); libgpiod, opened at run time, and
# adduser, which the maintainer scripts use, are named too.
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "no Depends"
echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/ *$//' > "$tmp/depends"
# The architecture of a package as dpkg or apt knows it (for the package's
# architecture, else for all).
arch_of() {
  for p in "$1:$arch" "$1"; do
    a=$(dpkg-query -W -f='${Architecture}' "$p" 2>/dev/null || true)
    [ -n "$a" ] || a=$(apt-cache show --no-all-versions "$p" 2>/dev/null | sed -n 's/^Architecture: //p')
    [ -n "$a" ] && { echo "$a"; return; }
  done
}
while read -r dep; do
  name=${dep%% *}
  case $name in *-cross) fail "Depends names the cross toolchain's $name" ;; esac
  a=$(arch_of "$name")
  [ "$a" = "$arch" ] || [ "$a" = all ] || fail "Depends: $name is no package for $arch (${a:-none found})"
done < "$tmp/depends"
versioned() {
  name=$(printf '%s' "$1" | sed 's/[.+]/\\&/g')
  grep -Eq "^$name \\(>= [0-9][^)]*\\)\$" "$tmp/depends"
}
triplet=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
find "$tmp/root" -type f \( -name '*.so' -o -path '*/usr/bin/*' \) > "$tmp/elves"
[ "$(wc -l < "$tmp/elves")" -ge 6 ] || fail "binaries missing"
while read -r elf; do
  readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'
done < "$tmp/elves" | sort -u > "$tmp/needed"
grep -q '^libc\.so' "$tmp/needed" || fail "readelf found no libraries the binaries link"
while read -r so; do
  [ -e "$tmp/root/usr/lib/qm9000/$so" ] && continue
  owner=""
  for d in /lib/$triplet /usr/lib/$triplet; do
    owner=$(dpkg -S "$d/$so" 2>/dev/null | sed -n '1s/[:,].*//p') && [ -n "$owner" ] && break
  done
  [ -n "$owner" ] || fail "no package of $arch holds $so (install the $arch libraries)"
  # dpkg-shlibdeps leaves the version out only where every symbol the
  # binaries use is as old as the library (version 0 in its symbols file).
  versioned "$owner" || { grep -qx "$owner" "$tmp/depends" &&
    grep -q '^ [^ ]* 0$' "/var/lib/dpkg/info/$owner:$arch.symbols" 2>/dev/null; } ||
    fail "Depends has no versioned $owner for $so:
$depends"
done < "$tmp/needed"
if grep -aq 'libgpiod\.so\.2' "$tmp/root/usr/lib/qm9000/libqmboard.so"; then
  versioned libgpiod2 || fail "libqmboard opens libgpiod.so.2, but Depends has no versioned libgpiod2"
fi
grep -qx adduser "$tmp/depends" || grep -q '^adduser ' "$tmp/depends" || fail "Depends has no adduser"
grep -q '^libjs-dygraphs' "$tmp/depends" || fail "Depends has no libjs-dygraphs (the page's charts)"

# qmhost links no part of the simulator: --board sim loads it at run time.
readelf -d "$tmp/root/usr/bin/qmhost" > "$tmp/dynamic" || fail "readelf cannot read qmhost"
! grep -E 'NEEDED.*(qmsim|qmboard|QM9000)' "$tmp/dynamic" || fail "qmhost links a board or the module"

# --- The service ------------------------------------------------------------
# systemd-analyze verify on the unit as installed but for its qmhost, which is
# the unpacked one; its man page from the package too. Any word it says fails
# (an unknown or misspelt setting is only a warning to it).
sed "s#^ExecStart=/usr/bin/qmhost #ExecStart=$tmp/root/usr/bin/qmhost #" "$tmp/root/$unit" > "$tmp/qm9000.service"
grep -q "^ExecStart=$tmp/root/usr/bin/qmhost " "$tmp/qm9000.service" || fail "the unit's ExecStart is not /usr/bin/qmhost"
MANPATH="$tmp/root/usr/share/man" systemd-analyze verify "$tmp/qm9000.service" > "$tmp/verify" 2>&1 ||
  fail "systemd-analyze verify:
$(cat "$tmp/verify")"
[ ! -s "$tmp/verify" ] || fail "systemd-analyze verify:
$(cat "$tmp/verify")"
systemd-analyze security --offline=yes --threshold=25 "$tmp/qm9000.service" > "$tmp/security" 2>&1 ||
  fail "the unit is exposed more than 2.5:
$(grep -E '✗|Overall' "$tmp/security")"

# What the meter needs of it, line by line.
setting() { grep -Ex "$1" "$tmp/root/$unit" > /dev/null || fail "the unit has no $1"; }
setting 'Type=notify'
setting 'User=qm9000'
setting 'Restart=on-failure'
setting 'StartLimitIntervalSec=(0|infinity)'
setting 'RestartSec=[1-9][0-9]*s?'
setting 'Environment=QM_APP_DIR=/var/lib/qm9000'
setting 'EnvironmentFile=-?/etc/default/qm9000'
setting 'ExecStart=/usr/bin/qmhost run (.* )?--board hw .*'
setting 'ExecStart=/usr/bin/qmhost run (.* )?--log .*'
setting 'ExecStart=/usr/bin/qmhost run (.* )?--log-interval ([6-9][0-9]|[1-9][0-9]{2,}) .*'
setting 'ExecStart=/usr/bin/qmhost .* \$QM9000_OPTIONS'
setting 'AmbientCapabilities=CAP_SYS_NICE'
setting 'CapabilityBoundingSet=CAP_SYS_NICE'
setting 'LimitRTPRIO=([5-9][0-9])'
setting 'NoNewPrivileges=yes'
setting 'ProtectSystem=strict'
setting '(ReadWritePaths=/var/lib/qm9000|StateDirectory=qm9000)'
setting 'PrivateTmp=yes'
setting 'DevicePolicy=closed'
setting 'DeviceAllow=char-spi rw'
setting 'DeviceAllow=char-gpiochip rw'
setting 'DeviceAllow=char-i2c rw'
setting 'RestrictAddressFamilies=.*AF_UNIX.*'
setting 'WantedBy=multi-user.target'
# What would stop the meter: real-time priority refused, no devices, the
# groups and the capability lost in a user namespace, root.
! grep -Ex '(RestrictRealtime|PrivateDevices|PrivateUsers|DynamicUser)=(yes|true|on|1)|User=(root|0)' "$tmp/root/$unit" \
    > "$tmp/denies" || fail "the unit denies the meter what it needs: $(cat "$tmp/denies")"
# The watchdog and the start timeout outlast qmhost's own 5 s without records
# plus its grace period (as /etc/default/qm9000 sets it, else 30 s), so that
# its message says why before systemd kills it.
options=$(sh -c ". '$tmp/root/etc/default/qm9000'; printf '%s' \"\$QM9000_OPTIONS\"") ||
  fail "/etc/default/qm9000 is no shell assignment"
grace=$(printf '%s\n' "$options" | sed -n 's/.*--grace[ =]\([0-9]*\).*/\1/p')
grace=${grace:-30}
seconds() { systemd-analyze timespan "$1" 2>/dev/null | sed -En 's/^ *(μs|us): ([0-9]+)$/\2/p' | awk '{ print int($1 / 1000000) }'; }
for key in WatchdogSec TimeoutStartSec; do
  value=$(sed -n "s/^$key=//p" "$tmp/root/$unit")
  [ -n "$value" ] || fail "the unit has no $key"
  [ "$(seconds "$value")" -gt $((5 + grace)) ] || fail "$key=$value is not longer than 5 s + a grace of $grace s"
done
# The devices to the service's groups, never to everyone.
for r in 'SUBSYSTEM=="spidev".*GROUP="spi"' 'SUBSYSTEM=="gpio".*GROUP="gpio"' 'SUBSYSTEM=="i2c-dev".*GROUP="i2c"'; do
  grep -E "^$r.*MODE=\"0660\"" "$tmp/root/$rules" > /dev/null || fail "the udev rules have no $r with mode 0660"
done

# --- The maintainer scripts ---------------------------------------------------
# They reach the service manager through deb-systemd-helper and
# deb-systemd-invoke only (systemctl for nothing but debhelper's daemon-reload),
# and users and groups through adduser.
for s in postinst prerm postrm; do
  grep -v '^[[:space:]]*#' "$tmp/control/$s" | grep -E '(^|[^-[:alnum:]])systemctl([^[:alnum:]]|$)' |
    grep -v '^[[:space:]]*systemctl --system daemon-reload >/dev/null || true$' > "$tmp/systemctl" || true
  [ ! -s "$tmp/systemctl" ] || fail "$s calls systemctl:
$(cat "$tmp/systemctl")"
  ! grep -Ev '^[[:space:]]*#' "$tmp/control/$s" | grep -Ew 'useradd|usermod|userdel|groupadd|groupdel|gpasswd' ||
    fail "$s changes users or groups without adduser"
done

# Then each runs as dpkg runs it, in a scratch tree: its paths under $fs, the
# tools it calls replaced by stand-ins that note each call and keep the users
# and groups in $fs/db. Nothing of this machine is changed.
fs=$tmp/fs
mkdir -p "$tmp/bin" "$tmp/scripts" "$fs/db/passwd" "$fs/db/group" "$fs/db/member" "$fs/run/systemd/system" "$fs/run/udev"
for s in postinst prerm postrm; do
  sed -e "s#/var/lib/qm9000#$fs/var/lib/qm9000#g" -e "s#/usr/share/qm9000/#$tmp/root/usr/share/qm9000/#g" \
      -e "s#/run/#$fs/run/#g" "$tmp/control/$s" > "$tmp/scripts/$s"
done
mkdir -p "$fs/var/lib"
cat > "$tmp/bin/stand-in" <<EOF
#!/bin/sh
db=$fs/db
echo "\${0##*/} \$*" >> $fs/calls
EOF
cat >> "$tmp/bin/stand-in" <<'EOF'
args=" $* "; prev=""; last=""
for a; do prev=$last; last=$a; done
case ${0##*/} in
  getent) [ -e "$db/$1/$2" ] ;;
  addgroup) touch "$db/group/$last" ;;
  adduser)
    case $args in
      *" --system "*) touch "$db/passwd/$last"; case $args in *" --group "*) touch "$db/group/$last" ;; esac ;;
      *) [ -e "$db/passwd/$prev" ] && [ -e "$db/group/$last" ] && touch "$db/member/$prev.$last" ;;
    esac ;;
  deluser)
    case $args in
      *" --system "*) rm -f "$db/passwd/$last" ;;
      *) rm -f "$db/member/$prev.$last" ;;
    esac ;;
  delgroup) rm -f "$db/group/$last" ;;
  deb-systemd-helper) case $args in *" was-enabled "*) [ ! -e "$db/disabled" ] ;; esac ;;
esac
EOF
chmod +x "$tmp/bin/stand-in"
for t in getent adduser addgroup deluser delgroup deb-systemd-helper deb-systemd-invoke systemctl udevadm chown \
         useradd usermod userdel groupadd groupdel gpasswd; do
  ln -s stand-in "$tmp/bin/$t"
done
script() {
  : > "$fs/calls"
  PATH="$tmp/bin:/usr/sbin:/usr/bin:/sbin:/bin" sh -e "$tmp/scripts/$@" > "$tmp/script.out" 2>&1 ||
    fail "$* failed:
$(cat "$tmp/script.out")"
}
called() { grep -Eqx "$1" "$fs/calls" || fail "$2 (calls: $(tr '\n' ';' < "$fs/calls"))"; }
not_called() { ! grep -Eqx "$1" "$fs/calls" || fail "$2 (calls: $(tr '\n' ';' < "$fs/calls"))"; }
app=$fs/var/lib/qm9000

# First installation, on a system that has the group gpio already.
touch "$fs/db/group/gpio"
script postinst configure
for g in spi i2c; do
  called "addgroup .*--system.* $g" "postinst does not create the missing group $g"
done
not_called "addgroup .* gpio" "postinst creates the group gpio that exists"
called "adduser .*--system.* qm9000" "postinst does not create the system user qm9000"
for g in spi gpio i2c; do
  [ -e "$fs/db/member/qm9000.$g" ] || fail "postinst does not make qm9000 a member of $g"
done
called "chown qm9000:qm9000 $app" "postinst does not give /var/lib/qm9000 to qm9000"
for f in $examples; do
  cmp -s "$tmp/root/usr/share/qm9000/examples/$f" "$app/$f" || fail "postinst does not seed $f"
done
called "deb-systemd-helper enable qm9000.service" "postinst does not enable the service"
called "deb-systemd-invoke start qm9000.service" "postinst does not start the service"
# An upgrade: the meter's files as they are; the service restarted, not stopped.
echo '{"changed": true}' > "$app/QM9000.json"
cp "$app/Cal9000.json" "$tmp/Cal9000.json"
echo '{"calibrated": true}' > "$app/Cal9000.json"
script prerm upgrade 1.0.0
not_called "deb-systemd-invoke stop.*" "prerm stops the service on upgrade"
script postinst configure 1.0.0
[ "$(cat "$app/QM9000.json")" = '{"changed": true}' ] || fail "the upgrade overwrote QM9000.json in /var/lib/qm9000"
[ "$(cat "$app/Cal9000.json")" = '{"calibrated": true}' ] || fail "the upgrade overwrote Cal9000.json in /var/lib/qm9000"
called "deb-systemd-invoke restart qm9000.service" "postinst does not restart the service on upgrade"
not_called "adduser .*--system.*" "postinst makes the user again"
# Removal: the service stopped; the meter's files and user kept until purge.
script prerm remove
called "deb-systemd-invoke stop qm9000.service" "prerm does not stop the service on removal"
script postrm remove
[ -f "$app/QM9000.json" ] || fail "postrm remove deletes /var/lib/qm9000"
[ -e "$fs/db/passwd/qm9000" ] || fail "postrm remove deletes the user"
not_called "del(user|group).*" "postrm remove changes users or groups"
# Purge: the application directory, the user, its group and memberships go.
script postrm purge
[ ! -e "$app" ] || fail "postrm purge leaves /var/lib/qm9000"
[ ! -e "$fs/db/passwd/qm9000" ] || fail "postrm purge leaves the user qm9000"
[ ! -e "$fs/db/group/qm9000" ] || fail "postrm purge leaves the group qm9000"
for g in spi gpio i2c; do
  [ ! -e "$fs/db/member/qm9000.$g" ] || fail "postrm purge leaves qm9000 in $g"
done
called "deb-systemd-helper purge qm9000.service" "postrm purge does not purge the service's state"
# Installed again on a system where the service was disabled: not started.
touch "$fs/db/disabled"
script postinst configure 1.0.0
not_called "deb-systemd-helper enable .*" "postinst enables the service the administrator disabled"

# --- The run -----------------------------------------------------------------
# Run it the way the package installs it. The dynamic linker's trace shows
# where the plug-in and the board libraries came from: a build tree left
# behind must not be what makes this pass. The web page must come from the
# unpacked tree too. The board's qmhost runs under qemu-arm, with the cross
# toolchain's C library.
case $arch in
  armhf) run="qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib -E LD_DEBUG=libs" ;;
  *) run="env LD_DEBUG=libs" ;;
esac
mkdir "$tmp/app"
cp "$tmp/root/usr/share/qm9000/examples/"* "$tmp/app/"
QM_APP_DIR="$tmp/app" timeout 120 $run "$tmp/root/usr/bin/qmhost" --board sim --seconds 3 --log --web 127.0.0.1:0 \
    < /dev/null > "$tmp/out" 2> "$tmp/ld" &
host=$!
url=""
for _ in $(seq 300); do
  url=$(sed -n 's/^qmhost: web page: //p' "$tmp/out")
  [ -n "$url" ] && break
  kill -0 $host 2> /dev/null || break
  sleep 0.1
done
page=$(curl -sf "$url" || true)
wait $host || fail "qmhost ($arch) failed:
$(cat "$tmp/out"; grep -v '^ *[0-9]*:' "$tmp/ld")"
[ "$page" = "$(cat "$tmp/root/usr/share/qm9000/web/index.html")" ] || fail "the web page was not served from the package:
$(cat "$tmp/out")"
sed -n 's/.*calling init: \(.*\(QM9000\|libqm[a-z]*\)\.so\)$/\1/p' "$tmp/ld" > "$tmp/loaded"
grep -q '/QM9000\.so$' "$tmp/loaded" || fail "QM9000.so was not loaded"
! grep -v "^$tmp/root/" "$tmp/loaded" || fail "loaded from outside the package"
[ "$(grep -c 'records: *[1-9]' "$tmp/out")" -ge 2 ] || fail "no records a second ($arch):
$(tail -n 12 "$tmp/out")"

# --- The service's options -----------------------------------------------------
# qmhost knows every option the unit and /etc/default/qm9000 give it.
$run "$tmp/root/usr/bin/qmhost" run --help > "$tmp/help" 2>&1 || fail "qmhost run --help failed:
$(cat "$tmp/help")"
for o in $(sed -n 's/^ExecStart=[^ ]* run //p' "$tmp/root/$unit" | tr ' ' '\n' | grep '^--') \
         $(printf '%s\n' "$options" | tr ' ' '\n' | grep '^--') \
         $(sed -n 's/^#   \(--[a-z-]*\).*/\1/p' "$tmp/root/etc/default/qm9000"); do
  grep -q -- "$o\b" "$tmp/help" || fail "qmhost run has no $o, which the service uses"
done
echo "check-deb: $(basename "$deb") good"

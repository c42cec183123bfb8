#!/usr/bin/env bash
# Packs a built tree with CPack into a scratch folder and checks the package:
# control fields (dependencies found by dpkg-shlibdeps, the SIP packages only
# recommended), the files a station needs and nothing of the tests, every
# /etc file a conffile, a system user for every service, no RUNPATH into the
# build tree, the console answering --version from the extracted root with
# no display, on the package's own libquenta, and the maintainer scripts run.
set -euo pipefail
build=$1
version=$2
out=$(mktemp -d /tmp/quenta-package.XXXXXX)
trap 'rm -rf "$out"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack failed"; }
deb=$(ls "$out"/quenta_*.deb)
field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = quenta ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "version $(field Version), not $version-1"
for f in Maintainer Section Description Architecture; do
  [ -n "$(field $f)" ] || fail "no $f"
done
depends=$(field Depends)
for p in libqt6widgets6 libsqlite3-0 libmxml1 libpq5 adduser qt6-qpa-plugins; do
  [[ ", $depends," == *", $p"[\ ,]* ]] || fail "Depends lacks $p: $depends"
done
for p in kamailio baresip; do
  [[ ", $(field Recommends)," == *", $p,"* ]] || fail "$p is not recommended"
  [[ ", $depends," != *", $p"[\ ,]* ]] || fail "$p is a dependency"
done

dpkg-deb -c "$deb" | awk '{print substr($6, 2)}' | grep -v '/$' >"$out/files"
have() { grep -qx "$1" "$out/files" || fail "no $1 in the package"; }
for f in /usr/bin/Mirolt /usr/bin/gwsim /usr/bin/quenta-monitor /usr/bin/quenta-sync /usr/bin/quenta-sipgw \
         /usr/share/quenta/sip/kamailio.cfg /usr/share/quenta/sip/booths.example \
         /usr/include/quenta/quenta.h /usr/include/quenta/records.h /usr/include/quenta/utils/decimal.h \
         /usr/share/applications/Mirolt.desktop /usr/share/icons/hicolor/scalable/apps/Mirolt.svg \
         /lib/systemd/system/quenta-station.service /lib/systemd/system/quenta-sync.service \
         /lib/systemd/system/quenta-sipgw.service /etc/quenta/sync.conf; do
  have "$f"
done
grep -Eq '^/usr/lib/(.*/)?libquenta\.so\.2$' "$out/files" || fail "no libquenta.so.2"
if grep -E '/test_|rel_station|gtest|bench|fuzz|\.a$' "$out/files"; then
  fail "test, benchmark or fuzzing files in the package"
fi

dpkg-deb -e "$deb" "$out/control"
diff <(grep '^/etc/' "$out/files" | sort) <(sort "$out/control/conffiles") || fail "the conffiles are not the /etc files"
for s in postinst prerm postrm; do
  sh -n "$out/control/$s" || fail "$s is not a shell script"
done
grep -q 'adduser --system' "$out/control/postinst" || fail "postinst makes no system user"
users=""
for unit in quenta-station quenta-sync quenta-sipgw; do
  u=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./lib/systemd/system/$unit.service" | sed -n 's/^User=//p')
  [ -n "$u" ] && [ "$u" != root ] || fail "$unit runs as root"
  grep -Eq "add_user $u( |\$)" "$out/control/postinst" || fail "postinst does not make the user $u of $unit"
  [[ " $users " != *" $u "* ]] || fail "$unit shares its user $u"
  users="$users $u"
done

root=$out/root
dpkg-deb -x "$deb" "$root"
while read -r f; do
  if file -b "$root$f" | grep -q '^ELF' && readelf -d "$root$f" | grep -Eq 'RPATH|RUNPATH'; then
    fail "$f carries a run path: $(readelf -d "$root$f" | grep -E 'RPATH|RUNPATH')"
  fi
done <"$out/files"
lib=$(dirname "$(grep -E 'libquenta\.so\.2$' "$out/files")")
ldd_out=$(env -i LD_LIBRARY_PATH="$root$lib" ldd "$root/usr/bin/Mirolt")
grep -q "libquenta.so.2 => $root$lib/libquenta.so.2" <<<"$ldd_out" || fail "Mirolt does not load the package's libquenta: $ldd_out"
got=$(env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$root$lib" "$root/usr/bin/Mirolt" --version 2>&1) ||
  fail "Mirolt --version failed: $got"
[ "$got" = "Mirolt $version" ] || fail "Mirolt --version said: $got"
env -i LD_LIBRARY_PATH="$root$lib" "$root/usr/bin/quenta-monitor" --help >/dev/null || fail "quenta-monitor --help failed"

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/Mirolt.desktop" || fail "the desktop entry is not valid"
fi
if command -v systemd-analyze >/dev/null; then
  # Outside the root only its base units are missing.
  systemd-analyze verify --root="$root" "$root"/lib/systemd/system/quenta-*.service 2>&1 |
    grep -v -e 'Unit sysinit.target not found' >"$out/verify" || true
  [ ! -s "$out/verify" ] || { cat "$out/verify"; fail "systemd-analyze finds fault with the units"; }
fi
# The maintainer scripts for real, against a copy of /etc and an empty
# /var/lib in a mount namespace of their own (as root only): install, upgrade,
# remove and purge.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  unshare -m bash -euo pipefail -c '
    out=$1 root=$2
    fail() { echo "package: maintainer scripts: $*" >&2; exit 1; }
    mkdir "$out/etc" && cp -a /etc/. "$out/etc" && mount --bind "$out/etc" /etc && mount -t tmpfs tmpfs /var/lib
    cp -a "$root/etc/quenta" /etc/
    sh -e "$out/control/postinst" configure >/dev/null || fail "postinst failed"
    sh -e "$out/control/postinst" configure 2.14.0-1 >/dev/null || fail "postinst of an upgrade failed"
    for u in quenta quenta-sync quenta-sipgw; do
      [ "$(getent passwd "$u" | cut -d: -f6,7)" = "/var/lib/$u:/usr/sbin/nologin" ] || fail "no system user $u"
      [ "$(stat -c %U:%a "/var/lib/$u")" = "$u:700" ] || fail "/var/lib/$u is $(stat -c %U:%a "/var/lib/$u")"
    done
    [ "$(stat -c %U:%a /etc/quenta/sync.conf)" = quenta-sync:600 ] || fail "sync.conf is open to others"
    [ "$(readlink /var/lib/quenta-sync/sync.conf)" = /etc/quenta/sync.conf ] || fail "no sync.conf for quenta-sync"
    sh -e "$out/control/prerm" remove && sh -e "$out/control/postrm" remove || fail "removing failed"
    sh -e "$out/control/postrm" purge 2>/dev/null || fail "purging failed"
    [ -d /var/lib/quenta ] && [ ! -e /var/lib/quenta-sync ] || fail "purging lost the books or kept the rest"
  ' _ "$out" "$root"
fi
echo "package: $(basename "$deb") checked"

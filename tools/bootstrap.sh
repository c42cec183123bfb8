#!/usr/bin/env bash
# Installs the Debian packages the station needs to build, run and test, when
# they are missing. Safe to run again: it only installs what is not there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libmxml-dev libxlsxwriter-dev unzip
  postgresql libpq-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev fonts-wqy-zenhei qt6-translations-l10n
  clang libclang-rt-14-dev clang-format
  binutils procps iproute2 util-linux xvfb xauth
  locales poppler-utils
  # the Debian package (cpack): its dependencies, its desktop entry checked
  dpkg-dev file desktop-file-utils
  # SIP booths: the SIP server and the user agents of its tests
  kamailio kamailio-extra-modules baresip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Installing Kamailio enables its service with the stock configuration. The
# SIP booths run Kamailio with tools/sip/kamailio.cfg (its README part "SIP
# booths"), and the tests start their own: the stock one must not run.
if [ -e /lib/systemd/system/kamailio.service ] || [ -e /etc/init.d/kamailio ]; then
  if command -v systemctl >/dev/null 2>&1 && systemctl is-enabled kamailio >/dev/null 2>&1; then
    systemctl disable --now kamailio >/dev/null 2>&1 || true
  fi
  if [ -x /etc/init.d/kamailio ]; then
    /etc/init.d/kamailio stop >/dev/null 2>&1 || true
    command -v update-rc.d >/dev/null 2>&1 && update-rc.d kamailio disable >/dev/null 2>&1 || true
  fi
fi

#!/usr/bin/env bash
# Builds everything from a fresh checkout, installing what is missing, and
# starts the station: the console Mirolt in the station's working directory,
# $QUENTA_HOME (default ~/quenta-station), where it keeps its files.
#
#   ./run.sh          the station
#   ./run.sh --demo   the station in the checkout's demo/ directory, with the
#                     gateway simulator playing two machines of four lines that
#                     make calls at random; the simulator stops with the console
#   ./run.sh --headless
#                     no console: the engine under the terminal monitor
#                     quenta-monitor in demo/, fed by the gateway simulator
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD

demo=0
headless=0
case "${1:-}" in
  --demo) demo=1 ;;
  --headless) demo=1; headless=1 ;;
  "") ;;
  *) echo "usage: ./run.sh [--demo | --headless]" >&2; exit 2 ;;
esac

tools/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

if [ "$headless" = 0 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the console on (set DISPLAY, or QT_QPA_PLATFORM=vnc to reach it" >&2
  echo "        over VNC; ./run.sh --headless runs the station under a terminal monitor instead)" >&2
  exit 1
fi

if [ "$demo" = 1 ]; then
  station=$top/demo
else
  station=${QUENTA_HOME:-$HOME/quenta-station}
fi
mkdir -p "$station"
cd "$station"
echo "run.sh: station in $station"

if [ "$demo" = 0 ]; then
  exec "$top/build/console/Mirolt"
fi

gwsim=$top/build/tools/gwsim/gwsim
if [ ! -x "$gwsim" ]; then
  echo "run.sh: the gateway simulator $gwsim is not built" >&2
  exit 1
fi
# The lines keep announcing themselves until the engine starts after the login.
"$gwsim" --station 127.0.0.1:9849 --machines 2 --lines 4 --random \
  --duration 86400 --talk 5:45 --idle 5:30 --output "$station/gwsim-summary.txt" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT
if [ "$headless" = 1 ]; then
  [ -f rateinfo ] || printf '%s\n' '.default||0.50|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60' > rateinfo
  "$top/build/tools/quenta-monitor/quenta-monitor"
else
  "$top/build/console/Mirolt"
fi

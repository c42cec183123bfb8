#!/usr/bin/env bash
# Builds everything from a fresh checkout, installing what is missing, and
# starts the station: the console Mirolt in the station's working directory,
# $QUENTA_HOME (default ~/quenta-station), where it keeps its files.
#
#   ./run.sh          the station
#   ./run.sh --demo   the station in the checkout's demo/ directory, with the
#                     gateway simulator playing two machines of four lines that
#                     make calls at random; the simulator stops with the console
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD

demo=0
case "${1:-}" in
  --demo) demo=1 ;;
  "") ;;
  *) echo "usage: ./run.sh [--demo]" >&2; exit 2 ;;
esac

tools/bootstrap.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the console on (set DISPLAY, or QT_QPA_PLATFORM=vnc to reach it over VNC)" >&2
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
"$top/build/console/Mirolt"

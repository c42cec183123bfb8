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
#   ./run.sh --demo --chain, ./run.sh --headless --chain
#                     a chain of two shops: the demo station ("总店") and a
#                     second, headless one in demo/second ("分店", in a network
#                     namespace of its own, with its own simulator, settling
#                     its calls itself), each copied by quenta-sync to one
#                     local PostgreSQL server, whose report fills as calls are
#                     settled (as root: the server runs as "nobody")
#   ./run.sh --demo --sip, ./run.sh --headless --sip
#                     SIP booths instead of the simulator: Kamailio with
#                     tools/sip/kamailio.cfg, a carrier that answers, four
#                     booths (baresip) that call at random and the bridge
#                     quenta-sipgw reporting them as machine SIP1
#                     (tools/sip/demo.sh; logs in demo/sip)
set -euo pipefail
cd "$(dirname "$0")"
top=$PWD

demo=0
headless=0
chain=0
sip=0
for arg in "$@"; do
  case "$arg" in
    --demo) demo=1 ;;
    --headless) demo=1; headless=1 ;;
    --chain) chain=1 ;;
    --sip) sip=1 ;;
    *) echo "usage: ./run.sh [--demo | --headless] [--chain] [--sip]" >&2; exit 2 ;;
  esac
done
if [ "$chain" = 1 ] && [ "$demo" = 0 ]; then
  echo "run.sh: --chain goes with --demo or --headless" >&2
  exit 2
fi
if [ "$sip" = 1 ] && [ "$demo" = 0 ]; then
  echo "run.sh: --sip goes with --demo or --headless" >&2
  exit 2
fi
if [ "$chain" = 1 ] && [ "$(id -u)" != 0 ]; then
  echo "run.sh: --chain needs root (a network namespace, a server run as nobody)" >&2
  exit 1
fi

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
# The station's files are its user's alone: so is its folder.
mkdir -p -m 700 "$station"
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
rates='.default||0.50|0:00:00-0.30,8:00:00-0.60|180:1.00|3|60'
children=()
cleanup() {
  for pid in "${children[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ -n "${pgdir:-}" ]; then
    rm -rf "$pgdir"
  fi
}
trap cleanup EXIT

if [ "$chain" = 1 ]; then
  sync=$top/build/tools/quenta-sync/quenta-sync
  pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
  port=54329
  # The server: a fresh cluster of its own, run by nobody, on 127.0.0.1 only.
  pgdir=$(mktemp -d /tmp/quenta-chain-demo.XXXXXX)
  chown nobody "$pgdir"
  as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  "${as_nobody[@]}" "$pgbin/initdb" -D "$pgdir/data" -U quenta --auth=trust -E UTF8 --locale=C.UTF-8 \
    >"$pgdir/initdb.log"
  "${as_nobody[@]}" --pdeathsig=TERM "$pgbin/postgres" -D "$pgdir/data" -k "$pgdir" -h 127.0.0.1 -p "$port" \
    >"$pgdir/postgres.log" 2>&1 &
  children+=($!)
  dsn="host=127.0.0.1 port=$port user=quenta dbname=postgres"
  for _ in $(seq 100); do
    "$pgbin/pg_isready" -q -h 127.0.0.1 -p "$port" && break
    sleep 0.1
  done
  "$pgbin/pg_isready" -q -h 127.0.0.1 -p "$port" || {
    echo "run.sh: the PostgreSQL server did not start; see $pgdir/postgres.log" >&2
    cat "$pgdir/postgres.log" >&2
    exit 1
  }
  # The second shop: engine, simulator and checkout of its own, in a network
  # namespace (so it has the gateway port and the station lock to itself).
  second=$station/second
  mkdir -p -m 700 "$second"
  [ -f "$second/rateinfo" ] || printf '%s\n' "$rates" >"$second/rateinfo"
  clerk=$(printf '店员' | iconv -f UTF-8 -t GBK)
  (cd "$second" && exec unshare -n -- sh -c '
      ip link set lo up
      setpriv --pdeathsig=TERM "$0" --station 127.0.0.1:9849 --machines 1 --lines 4 --random --duration 86400 \
        --talk 5:30 --idle 5:20 --output gwsim-summary.txt &
      exec "$1" --settle "$2" --interval 5' "$gwsim" "$top/build/tools/quenta-monitor/quenta-monitor" "$clerk" \
    >"$second/monitor.out" 2>&1) &
  children+=($!)
  (cd "$station" && exec "$sync" --station 总店 --dsn "$dsn" --interval 2) &
  children+=($!)
  (cd "$second" && exec "$sync" --station 分店 --dsn "$dsn" --interval 2) &
  children+=($!)
  echo "run.sh: the chain's server: $dsn (psql \"$dsn\"; its log in $pgdir)"
  echo "run.sh: the chain's report, in another terminal:"
  echo "        $sync report --dsn '$dsn'"
  echo "run.sh: the sync programs log to $station/quenta-sync.log and $second/quenta-sync.log"
fi

# The lines keep announcing themselves until the engine starts after the login.
if [ "$sip" = 1 ]; then
  "$top/tools/sip/demo.sh" "$top/build" "$station/sip" &
else
  "$gwsim" --station 127.0.0.1:9849 --machines 2 --lines 4 --random \
    --duration 86400 --talk 5:45 --idle 5:30 --output "$station/gwsim-summary.txt" &
fi
children+=($!)
if [ "$headless" = 1 ]; then
  [ -f rateinfo ] || printf '%s\n' "$rates" > rateinfo
  if [ "$chain" = 1 ]; then
    # no counter to settle at: the monitor settles, so both shops take money
    "$top/build/tools/quenta-monitor/quenta-monitor" --settle "$(printf '值班员' | iconv -f UTF-8 -t GBK)"
  else
    "$top/build/tools/quenta-monitor/quenta-monitor"
  fi
else
  "$top/build/console/Mirolt"
fi

#!/usr/bin/env bash
# Load tool of the chain's sync program: a station of 1,000,050 calls of 100
# lines (1,000,000 settled, each with its bill; 50 unsettled) copied for the
# first time to a local PostgreSQL server (a cluster of its own, run by
# nobody, on 127.0.0.1), then the station's database time of steady cycles
# with nothing new and of cycles after a checkout, as quenta-sync counts it
# (the time its read transactions hold the station's file). As root, about
# three minutes; everything lies in a temporary directory, removed at the end.
#   bench/chain_sync.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath -m "${1:-build}")
cmake --build "$build" -j2 --target quenta-sync >/dev/null
sync=$build/tools/quenta-sync/quenta-sync
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
port=${CHAIN_BENCH_PORT:-54339}

work=$(mktemp -d /tmp/quenta-chain-bench.XXXXXX)
pg=
cleanup() {
  [ -n "$pg" ] && kill -INT "$pg" 2>/dev/null && wait "$pg" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
chown nobody "$work"
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
"${as_nobody[@]}" "$pgbin/initdb" -D "$work/data" -U quenta --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
"${as_nobody[@]}" --pdeathsig=TERM "$pgbin/postgres" -D "$work/data" -k "$work" -h 127.0.0.1 -p "$port" \
  >"$work/postgres.log" 2>&1 &
pg=$!
until "$pgbin/pg_isready" -q -h 127.0.0.1 -p "$port"; do sleep 0.1; done
dsn="host=127.0.0.1 port=$port user=quenta dbname=postgres"

station=$work/station
mkdir "$station"
echo "making the station (1,000,050 calls, 1,000,000 bills) ..."
sqlite3 "$station/quentadb" <<'SQL'
create table cdrtbl(callid varchar(128), machineid varchar(128), lineid smallint, orgnum varchar(128),
  desnum varchar(128), bdate varchar(128), edate varchar(128), flag smallint, constraint key1 unique(callid));
create table billtbl(callid varchar(64), calltime smallint, period varchar(128), count real, admin varchar(64),
  date varchar(128));
create table stationtbl(id varchar(32) not null);
insert into stationtbl values(lower(hex(randomblob(16))));
begin;
with recursive n(i) as (select 0 union all select i + 1 from n where i < 1000049)
insert into cdrtbl select
  printf('GW%02d-%08d@%s', i % 10, i / 10 % 10, datetime(1600000000 + i * 90, 'unixepoch')),
  printf('GW%02d', i % 10), i / 10 % 10, '801', printf('0086%07d', i % 9999999),
  datetime(1600000000 + i * 90, 'unixepoch'), datetime(1600000000 + i * 90 + 60, 'unixepoch'),
  i < 1000000
from n;
insert into billtbl select callid, 60, '0:00:00-0.10 6 x 0.10', 0.5 + rowid % 7 * 0.25, 'admin', edate
  from cdrtbl where flag = 1;
commit;
create index cdrtbl_line on cdrtbl(machineid, lineid, flag);
create index cdrtbl_bdate on cdrtbl(bdate);
create index billtbl_callid on billtbl(callid);
SQL
printf '%s\n' 'Intl|0086|0.00|0:00:00-0.10|60:0.50|0|60' '.default||0.00|0:00:00-0.20|0:0.00|0|60' \
  >"$station/rateinfo"

# The server's CPU: the postmaster collects its ended backends' time.
server_cpu() {
  awk '{ printf "%.1f", ($14 + $15 + $16 + $17) / 100 }' "/proc/$pg/stat"
}
stopped_line() {
  grep 'stopped after' "$1" | tail -1 | sed 's/^.*stopped after/after/'
}

cd "$station"
echo "== first copy"
cpu0=$(server_cpu)
TIMEFORMAT="   %R s wall, %U s user + %S s system of quenta-sync"
time "$sync" --station bench --dsn "$dsn" --once --log first.log
sleep 1 # the backend's end, reaped by the postmaster
echo "   $(awk -v a="$cpu0" -v b="$(server_cpu)" 'BEGIN { printf "%.1f", b - a }') s CPU of the server"
echo "   $(stopped_line first.log)"
echo "   on the server: $("$pgbin/psql" -Atq "$dsn" -c "select (select count(*) from quenta.call) || ' calls, ' ||
  (select count(*) from quenta.bill) || ' bills'")"

echo "== steady cycles with nothing new (20 s, a cycle every 0.1 s)"
"$sync" --station bench --dsn "$dsn" --interval 0.1 --log idle.log &
s=$!
sleep 20
kill -TERM $s
wait $s || true
echo "   $(stopped_line idle.log)"

echo "== a checkout of one call every 0.5 s (20 s, a cycle every 0.1 s)"
"$sync" --station bench --dsn "$dsn" --interval 0.1 --log work.log &
s=$!
for k in $(seq 0 39); do
  sqlite3 -cmd '.timeout 5000' quentadb "insert into billtbl select callid, 60, 'p', 1.00, 'admin',
    datetime('now') from cdrtbl where rowid = 1000001 + $k; update cdrtbl set flag = 1 where rowid = 1000001 + $k"
  sleep 0.5
done
kill -TERM $s
wait $s || true
echo "   $(stopped_line work.log)"
echo "   flags settled on the server: $("$pgbin/psql" -Atq "$dsn" -c "select count(*) from quenta.call where flag = 1")"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

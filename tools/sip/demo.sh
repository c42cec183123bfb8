#!/usr/bin/env bash
# SIP booths for a demonstration station on this machine: Kamailio with the
# shop's configuration on 127.0.0.2, a carrier (baresip on 127.0.0.3) that
# answers the numbers the booths dial, four booths (baresip on 127.0.0.11 to
# 127.0.0.14, accounts 801 to 804) that call at random, and the bridge
# quenta-sipgw reporting them to the station on 127.0.0.1:9849 as machine
# SIP1, lines 1 to 4. Runs until stopped; logs and files in FOLDER.
#
#   tools/sip/demo.sh BUILD_DIR FOLDER
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
dir=$2
mkdir -p -m 700 "$dir" "$dir/run"
numbers=(114 12345 0085212345678 075588886666)

pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 0' TERM INT

# A baresip agent: NAME ADDRESS MAX-CALLS ACCOUNT-LINE...; no sound card, so
# the sine source, which takes 48 kHz stereo only. It reads its commands from
# the FIFO NAME.in.
agent() {
  local d=$dir/$1 addr=$2 max=$3
  shift 3
  mkdir -p "$d"
  cat >"$d/config" <<CFG
poll_method		epoll
sip_listen		$addr:5060
net_interface		$addr
call_max_calls		$max
audio_source		ausine,440
audio_alert		ausine,440
ausrc_srate		48000
auplay_srate		48000
ausrc_channels		2
auplay_channels		2
module_path		/usr/lib/baresip/modules
module			stdio.so
module			g711.so
module			ausine.so
module_tmp		account.so
module_app		menu.so
CFG
  printf '%s\n' "$@" >"$d/accounts"
  rm -f "$d.in"
  mkfifo "$d.in"
  baresip -f "$d" <"$d.in" >"$d.log" 2>&1 &
  pids+=($!)
}

kamailio -f "$top/tools/sip/kamailio.cfg" -DD -E -A 'LISTEN=udp:127.0.0.2:5060' -A "RUN_DIR=\"$dir/run\"" \
  -A 'TRUNK_IP="127.0.0.3"' -A 'TRUNK_HOST="127.0.0.3:5060"' >"$dir/kamailio.log" 2>&1 &
pids+=($!)

: >"$dir/booths"
chmod 600 "$dir/booths"
for n in 1 2 3 4; do
  echo "80$n demo-80$n SIP1 $n" >>"$dir/booths"
done
"$build/tools/quenta-sipgw/quenta-sipgw" --booths "$dir/booths" --state "$dir/denied" >"$dir/bridge.log" 2>&1 &
pids+=($!)
# the booths' first registrations wait for the bridge's accounts
for _ in $(seq 50); do
  grep -q 'in step with the SIP server' "$dir/bridge.log" && break
  sleep 0.2
done

lines=()
for num in "${numbers[@]}"; do
  lines+=("<sip:$num@127.0.0.3>;regint=0;answermode=auto")
done
agent carrier 127.0.0.3 8 "${lines[@]}"
exec {carrier_in}>"$dir/carrier.in"

for n in 1 2 3 4; do
  agent "booth80$n" "127.0.0.1$n" 1 "<sip:80$n@127.0.0.2>;auth_pass=demo-80$n;regint=60"
  (
    exec {cmd}>"$dir/booth80$n.in"
    while true; do
      sleep $((5 + RANDOM % 20))
      echo "/dial ${numbers[RANDOM % ${#numbers[@]}]}" >&$cmd
      sleep $((10 + RANDOM % 40))
      echo "/hangup" >&$cmd
    done
  ) &
  pids+=($!)
done
echo "demo.sh: SIP booths 801-804 (machine SIP1) calling through Kamailio; logs in $dir"
wait

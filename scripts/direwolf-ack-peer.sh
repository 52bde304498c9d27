#!/usr/bin/env bash
# A real Direwolf hears a message to Q1ABC-7 on the air (generated audio), hands it to the desk
# over KISS, takes the desk's acknowledgement and transmits it; the transmitted audio, written
# to a file through ALSA's file plugin, is decoded by Direwolf's atest and its bytes checked.
#
# direwolf-ack-peer.sh CLIENT      CLIENT: answer_peer_client (PORT TIMEOUT_MS)
# Needs root: Direwolf binds every interface, so it runs in a private network namespace.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 CLIENT" >&2; exit 2; }
client=$1
. "$(dirname "$0")/direwolf-common.sh"
dw_enter_netns direwolf-ack-peer 1 "$0" "$@"
work=$(mktemp -d)
dw_pid=
cleanup() {
  [ -n "$dw_pid" ] && kill "$dw_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
dw_start "$work"
"$client" 8001 20000 >"$work/client.log" 2>&1 &
client_pid=$!
for _ in $(seq 200); do
  grep -q "Attached to KISS TCP client" "$work/direwolf.log" && break
  sleep 0.05
done
dw_hear "$work" 'K2XYZ-9>APRS,WIDE1-1::Q1ABC-7  :Meet at 5{12'
status=0
wait "$client_pid" || status=$?
cat "$work/client.log"
if [ $status -ne 0 ]; then
  echo "direwolf-ack-peer: FAIL: the desk did not acknowledge; Direwolf said:" >&2
  cat "$work/direwolf.log" >&2
  exit 1
fi

expected_hex='000:  82 a0 b4 a2 9a 96 e0 a2 62 82 84 86 40 6e ae 92
010:  88 8a 62 40 62 ae 92 88 8a 64 40 63 03 f0 3a 4b
020:  32 58 59 5a 2d 39 20 20 3a 61 63 6b 31 32'
for _ in $(seq 100); do
  [ -s "$work/sent.wav" ] && dw_decode "$work" >"$work/atest.log" && grep -q '^1 packets decoded' "$work/atest.log" && break
  sleep 0.05
done
cat "$work/atest.log" 2>/dev/null || true
got_hex=$(grep -E '^ +0[0-9a-f]{2}: ' "$work/atest.log" | sed -E 's/^ +//; s/  [^ ].{0,15}$//; s/ +$//' || true)
if ! grep -qF 'Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :ack12' "$work/atest.log" ||
   [ "$got_hex" != "$expected_hex" ]; then
  echo "direwolf-ack-peer: FAIL: the transmitted frame is not the acknowledgement; bytes:" >&2
  printf '%s\n' "$got_hex" >&2
  cat "$work/direwolf.log" >&2
  exit 1
fi
echo "direwolf-ack-peer: PASS: Direwolf transmitted Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :ack12, bytes as expected"

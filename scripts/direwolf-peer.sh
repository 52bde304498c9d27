#!/usr/bin/env bash
# Feeds generated packet audio through a real Direwolf and checks, with a KISS TCP client
# built on the host link, that every packet arrives as the window's intake expects it.
#
# direwolf-peer.sh CLIENT PACKETS_FILE
#   CLIENT        kiss_peer_client (PORT PACKETS_FILE TIMEOUT_MS)
#   PACKETS_FILE  one packet a line: "sent<TAB>expected", expected defaults to sent
# Needs root: Direwolf binds every interface, so it runs in a private network namespace.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 CLIENT PACKETS_FILE" >&2
  exit 2
fi
client=$1
packets=$2

if [ -z "${QM_DIREWOLF_NETNS:-}" ]; then
  missing=()
  for tool in direwolf gen_packets unshare ip mkfifo; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "direwolf-peer: FAIL: missing ${missing[*]} (Debian packages: direwolf iproute2 util-linux)" >&2
    exit 1
  fi
  if ! unshare -n true 2>/dev/null; then
    echo "direwolf-peer: FAIL: cannot make a private network namespace (unshare -n needs root)" >&2
    exit 1
  fi
  exec unshare -n env QM_DIREWOLF_NETNS=1 "$0" "$@"
fi

ip link set lo up
work=$(mktemp -d)
dw_pid=
client_pid=
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null || true
  [ -n "$dw_pid" ] && kill "$dw_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
start=$(date +%s.%N)

# One packet at a time and without a newline, else gen_packets keeps it in the information field.
: >"$work/audio.pcm"
count=0
while IFS= read -r row || [ -n "$row" ]; do
  [ -z "$row" ] && continue
  sent=${row%%$'\t'*}
  printf '%s' "$sent" | gen_packets -r 44100 -o "$work/one.wav" - >/dev/null
  tail -c +45 "$work/one.wav" >>"$work/audio.pcm"
  count=$((count + 1))
done <"$packets"
head -c 44100 /dev/zero >>"$work/audio.pcm"  # half a second of 16-bit mono silence

cat >"$work/direwolf.conf" <<CONF
ADEVICE stdin null
ARATE 44100
ACHANNELS 1
CHANNEL 0
MYCALL N0CALL
MODEM 1200
AGWPORT 8000
KISSPORT 8001
CONF

# Held open read-write so Direwolf's open does not block and it sees the end only when we close.
mkfifo "$work/audio"
exec 3<>"$work/audio"
(cd "$work" && exec direwolf -c direwolf.conf -t 0 -q hd - <audio >direwolf.log 2>&1 3>&-) &
dw_pid=$!
"$client" 8001 "$packets" 20000 >"$work/client.log" 2>&1 3>&- &
client_pid=$!

# Frames written before Direwolf has attached the client are lost.
attached=0
for _ in $(seq 200); do
  if grep -q "Attached to KISS TCP client" "$work/direwolf.log"; then
    attached=1
    break
  fi
  kill -0 "$dw_pid" 2>/dev/null || break
  sleep 0.05
done
if [ $attached -ne 1 ]; then
  echo "direwolf-peer: FAIL: Direwolf never attached the KISS client" >&2
  cat "$work/direwolf.log" "$work/client.log" >&2
  exit 1
fi
cat "$work/audio.pcm" >&3
exec 3>&-

status=0
wait "$client_pid" || status=$?
client_pid=
# Direwolf ends at the end of its audio; give it a few seconds, no more.
for _ in $(seq 100); do
  kill -0 "$dw_pid" 2>/dev/null || break
  sleep 0.05
done
cat "$work/client.log"
end=$(date +%s.%N)
echo "direwolf-peer: $count packets, $(awk "BEGIN { printf \"%.2f\", $end - $start }") s in all"
if [ $status -ne 0 ]; then
  echo "direwolf-peer: FAIL (client exit $status); Direwolf said:" >&2
  cat "$work/direwolf.log" >&2
fi
exit $status

#!/usr/bin/env bash
# Feeds generated packet audio through a real Direwolf and checks, with a KISS client built on
# the host link, that every packet arrives as the window's intake expects it.
#
# direwolf-peer.sh CLIENT PACKETS_FILE [tcp|serial|serial-crash]
#   CLIENT        kiss_peer_client (PORT|DEVICE PACKETS_FILE TIMEOUT_MS [ROUNDS])
#   PACKETS_FILE  one packet a line: "sent<TAB>expected", expected defaults to sent
#   tcp           KISS over TCP (the default)
#   serial        Direwolf's pseudo-terminal KISS TNC, in two rounds: Direwolf is stopped after
#                 the first (the device vanishes, as an unplugged USB TNC does) and started
#                 again, and the client must reopen it
#   serial-crash  the same device, one round: a first client opens it and is killed with
#                 SIGKILL while Direwolf runs on; a second client must open it and get every
#                 packet (a program restarted after a crash)
# On the pseudo-terminal the clients run without CAP_SYS_ADMIN, as a normal user's program
# does: with it, the kernel lets an exclusive terminal be opened again anyway.
# Needs root: Direwolf binds every interface, so it runs in a private network namespace; the
# pseudo-terminal's link is always /tmp/kisstnc, so there /tmp is private too (what the client
# and the packet list need of the old /tmp is bound back into it).
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ] || [[ ! "${3:-tcp}" =~ ^(tcp|serial|serial-crash)$ ]]; then
  echo "usage: $0 CLIENT PACKETS_FILE [tcp|serial|serial-crash]" >&2
  exit 2
fi
client=$1
packets=$2
mode=${3:-tcp}
serial=0
[ "$mode" != tcp ] && serial=1

if [ -z "${QM_DIREWOLF_NETNS:-}" ]; then
  missing=()
  for tool in direwolf gen_packets unshare ip mkfifo setpriv; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "direwolf-peer: FAIL: missing ${missing[*]} (Debian packages: direwolf iproute2 util-linux)" >&2
    exit 1
  fi
  if ! unshare -n -m true 2>/dev/null; then
    echo "direwolf-peer: FAIL: cannot make private network and mount namespaces (unshare needs root)" >&2
    exit 1
  fi
  exec unshare -n -m env QM_DIREWOLF_NETNS=1 "$0" "$@"
fi

ip link set lo up
dw_opts=()
if [ $serial -eq 1 ]; then
  dw_opts=(-p)
  # The private /tmp hides a client or packet list that lives there (a clone under /tmp): keep
  # the old /tmp open and bind what they need back at the same place. mount -c, else it would
  # follow the /proc link by its name into the new /tmp.
  client=$(realpath "$client")
  packets=$(realpath "$packets")
  exec {old_tmp}</tmp
  mount -t tmpfs -o mode=1777 quillmark-tmp /tmp
  for path in "$client" "$packets"; do
    case $path in /tmp/*) ;; *) continue ;; esac
    top=${path#/tmp/}
    top=${top%%/*}
    [ -e "/tmp/$top" ] && continue
    if [ -d "/proc/$$/fd/$old_tmp/$top" ]; then mkdir "/tmp/$top"; else : >"/tmp/$top"; fi
    mount -c --bind "/proc/$$/fd/$old_tmp/$top" "/tmp/$top"
  done
  exec {old_tmp}<&-
  # The port's lock file (Qt's LCK..kisstnc) is private as well: peer tests may run side by side.
  mount -t tmpfs -o mode=1777 quillmark-lock /run/lock
fi
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

# Frames written before the client listens are lost: over TCP until Direwolf has attached it,
# on the pseudo-terminal until the client has opened it.
ready() {
  if [ $serial -eq 1 ]; then
    [ "$(grep -c '^state: Connected$' "$work/client.log")" -ge "$1" ]
  else
    grep -q "Attached to KISS TCP client" "$work/direwolf.log"
  fi
}

rounds=1
[ "$mode" = serial ] && rounds=2
# start_client LOG: the client in the background, its PID in client_pid.
start_client() {
  if [ $serial -eq 1 ]; then
    setpriv --bounding-set -sys_admin "$client" /tmp/kisstnc "$packets" 30000 $rounds >"$1" 2>&1 &
  else
    "$client" 8001 "$packets" 20000 >"$1" 2>&1 &
  fi
  client_pid=$!
}
if [ "$mode" = serial-crash ]; then
  start_client "$work/crashed.log"
else
  start_client "$work/client.log"
fi

status=0
for round in $(seq $rounds); do
  # Held open read-write so Direwolf's open does not block and it sees the end only when we close.
  rm -f "$work/audio"
  mkfifo "$work/audio"
  exec 3<>"$work/audio"
  (cd "$work" && exec direwolf -c direwolf.conf -t 0 -q hd "${dw_opts[@]}" - <audio >>direwolf.log 2>&1 3>&-) &
  dw_pid=$!
  if [ "$mode" = serial-crash ]; then
    for _ in $(seq 200); do
      grep -qs '^state: Connected$' "$work/crashed.log" && break
      kill -0 "$client_pid" 2>/dev/null || break
      sleep 0.05
    done
    if ! grep -qs '^state: Connected$' "$work/crashed.log"; then
      echo "direwolf-peer: FAIL: the first client never opened the device" >&2
      cat "$work/direwolf.log" "$work/crashed.log" >&2
      exit 1
    fi
    kill -KILL "$client_pid"
    wait "$client_pid" 2>/dev/null || true
    start_client "$work/client.log"
  fi
  attached=0
  for _ in $(seq 200); do
    if ready "$round"; then
      attached=1
      break
    fi
    kill -0 "$dw_pid" 2>/dev/null && kill -0 "$client_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ $attached -ne 1 ]; then
    echo "direwolf-peer: FAIL: the client never listened to Direwolf (round $round)" >&2
    cat "$work/direwolf.log" "$work/client.log" >&2
    exit 1
  fi
  cat "$work/audio.pcm" >&3
  if [ $serial -eq 1 ]; then
    # Closing the pseudo-terminal throws away what the client has not read yet: keep Direwolf
    # up until the round has arrived, then stop it as a TNC is unplugged.
    for _ in $(seq 400); do
      [ "$(grep -c '^packet: ' "$work/client.log")" -ge $((round * count)) ] && break
      kill -0 "$client_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$dw_pid" 2>/dev/null || true
  fi
  exec 3>&-
  # Direwolf ends at the end of its audio; give it a few seconds, no more.
  for _ in $(seq 100); do
    kill -0 "$dw_pid" 2>/dev/null || break
    sleep 0.05
  done
  dw_pid=
done

wait "$client_pid" || status=$?
client_pid=
cat "$work/client.log"
end=$(date +%s.%N)
echo "direwolf-peer: $count packets, $rounds round(s), $(awk "BEGIN { printf \"%.2f\", $end - $start }") s in all"
if [ $status -ne 0 ]; then
  echo "direwolf-peer: FAIL (client exit $status); Direwolf said:" >&2
  cat "$work/direwolf.log" >&2
fi
exit $status

#!/usr/bin/env bash
# The program without a window sends a message through a real Direwolf over KISS TCP; what
# Direwolf transmits is decoded by atest, so every try is seen on the air. A stand-in station
# answers on the air (its frame made into audio and heard by Direwolf): an ack after the second
# try, a rej after the first, or nothing. The schedule is the INI's: [Sending] Tries=3 and
# FirstGapSeconds=10, so the tries go out at 0, 10 and 30 s and the program gives up at 50 s.
#
# direwolf-send-peer.sh QUILLMARK     exit 0 passed, 1 failed, 77 skipped (no Direwolf, no root)
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 QUILLMARK" >&2; exit 2; }
prog=$1
. "$(dirname "$0")/direwolf-common.sh"
dw_enter_netns direwolf-send-peer 77 "$0" "$@"

work=$(mktemp -d)
dw_pid=
desk_pid=
cleanup() {
  [ -n "$desk_pid" ] && kill "$desk_pid" 2>/dev/null || true
  [ -n "$dw_pid" ] && kill "$dw_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "direwolf-send-peer: FAIL ($case): $*" >&2
  echo "--- the program's log" >&2
  cat "$cfg"/*.log >&2 2>/dev/null || true
  echo "--- on the air" >&2
  cat "$work/atest.log" >&2 2>/dev/null || true
  echo "--- Direwolf" >&2
  cat "$work/direwolf.log" >&2
  exit 1
}

# Polls a file another process writes until the command succeeds, for at most $1 seconds.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}

text='Roger, 20 cots'
on_air() {
  dw_decode "$work" >"$work/atest.log"
  grep -cF "Q1ABC-7>APZQMK,WIDE1-1,WIDE2-1::K2XYZ-9  :$text{$number" "$work/atest.log" || true
}
logged() { grep -qF "$1" "$cfg"/*.log 2>/dev/null; }
stored() { sqlite3 "$cfg/Quillmark-messages.db" "SELECT state || ' ' || tries FROM sent_messages"; }

for case in ack rej never; do
  rm -rf "${work:?}"/*
  cfg=$work/cfg
  mkdir -p "$cfg" "$work/pdf"
  printf '[Sending]\nTries=3\nFirstGapSeconds=10\n' >"$cfg/Quillmark.ini"
  dw_start "$work"
  "$prog" --no-window --config "$cfg" --kiss 127.0.0.1:8001 --callsign Q1ABC-7 --answer --web off \
    --print-to-pdf "$work/pdf" >"$work/desk.out" 2>&1 &
  desk_pid=$!
  wait_until 20 grep -q "Attached to KISS TCP client" "$work/direwolf.log" || fail "the program did not connect"
  number=$("$prog" --config "$cfg" --send K2XYZ-9 "$text") || fail "--send failed: $number"
  sent_at=()
  answer_after=0
  case $case in
    ack) answer_after=2 end="Acknowledged by K2XYZ-9 after 2 tries: $text{$number" tries=2 state=1 ;;
    rej) answer_after=1 end="Rejected by K2XYZ-9 after 1 try: $text{$number" tries=1 state=2 ;;
    never) end="Gave up after 3 tries: to K2XYZ-9: $text{$number" tries=3 state=3 ;;
  esac
  # The stand-in listens to the air, notes when each try came, and answers once.
  deadline=$((SECONDS + 90))
  until logged "$end"; do
    [ $SECONDS -lt $deadline ] || fail "no \"$end\" in the log"
    heard=$(on_air)
    while [ ${#sent_at[@]} -lt "$heard" ]; do sent_at+=("$(date +%s.%N)"); done
    if [ "$answer_after" -gt 0 ] && [ "$heard" -ge "$answer_after" ]; then
      [ $case = ack ] && word=ack || word=rej
      dw_hear "$work" "K2XYZ-9>APRS,WIDE1-1::Q1ABC-7  :$word$number"
      answer_after=0
    fi
    sleep 0.2
  done
  kill -TERM "$desk_pid"
  wait "$desk_pid" || fail "the program did not end cleanly on SIGTERM"
  desk_pid=
  heard=$(on_air)
  [ "$heard" -eq "$tries" ] || fail "$heard tries on the air, not $tries"
  [ "$(stored)" = "$state $tries" ] || fail "the store says \"$(stored)\", not \"$state $tries\""
  # Never sooner than the schedule: 10 s, then 20 s (the stand-in polls, so only the lower bound).
  if [ $case = never ]; then
    python3 -c 'import sys; t=[float(x) for x in sys.argv[1:]]; sys.exit(0 if t[1]-t[0] >= 8 and t[2]-t[1] >= 18 else 1)' \
      "${sent_at[@]}" || fail "the tries came at ${sent_at[*]}"
  fi
  # The stand-in's answer is no message of its own: nothing was acknowledged back.
  ! grep -qF "K2XYZ-9  :ack" "$work/atest.log" || fail "the program acknowledged the answer"
  kill "$dw_pid" 2>/dev/null || true
  wait "$dw_pid" 2>/dev/null || true
  dw_pid=
  exec 3>&-
  echo "direwolf-send-peer: PASS ($case): $tries on the air, then \"$end\""
done

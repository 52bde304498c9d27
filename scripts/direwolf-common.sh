# Sourced by the Direwolf peer tests: a private network namespace (Direwolf binds every
# interface), a Direwolf whose received audio comes from a fifo and whose transmitted audio
# goes to a WAV file through ALSA's file plugin, and atest to decode what it transmitted.
#
# dw_enter_netns NAME SKIP_CODE "$0" "$@"  re-executes the script in a namespace of its own;
#                                          a missing tool or no root exits with SKIP_CODE
# dw_start WORK                            Direwolf on KISS TCP port 8001, audio in WORK/audio
#                                          (fd 3 holds it open), what it sends in WORK/sent.wav
# dw_hear WORK 'SRC>DST,PATH:info'         Direwolf hears that packet on the air
# dw_decode WORK                           what it transmitted so far, as atest prints it

dw_enter_netns() {
  local name=$1 skip=$2 script=$3
  shift 3
  [ -n "${QM_DIREWOLF_NETNS:-}" ] && return 0
  for tool in direwolf gen_packets atest unshare ip python3; do
    command -v "$tool" >/dev/null || { echo "$name: cannot run: missing $tool" >&2; exit "$skip"; }
  done
  unshare -n true 2>/dev/null || { echo "$name: cannot run: unshare -n needs root" >&2; exit "$skip"; }
  exec unshare -n env QM_DIREWOLF_NETNS=1 "$script" "$@"
}

dw_start() {
  local work=$1
  ip link set lo up
  mkdir -p "$work/home"
  cat >"$work/home/.asoundrc" <<ASOUND
pcm.quillmarktx {
  type file
  slave.pcm "null"
  file "$work/sent.wav"
  format "wav"
}
ASOUND
  cat >"$work/direwolf.conf" <<CONF
ADEVICE stdin quillmarktx
ARATE 44100
ACHANNELS 1
CHANNEL 0
MYCALL N0CALL
MODEM 1200
AGWPORT 0
KISSPORT 8001
CONF
  mkfifo "$work/audio"
  exec 3<>"$work/audio"  # held open: Direwolf runs on between the packets it hears
  (cd "$work" && HOME="$work/home" exec direwolf -c direwolf.conf -t 0 -q hd - <audio >direwolf.log 2>&1 3>&-) &
  dw_pid=$!
}

dw_hear() {
  local work=$1 packet=$2
  printf '%s' "$packet" | gen_packets -r 44100 -o "$work/hear.wav" - >/dev/null
  # Without the WAV header, and a second of silence after it so the decoder finishes the frame.
  { tail -c +45 "$work/hear.wav"; head -c 44100 /dev/zero; } >&3
}

# The file's header gets its sizes only when the device closes; what was written so far is
# read with sizes of its own.
dw_decode() {
  local work=$1
  [ -s "$work/sent.wav" ] || return 0
  python3 - "$work/sent.wav" "$work/now.wav" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
data = d[44:]
open(sys.argv[2], 'wb').write(b'RIFF' + struct.pack('<I', 36 + len(data)) + d[8:40] + struct.pack('<I', len(data)) + data)
PY
  atest -h "$work/now.wav" 2>&1 | sed 's/\x1b\[[0-9;]*m//g'
}

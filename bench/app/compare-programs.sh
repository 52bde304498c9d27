#!/usr/bin/env bash
# Two Quillmark executables (and Xastir, where installed) side by side on one Xvfb display,
# in interleaved rounds, so a busy machine slows both alike.
#
# Usage: bench/app/compare-programs.sh startup OLD NEW [ROUNDS]
#          start to window shown (mapped), ms, per program and round
#        bench/app/compare-programs.sh cpu OLD NEW [SECONDS] [RATE] [ROUNDS]
#          CPU of the whole program fed RATE packets/s by the loopback APRS-IS feeder,
#          after 5 s to connect, over SECONDS
# OLD and NEW are quillmark executables; each runs from a folder of its own with the same
# Quillmark.ini (printing disabled). Results go to OUT (default a /tmp/qm-compare.* folder).
set -euo pipefail
cd "$(dirname "$0")/../.."
MODE=${1:?mode}
OLD=$(realpath "${2:?old executable}")
NEW=$(realpath "${3:?new executable}")
OUT=${OUT:-$(mktemp -d /tmp/qm-compare.XXXXXX)}
mkdir -p "$OUT"
CORPUS=$OUT/corpus.tnc2
[ -f "$CORPUS" ] || python3 /work/shared/bench/gen_corpus.py 100000 "$CORPUS" >/dev/null
TITLE="Quillmark v1.3.3"

DISP=:$((200 + RANDOM % 100))
Xvfb "$DISP" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$OUT/xvfb.log" 2>&1 &
PIDS=($!)
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
export DISPLAY=$DISP
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

prepare() {  # folder executable port
  mkdir -p "$1"
  cp "$2" "$1/quillmark"
  rm -f "$1"/*.db* "$1"/*.log
  cat >"$1/Quillmark.ini" <<INI
[Connection]
Transport=aprs-is
Server=127.0.0.1
Port=$3
Callsign=Q0DEMO-9
[Settings]
cbThisStation.Checked=True
cbDisablePrinting.Checked=True
cbBeepOnReceive.Checked=False
edMsgCount.Text=20
INI
}
now_ns() { date +%s%N; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Starts a command in a folder and waits for a window whose name matches; sets MS and P.
time_to_window() {  # folder title command...
  local dir=$1 title=$2 t0 wid=""
  shift 2
  t0=$(now_ns)
  (cd "$dir" && exec "$@" >>"$OUT/program.out" 2>&1) &
  P=$!
  PIDS+=("$P")
  for _ in $(seq 5000); do
    wid=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.002
  done
  [ -n "$wid" ] || { echo "no window from $*" >&2; return 1; }
  MS=$((($(now_ns) - t0) / 1000000))
}
# Xastir does not end on SIGTERM while it starts up: KILL after 2 s.
stop() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.02; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

case "$MODE" in
  startup)
    ROUNDS=${4:-10}
    PORT=$((15580 + RANDOM % 1000))
    prepare "$OUT/old" "$OLD" "$PORT"
    prepare "$OUT/new" "$NEW" "$PORT"
    XASTIR=$(command -v xastir || true)
    if [ -n "$XASTIR" ]; then
      # A first run makes its configuration, so the rounds time a configured start.
      mkdir -p "$OUT/xastir"
      time_to_window "$OUT/xastir" "^XASTIR" env HOME="$OUT/xastir" "$XASTIR" || true
      sleep 2; stop "$P"
    fi
    echo "# round old_ms new_ms xastir_ms load1 (Xvfb $DISP, no window manager)" | tee "$OUT/startup.txt"
    for r in $(seq "$ROUNDS"); do
      time_to_window "$OUT/old" "$TITLE" ./quillmark; o=$MS; sleep 0.5; stop "$P"
      time_to_window "$OUT/new" "$TITLE" ./quillmark; n=$MS; sleep 0.5; stop "$P"
      x=-
      if [ -n "$XASTIR" ]; then
        time_to_window "$OUT/xastir" "^XASTIR" env HOME="$OUT/xastir" "$XASTIR"; x=$MS; sleep 0.5; stop "$P"
      fi
      echo "$r $o $n $x $(cut -d' ' -f1 /proc/loadavg)" | tee -a "$OUT/startup.txt"
    done
    for c in 2 3 4; do
      printf "median column %s: " "$c"
      grep -v '^#' "$OUT/startup.txt" | awk -v c="$c" '$c != "-" {print $c}' | median
    done | tee -a "$OUT/startup.txt"
    ;;
  cpu)
    SECS=${4:-20}
    RATE=${5:-2000}
    ROUNDS=${6:-3}
    hz=$(getconf CLK_TCK)
    echo "# round program cpu%_of_one_core load1 ($RATE packets/s over $SECS s)" | tee "$OUT/cpu.txt"
    for r in $(seq "$ROUNDS"); do
      for which in old new; do
        PORT=$((15580 + RANDOM % 1000))
        exe=$OLD; [ "$which" = new ] && exe=$NEW
        prepare "$OUT/$which" "$exe" "$PORT"
        python3 bench/app/aprsis_feeder.py "$PORT" "$CORPUS" "$((SECS + 15))" "$RATE" Q0DEMO-9 2 \
          "$OUT/feeder-$which-$r.txt" 2>/dev/null &
        FEED=$!
        PIDS+=("$FEED")
        sleep 0.3
        time_to_window "$OUT/$which" "$TITLE" ./quillmark
        sleep 5
        c0=$(cpu_ticks "$P"); t0=$(now_ns)
        sleep "$SECS"
        c1=$(cpu_ticks "$P"); t1=$(now_ns)
        pct=$(awk -v d=$((c1 - c0)) -v hz="$hz" -v dt=$((t1 - t0)) 'BEGIN {printf "%.2f", 100 * d / hz / (dt / 1e9)}')
        echo "$r $which $pct $(cut -d' ' -f1 /proc/loadavg)" | tee -a "$OUT/cpu.txt"
        stop "$P"; stop "$FEED"
      done
    done
    for which in old new; do
      printf "median %s: " "$which"
      awk -v w="$which" '$2 == w {print $3}' "$OUT/cpu.txt" | median
    done | tee -a "$OUT/cpu.txt"
    ;;
  *) echo "usage: $0 startup OLD NEW [ROUNDS] | cpu OLD NEW [SECONDS] [RATE] [ROUNDS]" >&2; exit 2 ;;
esac
echo "results in $OUT"

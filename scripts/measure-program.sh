#!/usr/bin/env bash
# Measures the whole program: start to window shown with its resident memory, and a soak
# fed by a loopback APRS-IS feeder (CPU, resident memory every 10 s, GUI answer times by
# _NET_WM_PING round trips). Runs under its own Xvfb display; the executable is copied
# into a temporary folder with its own Quillmark.ini, so no other settings are touched.
#
# Usage: scripts/measure-program.sh startup [RUNS]
#        scripts/measure-program.sh soak [SECONDS] [RATE]
# Environment: BUILD (default build/default), PORT (default 14580+), PRINT=1 to print pages
# to the system's default printer (else "Disable printing" is checked), OUT (result folder).
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=${BUILD:-build/default}
MODE=${1:-soak}
OUT=${OUT:-$(mktemp -d /tmp/qm-measure.XXXXXX)}
PORT=${PORT:-$((14580 + RANDOM % 1000))}
PRINT=${PRINT:-0}
mkdir -p "$OUT"

[ -x "$BUILD/app/quillmark" ] || { echo "no $BUILD/app/quillmark; build it first" >&2; exit 1; }
PROBE=$OUT/wm_ping_probe
c++ -O2 -std=c++20 -o "$PROBE" bench/app/wm_ping_probe.cpp -lX11

CORPUS=$OUT/corpus.tnc2
[ -f "$CORPUS" ] || bench/app/gen-corpus.sh 100000 "$CORPUS"

RUN=$OUT/run
mkdir -p "$RUN"
cp "$BUILD/app/quillmark" "$RUN/"
write_ini() {
  local disable=True
  [ "$PRINT" = 1 ] && disable=False
  cat >"$RUN/Quillmark.ini" <<EOF
[Connection]
Transport=aprs-is
Server=127.0.0.1
Port=$PORT
Callsign=Q0DEMO-9
[Settings]
cbThisStation.Checked=True
cbDisablePrinting.Checked=$disable
cbBeepOnReceive.Checked=False
edMsgCount.Text=20
EOF
}

# A display of our own.
DISP=:$((90 + RANDOM % 100))
Xvfb "$DISP" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$OUT/xvfb.log" 2>&1 &
XVFB=$!
PIDS=("$XVFB")
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
export DISPLAY=$DISP
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

now_ns() { date +%s%N; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
TITLE="Quillmark v1.3.3"

# Starts the program and waits for its window to be mapped; sets QM, MS, RSS and WID.
start_program() {
  local t0 wid t1
  t0=$(now_ns)
  (cd "$RUN" && exec ./quillmark >"$OUT/quillmark.out" 2>&1) &
  QM=$!
  PIDS+=("$QM")
  wid=""
  for _ in $(seq 2000); do
    wid=$(xdotool search --onlyvisible --name "$TITLE" 2>/dev/null | head -1 || true)
    [ -n "$wid" ] && break
    sleep 0.002
  done
  t1=$(now_ns)
  [ -n "$wid" ] || { echo "window never shown" >&2; return 1; }
  MS=$(((t1 - t0) / 1000000)); RSS=$(rss_kb "$QM"); WID=$wid
}

case "$MODE" in
  startup)
    RUNS=${2:-10}
    write_ini
    echo "# run ms_to_window rss_kb_at_window rss_kb_1s_later (load: $(cut -d' ' -f1-3 /proc/loadavg))" | tee "$OUT/startup.txt"
    for r in $(seq "$RUNS"); do
      python3 bench/app/aprsis_feeder.py "$PORT" "$CORPUS" 3 2000 &
      FEED=$!
      PIDS+=("$FEED")
      sleep 0.3
      start_program
      sleep 1
      echo "$r $MS $RSS $(rss_kb "$QM")" | tee -a "$OUT/startup.txt"
      kill "$QM"; wait "$QM" 2>/dev/null || true
      wait "$FEED" 2>/dev/null || true
    done
    ;;
  soak)
    SECONDS_RUN=${2:-600}
    RATE=${3:-2000}
    write_ini
    python3 bench/app/aprsis_feeder.py "$PORT" "$CORPUS" "$((SECONDS_RUN + 30))" "$RATE" Q0DEMO-9 2 \
      "$OUT/feeder.txt" 2>/dev/null &
    FEED=$!
    PIDS+=("$FEED")
    sleep 0.3
    start_program
    echo "window shown after $MS ms, rss $RSS kB, window $WID" | tee "$OUT/soak.txt"
    sleep 10  # settle: connection made, first pages
    "$PROBE" "$WID" "$SECONDS_RUN" 100 2000 >"$OUT/ping.txt" &
    PING=$!
    PIDS+=("$PING")
    hz=$(getconf CLK_TCK)
    c0=$(cpu_ticks "$QM"); x0=$(cpu_ticks "$XVFB"); t0=$(now_ns)
    echo "# s rss_kb cpu%_last10s load1" | tee -a "$OUT/soak.txt"
    cp=$c0; tp=$t0
    for i in $(seq $((SECONDS_RUN / 10))); do
      sleep 10
      c=$(cpu_ticks "$QM"); t=$(now_ns)
      pct=$(awk -v d=$((c - cp)) -v hz="$hz" -v dt=$((t - tp)) 'BEGIN {printf "%.1f", 100 * d / hz / (dt / 1e9)}')
      echo "$((i * 10)) $(rss_kb "$QM") $pct $(cut -d' ' -f1 /proc/loadavg)" | tee -a "$OUT/soak.txt"
      cp=$c; tp=$t
    done
    c1=$(cpu_ticks "$QM"); x1=$(cpu_ticks "$XVFB"); t1=$(now_ns)
    awk -v d=$((c1 - c0)) -v x=$((x1 - x0)) -v hz="$hz" -v dt=$((t1 - t0)) \
      'BEGIN {printf "cpu quillmark %.2f%% of one core, Xvfb %.2f%%, over %.0f s\n", 100*d/hz/(dt/1e9), 100*x/hz/(dt/1e9), dt/1e9}' |
      tee -a "$OUT/soak.txt"
    wait "$PING" || true
    cat "$OUT/ping.txt" | tee -a "$OUT/soak.txt"
    echo "uptime: $(uptime)" | tee -a "$OUT/soak.txt"
    kill "$QM"; wait "$QM" 2>/dev/null || true
    wait "$FEED" 2>/dev/null || true  # it stops when the program's end closes the connection
    wanted=$(find "$RUN" -name "*.log" -print0 | xargs -0 cat | grep -c "bench message" || true)
    echo "wanted messages logged: $wanted; $(cat "$OUT/feeder.txt" 2>/dev/null)" | tee -a "$OUT/soak.txt"
    ;;
  *) echo "usage: $0 startup [RUNS] | soak [SECONDS] [RATE]" >&2; exit 2 ;;
esac
echo "results in $OUT"

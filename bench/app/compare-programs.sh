#!/usr/bin/env bash
# Two Quillmark executables, Xastir where installed and the floors built with the benchmarks
# (bench/floor) side by side on one Xvfb display, in interleaved rounds, so a busy machine
# slows them alike. Every path is the repository's own or found beside it, so a clone reruns it.
#
# Usage: bench/app/compare-programs.sh startup OLD NEW [ROUNDS]
#          start to window shown (mapped), ms, per program and round; with STORE naming a
#          message store file, each program starts on a fresh copy of it in every round
#          (bench/store/seed-store.py fills one); each program's CPU at the window too (all
#          its threads, from the scheduler's account)
#        bench/app/compare-programs.sh cpu OLD NEW [SECONDS] [RATE] [ROUNDS]
#          CPU of the whole program fed RATE packets/s by the loopback APRS-IS feeder,
#          after SETTLE s to connect (default 5; Xastir may need more on a busy machine),
#          over SECONDS; also the lines it read a second, what waits unread between
#          feeder and program at the end, and the X server's CPU meanwhile; floor_epoll and
#          floor_parse beside them. RATE may be a list ("20,50,200,2000"), one run a rate
#        bench/app/compare-programs.sh latency OLD NEW [SECONDS] [RATE] [ROUNDS]
#          as cpu, with a wanted message every WANTED_EVERY s (default 0.2): each stamped
#          by the feeder as it is sent and read back from the log's stamp (bench/app/latency.py),
#          p50, p99 and longest delay in ms over the counted span, beside floor_parse's
#          (Xastir keeps no stamped log, floor_epoll judges nothing: neither runs here)
# OLD and NEW are quillmark executables; each runs from a folder of its own with the same
# Quillmark.ini (printing disabled). Results go to OUT (default a /tmp/qm-compare.* folder).
# CORPUS names the TNC2 lines the cpu mode feeds (default: made in OUT by GEN_CORPUS, a generator
# taking "N_LINES OUT_PATH"; by default gen_corpus.py in the shared folder beside the clone, as
# the build finds it). FLOORS names the folder of the floor executables (default
# build/bench/bench/floor, made by the bench preset); a floor missing there is left out.
#
# Xastir reads its settings from $XASTIR_USER_BASE/.xastir (it takes the home folder from
# the password database, not from HOME), so each run gets a folder of its own with a
# written xastir.cnf: a callsign (with none it opens its station dialog first), the same
# window size as Quillmark's, no map index at start and no maps selected, and one
# interface, an internet server stream (type 5) at 127.0.0.1 on the feeder's port (the
# port goes in DEVICE0_SPEED) that it opens at start. Anything left out takes its default.
#
# BUSY=N keeps N more CPU-bound workers running for the whole run (stress-ng --cpu N, or a
# shell loop where stress-ng is missing), so the programs are compared on a busy machine;
# the load average goes with each row either way.
set -euo pipefail
cd "$(dirname "$0")/../.."
# The log's stamps and the feeder's sends are compared as times of day.
export TZ=UTC
MODE=${1:?mode}
OLD=$(realpath "${2:?old executable}")
NEW=$(realpath "${3:?new executable}")
OUT=${OUT:-$(mktemp -d /tmp/qm-compare.XXXXXX)}
mkdir -p "$OUT"
CORPUS=${CORPUS:-$OUT/corpus.tnc2}
FLOORS=$(realpath -m "${FLOORS:-build/bench/bench/floor}")
# The start needs no corpus.
if [ "$MODE" != startup ]; then
  [ -f "$CORPUS" ] || bench/app/gen-corpus.sh 100000 "$CORPUS"
  CORPUS=$(realpath "$CORPUS")
fi
TITLE="Quillmark v1.3.3"
# XASTIR= (empty) leaves Xastir out.
XASTIR=${XASTIR-$(command -v xastir || true)}

DISP=:$((200 + RANDOM % 100))
Xvfb "$DISP" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$OUT/xvfb.log" 2>&1 &
PIDS=($!)
cleanup() { for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
export DISPLAY=$DISP
if [ "${BUSY:-0}" -gt 0 ]; then
  if command -v stress-ng >/dev/null; then
    stress-ng --cpu "$BUSY" --quiet >/dev/null 2>&1 &
    PIDS+=($!)
  else
    for _ in $(seq "$BUSY"); do
      (while :; do :; done) &
      PIDS+=($!)
    done
  fi
fi
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
prepare_xastir() {  # folder port
  rm -rf "$1/.xastir"
  mkdir -p "$1/.xastir/config"
  cat >"$1/.xastir/config/xastir.cnf" <<CNF
STATION_CALLSIGN:Q0DEMO-9
SCREEN_WIDTH:680
SCREEN_HEIGHT:389
MAPS_INDEX_ON_STARTUP:0
DEVICE0_TYPE:5
DEVICE0_HOST:127.0.0.1
DEVICE0_SPEED:$2
DEVICE0_ONSTARTUP:1
CNF
}
now_ns() { date +%s%N; }

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
  CPU_MS=$(cpu_ns "$P" | awk '{printf "%.0f", $1 / 1e6}')
}
# CPU time of all the process's threads so far, in ns (the scheduler's own account). A thread
# that ends between the folder's listing and its read makes cat fail; that must not end the
# script (pipefail) in the middle of a run. Printed whole: mawk writes a sum past 2^31 as
# 2.6e+09, which the shell's arithmetic cannot read.
cpu_ns() { { cat /proc/"$1"/task/*/schedstat 2>/dev/null || true; } | awk '{s += $1} END {printf "%.0f\n", s}'; }
# Xastir does not end on SIGTERM while it starts up: KILL after 2 s.
stop() {
  kill "$1" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.02; done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
median() { sort -n | awk '{a[NR]=$1} END {if (!NR) print "-"; else print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

floor() {  # name: the floor's executable, or nothing when it was not built
  [ -x "$FLOORS/$1" ] && echo "$FLOORS/$1" || true
}
FLOOR_QT=$(floor floor_qt)

case "$MODE" in
  startup)
    ROUNDS=${4:-10}
    PORT=$((15580 + RANDOM % 1000))
    prepare "$OUT/old" "$OLD" "$PORT"
    prepare "$OUT/new" "$NEW" "$PORT"
    [ -z "$XASTIR" ] || prepare_xastir "$OUT/xastir" "$PORT"
    mkdir -p "$OUT/floor_qt"
    echo "# round old_ms new_ms xastir_ms load1 old_cpu_ms new_cpu_ms xastir_cpu_ms floor_qt_ms" \
      "floor_qt_cpu_ms (Xvfb $DISP, no window manager, BUSY=${BUSY:-0})" |
      tee "$OUT/startup.txt"
    seed() {  # folder
      [ -z "${STORE:-}" ] || { rm -f "$1"/Quillmark-messages.db*; cp "$STORE" "$1/Quillmark-messages.db"; sync; }
    }
    for r in $(seq "$ROUNDS"); do
      seed "$OUT/old"
      time_to_window "$OUT/old" "$TITLE" ./quillmark; o=$MS; oc=$CPU_MS; sleep 0.5; stop "$P"
      seed "$OUT/new"
      time_to_window "$OUT/new" "$TITLE" ./quillmark; n=$MS; nc=$CPU_MS; sleep 0.5; stop "$P"
      x=- xc=- f=- fc=-
      if [ -n "$XASTIR" ]; then
        time_to_window "$OUT/xastir" "^XASTIR" env XASTIR_USER_BASE="$OUT/xastir" "$XASTIR"
        x=$MS; xc=$CPU_MS; sleep 0.5; stop "$P"
      fi
      if [ -n "$FLOOR_QT" ]; then
        time_to_window "$OUT/floor_qt" "^floor_qt$" "$FLOOR_QT"; f=$MS; fc=$CPU_MS; sleep 0.5; stop "$P"
      fi
      echo "$r $o $n $x $(cut -d' ' -f1 /proc/loadavg) $oc $nc $xc $f $fc" | tee -a "$OUT/startup.txt"
    done
    # The rounds' rows only: the medians' own lines go to the same file as they are printed.
    for c in 2 3 4 6 7 8 9 10; do
      m=$(grep '^[0-9]' "$OUT/startup.txt" | awk -v c="$c" '$c != "-" {print $c}' | median)
      echo "median column $c: $m"
    done | tee -a "$OUT/startup.txt"
    ;;
  cpu | latency)
    SECS=${4:-20}
    RATES=${5:-2000}
    ROUNDS=${6:-3}
    SETTLE=${SETTLE:-5}
    XVFB=${PIDS[0]}
    programs=(old new)
    if [ "$MODE" = cpu ]; then
      WANTED_EVERY=${WANTED_EVERY:-2}
      [ -z "$XASTIR" ] || programs+=(xastir)
      [ -z "$(floor floor_epoll)" ] || programs+=(floor_epoll)
    else
      WANTED_EVERY=${WANTED_EVERY:-0.2}
    fi
    [ -z "$(floor floor_parse)" ] || programs+=(floor_parse)
    # Bytes a line takes on the wire (the feeder ends each with CR LF), to turn bytes read
    # into lines read.
    line_bytes=$(awk 'NF {n++; b += length($0) + 2} END {printf "%.1f", b / n}' "$CORPUS")
    # What the client on PORT has read from the feeder so far, and what waits unread on
    # either side of the loopback connection (bytes).
    sock_stat() {  # port
      local rd queued sendq
      read -r rd queued < <(ss -tniH "( dport = :$1 )" | awk '
        $1 == "ESTAB" {q = $2}
        {for (i = 1; i <= NF; i++) if ($i ~ /^bytes_received:/) {split($i, a, ":"); r = a[2]}}
        END {print r - q, q}')
      sendq=$(ss -tnH "( sport = :$1 )" | awk '$1 == "ESTAB" {print $3}')
      echo "$rd $((queued + ${sendq:-0}))"
    }
    # Starts one program fed on PORT; sets P, and LOG to where its wanted lines are stamped.
    start_program() {  # which port
      LOG=-
      case "$1" in
        xastir)
          prepare_xastir "$OUT/xastir" "$2"
          time_to_window "$OUT/xastir" "^XASTIR" env XASTIR_USER_BASE="$OUT/xastir" "$XASTIR"
          ;;
        floor_*)
          mkdir -p "$OUT/$1"
          # Only floor_parse judges, and prints the wanted lines it found.
          [ "$1" = floor_epoll ] || LOG=$OUT/$1/wanted.log
          "$(floor "$1")" "$2" Q0DEMO-9 >"$OUT/$1/wanted.log" 2>>"$OUT/program.out" &
          P=$!
          PIDS+=("$P")
          ;;
        *)
          local exe=$OLD
          [ "$1" = new ] && exe=$NEW
          prepare "$OUT/$1" "$exe" "$2"
          time_to_window "$OUT/$1" "$TITLE" ./quillmark
          LOG=$OUT/$1/*.log
          ;;
      esac
    }
    echo "# round program cpu%_of_one_core lines_read/s unread_kB_at_end xvfb_cpu% load1 rate" \
      "wanted_logged p50_ms p99_ms max_ms (over $SECS s, a wanted message every $WANTED_EVERY s," \
      "$line_bytes bytes a line, BUSY=${BUSY:-0})" | tee "$OUT/$MODE.txt"
    for RATE in ${RATES//,/ }; do
      for r in $(seq "$ROUNDS"); do
        for which in "${programs[@]}"; do
          PORT=$((15580 + RANDOM % 1000))
          sent=$OUT/sent-$which-$RATE-$r.txt
          python3 bench/app/aprsis_feeder.py "$PORT" "$CORPUS" "$((SECS + SETTLE + 10))" "$RATE" Q0DEMO-9 \
            "$WANTED_EVERY" "$OUT/feeder-$which-$RATE-$r.txt" "$sent" 2>/dev/null &
          FEED=$!
          PIDS+=("$FEED")
          sleep 0.3
          start_program "$which" "$PORT"
          sleep "$SETTLE"
          read -r b0 _ < <(sock_stat "$PORT")
          c0=$(cpu_ns "$P"); x0=$(cpu_ns "$XVFB"); t0=$(now_ns)
          sleep "$SECS"
          c1=$(cpu_ns "$P"); x1=$(cpu_ns "$XVFB"); t1=$(now_ns)
          read -r b1 unread < <(sock_stat "$PORT")
          # The feeder stops first, and what it sent last has a second to reach the log.
          stop "$FEED"
          sleep 1
          stop "$P"
          delay="- - - -"
          if [ "$LOG" != - ]; then
            # shellcheck disable=SC2086  # the program's log is found by its pattern
            delay=$(cat $LOG 2>/dev/null | python3 bench/app/latency.py /dev/stdin "$sent" $((t0 / 1000000)) |
              awk '{print $2 "/" $4, $6, $8, $10}')
          fi
          awk -v r="$r" -v w="$which" -v dc=$((c1 - c0)) -v dx=$((x1 - x0)) \
            -v dt=$((t1 - t0)) -v db=$((b1 - b0)) -v lb="$line_bytes" -v un="$unread" -v rate="$RATE" \
            -v delay="$delay" -v load="$(cut -d' ' -f1 /proc/loadavg)" 'BEGIN {
              s = dt / 1e9
              printf "%s %s %.2f %.0f %.1f %.2f %s %s %s\n", r, w, 100 * dc / 1e9 / s, db / lb / s,
                un / 1024, 100 * dx / 1e9 / s, load, rate, delay}' | tee -a "$OUT/$MODE.txt"
        done
      done
      for which in "${programs[@]}"; do
        rows() { awk -v w="$which" -v rate="$RATE" -v c="$1" '/^[0-9]/ && $2 == w && $8 == rate && $c != "-" {print $c}' \
          "$OUT/$MODE.txt"; }
        printf "median %s at %s/s: cpu%% %s, lines read/s %s, p50 %s ms, p99 %s ms, longest %s ms\n" \
          "$which" "$RATE" "$(rows 3 | median)" "$(rows 4 | median)" "$(rows 10 | median)" \
          "$(rows 11 | median)" "$(rows 12 | sort -n | tail -1 | grep . || echo -)"
      done | tee -a "$OUT/$MODE.txt"
    done
    ;;
  *) echo "usage: $0 startup OLD NEW [ROUNDS] | cpu|latency OLD NEW [SECONDS] [RATE[,RATE...]] [ROUNDS]" >&2; exit 2 ;;
esac
echo "results in $OUT"

#!/usr/bin/env bash
# A CUPS queue that writes every job as a PDF file, for the printing tests and the demo.
#   start   start cupsd if it is not running and create the queue (idempotent)
#   stop    remove the queue; stop cupsd only if this script started it
#   status  show cupsd, the queue, the default printer and the PDF folder
#   newest  print the PDF file of the newest completed job of the queue
# The files are in PDF_DIR/<user>/job_<id>-<title>.pdf.
#   halt    stop the cupsd this script started, by its PID, keeping the queue and the jobs
#           waiting in /var/spool/cups: a spooler gone down; start brings it back
# Installs nothing: needs the Debian packages cups, printer-driver-cups-pdf, cups-ipp-utils.
set -euo pipefail

QUEUE=Quillmark-PDF
PDF_DIR=/var/spool/quillmark-pdf
# cups-pdf reads /etc/cups/cups-pdf-<name>.conf for a queue whose device is cups-pdf:/<name>.
DEVICE=cups-pdf:/quillmark
CONF=/etc/cups/cups-pdf-quillmark.conf
SOCKET=/run/cups/cups.sock
PID_FILE=/run/quillmark-cupsd.pid
LOG=/var/log/cups/quillmark-cupsd.log

die() { echo "cups-pdf-queue: $*" >&2; exit 1; }

need_tools() {
  local missing=()
  [ -x /usr/sbin/cupsd ] || missing+=("cups (/usr/sbin/cupsd)")
  command -v lpadmin >/dev/null || missing+=("cups-client (lpadmin)")
  [ -x /usr/lib/cups/backend/cups-pdf ] || missing+=("printer-driver-cups-pdf (cups-pdf backend)")
  [ -f /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd ] || missing+=("printer-driver-cups-pdf (CUPS-PDF_opt.ppd)")
  command -v ipptool >/dev/null || missing+=("cups-ipp-utils (ipptool)")
  [ ${#missing[@]} -eq 0 ] || die "missing: ${missing[*]}; install with: apt-get install cups printer-driver-cups-pdf cups-ipp-utils poppler-utils"
}

cupsd_answers() { [ -S "$SOCKET" ] && lpstat -r >/dev/null 2>&1 && lpstat -r | grep -q "is running"; }

start_cupsd() {
  cupsd_answers && return 0
  [ "$(id -u)" -eq 0 ] || die "cupsd is not running and only root can start it"
  mkdir -p /run/cups /var/log/cups
  setsid /usr/sbin/cupsd -f >>"$LOG" 2>&1 </dev/null &
  echo $! >"$PID_FILE"

  for _ in $(seq 1 100); do
    cupsd_answers && return 0
    kill -0 "$(cat "$PID_FILE")" 2>/dev/null || die "cupsd ended at start; see $LOG"
    sleep 0.1
  done
  die "cupsd did not answer on $SOCKET within 10 s; see $LOG"
}

queue_exists() { lpstat -p "$QUEUE" >/dev/null 2>&1; }

# cups-pdf writes a job's file as the user who printed it: one folder per user, made by
# cups-pdf and owned by that user (in a folder of root's, any other user's job failed
# "non fatal" and CUPS still counted it printed), files readable by that user only.
write_conf() {
  mkdir -p "$PDF_DIR"
  chmod 0755 "$PDF_DIR"
  cat >"$CONF.tmp" <<CONF
# cups-pdf settings of the $QUEUE queue (written by scripts/cups-pdf-queue.sh)
Out $PDF_DIR/\${USER}
AnonDirName $PDF_DIR/ANONYMOUS
UserUMask 0077
Grp lpadmin
DecodeHexStrings 1
CONF
  mv "$CONF.tmp" "$CONF"
}

cmd_start() {
  need_tools
  [ "$(id -u)" -eq 0 ] || { queue_exists && cupsd_answers && { cmd_status; return 0; }; die "run as root to set up the queue"; }
  write_conf
  start_cupsd
  if ! queue_exists || [ "$(lpstat -v "$QUEUE" 2>/dev/null | awk '{print $NF}')" != "$DEVICE" ]; then
    # pdftocairo: other renderers give PDFs whose text pdftotext cannot read;
    # TitlePref/Label: file names job_<id>-<title>.pdf that never collide.
    lpadmin -p "$QUEUE" -E -v "$DEVICE" -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd \
      -o pdftops-renderer-default=pdftocairo -o TitlePref=1 -o Label=1 -o printer-is-shared=false \
      -D "Quillmark PDF files in $PDF_DIR"
  fi
  cupsenable "$QUEUE" 2>/dev/null || true
  cupsaccept "$QUEUE" 2>/dev/null || true
  # Never take the place of a default printer the machine already has.
  if lpstat -d 2>/dev/null | grep -q "no system default destination"; then
    lpadmin -d "$QUEUE"
  fi
  echo "$PDF_DIR"
}

cmd_stop() {
  if cupsd_answers && queue_exists; then
    [ "$(id -u)" -eq 0 ] || die "run as root to remove the queue"
    lpadmin -x "$QUEUE"
  fi
  rm -f "$CONF"
  if [ -f "$PID_FILE" ]; then
    local pid
    pid=$(cat "$PID_FILE")
    # Only the cupsd this script started, and only while it is still that program.
    if [ -n "$pid" ] && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = cupsd ]; then
      kill "$pid"
      for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -f "$PID_FILE"
  fi
}

cmd_status() {
  if cupsd_answers; then echo "cupsd: running"; else echo "cupsd: not running"; fi
  if cupsd_answers && queue_exists; then
    lpstat -p "$QUEUE"
    lpstat -d || true
  else
    echo "queue $QUEUE: absent"
  fi
  echo "PDF folder: $PDF_DIR"
  cupsd_answers && queue_exists
}

cmd_newest() {
  cupsd_answers || die "cupsd is not running"
  local id
  id=$(lpstat -W completed -o "$QUEUE" 2>/dev/null | awk '{print $1}' | sed "s/^$QUEUE-//" | sort -n | tail -1)
  [ -n "$id" ] || die "no completed job on $QUEUE"
  local pdf
  pdf=$(find "$PDF_DIR" -name "job_${id}-*.pdf" -print -quit)
  [ -n "$pdf" ] || die "no PDF file for job $id in $PDF_DIR"
  echo "$pdf"
}

cmd_halt() {
  [ -f "$PID_FILE" ] || die "cupsd was not started by this script ($PID_FILE missing); not stopping it"
  local pid
  pid=$(cat "$PID_FILE")
  [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = cupsd ] || die "process $pid is not the cupsd this script started"
  # SIGTERM: cupsd writes its jobs out and ends, as when the service is stopped.
  kill "$pid"
  # Ended, or a zombie where nobody reaps the orphans (a container's init may not).
  for _ in $(seq 1 100); do
    grep -qs '^State:[[:space:]]*[^Z]' /proc/"$pid"/status || { rm -f "$PID_FILE"; return 0; }
    sleep 0.1
  done
  die "cupsd $pid did not end within 10 s"
}

case "${1:-}" in
  start) cmd_start ;;
  stop) cmd_stop ;;
  status) cmd_status ;;
  newest) cmd_newest ;;
  halt) cmd_halt ;;
  *) echo "usage: $0 start|stop|status|newest|halt" >&2; exit 2 ;;
esac

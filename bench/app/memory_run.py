#!/usr/bin/env python3
"""Resident memory and CPU of one quillmark run over a capture, by either link.

Runs EXE --no-window with its own folder (Quillmark.ini: own call Q0DEMO-9, bulletins and
announcements wanted, printing to PDF files or disabled) and takes the capture's packets
either by replay (--replay CAPTURE --pace 0) or from a loopback APRS-IS server that sends
the same lines as fast as the program reads them. Samples VmRSS (and its anonymous and
file parts) and utime+stime every PERIOD s, with how many packets the program has taken:
for the replay the capture's read offset (/proc/PID/fdinfo), for APRS-IS the lines sent.
After the program has read the last line it keeps the connection open for HOLD s and
samples on. The log's message lines and "packets were dropped" notes are counted.

Usage: memory_run.py EXE CAPTURE OUTDIR (replay|aprs-is) (pdf|off|cups) [HOLD] [PERIOD]
  pdf: --print-to-pdf OUTDIR/pdf; cups: the system's default printer; off: printing disabled.
  QM_WINDOW=1: with the window (on $DISPLAY) instead of --no-window.
  QM_RATE=N: the APRS-IS server sends at most N lines a second (default: as fast as read).
Prints one summary line; OUTDIR/samples.txt holds every sample.
"""
import bisect
import fcntl
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import loopback_feed  # noqa: E402

exe, capture, outdir, link, printing = sys.argv[1:6]
hold = float(sys.argv[6]) if len(sys.argv) > 6 else 10.0
period = float(sys.argv[7]) if len(sys.argv) > 7 else 0.25

shutil.rmtree(outdir, ignore_errors=True)
cfg = os.path.join(outdir, "cfg")
pdf = os.path.join(outdir, "pdf")
os.makedirs(cfg)
os.makedirs(pdf)
with open(os.path.join(cfg, "Quillmark.ini"), "w") as f:
    f.write("[Connection]\nCallsign=Q0DEMO-9\n[Settings]\ncbThisStation.Checked=True\n"
            "cbBull.Checked=True\ncbAnn.Checked=True\ncbBeepOnReceive.Checked=False\n"
            "edMsgCount.Text=20\ncbDisablePrinting.Checked=%s\n" % ("True" if printing == "off" else "False"))

offsets = []
pos = 0
with open(capture, "rb") as f:
    lines = f.readlines()
apr_offsets = []
apr_pos = 0
for line in lines:
    pos += len(line)
    offsets.append(pos)
    apr_pos += len(line.rstrip(b"\r\n")) + 1  # less the marker, CR LF for LF
    apr_offsets.append(apr_pos)
total = len(lines)

window = os.environ.get("QM_WINDOW") == "1"  # the window on $DISPLAY instead of --no-window
args = [exe] + ([] if window else ["--no-window"]) + ["--config", cfg, "--callsign", "Q0DEMO-9"]
if printing == "pdf":
    args += ["--print-to-pdf", pdf]
if link == "replay":
    args += ["--replay", capture, "--pace", "0"]
else:
    feed = loopback_feed.Start(lines, int(os.environ.get("QM_RATE", "0")))
    args += ["--aprs-is", "127.0.0.1:%d" % feed.port]

proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
hz = os.sysconf("SC_CLK_TCK")
cap = os.path.realpath(capture)
t0 = time.monotonic()
samples = []


def read_sample():
    with open("/proc/%d/status" % proc.pid) as s:
        st = {l.split(":")[0]: l.split()[1] for l in s if l.startswith(("VmRSS", "RssAnon", "RssFile"))}
    with open("/proc/%d/stat" % proc.pid) as s:
        f = s.read().rsplit(")", 1)[1].split()
        cpu = (int(f[11]) + int(f[12])) / hz
    if link != "replay":
        taken = 0
        if feed.conn:
            # Read by the program: sent, less what waits in the sender's and receiver's queues.
            conn = feed.conn
            waiting = int.from_bytes(fcntl.ioctl(conn.fileno(), 0x5411, b"\0" * 4), "little")
            port = "%04X" % conn.getpeername()[1]
            with open("/proc/net/tcp") as t:
                for row in t:
                    f = row.split()
                    if f[1].endswith(":" + port) and f[1].startswith("0100007F"):
                        waiting += int(f[4].split(":")[1], 16)
            read = feed.sent - waiting
            # The APRS-IS lines lack the capture's one-byte marker.
            taken = bisect.bisect_right(apr_offsets, read)
    else:
        taken = -1
        for fd in os.listdir("/proc/%d/fd" % proc.pid):
            try:
                if os.readlink("/proc/%d/fd/%s" % (proc.pid, fd)) == cap:
                    with open("/proc/%d/fdinfo/%s" % (proc.pid, fd)) as fi:
                        taken = bisect.bisect_right(offsets, int(fi.readline().split()[1]))
            except OSError:
                pass
        if taken < 0:
            taken = samples[-1][1] if samples else 0
    return (time.monotonic() - t0, taken, int(st["VmRSS"]), int(st["RssAnon"]), int(st["RssFile"]), cpu)


with open(os.path.join(outdir, "samples.txt"), "w") as out:
    out.write("# seconds packets vmrss_kb rssanon_kb rssfile_kb cpu_s\n")
    read_all = None
    while proc.poll() is None:
        try:
            s = read_sample()
        except (OSError, StopIteration, KeyError, IndexError):
            break
        samples.append(s)
        out.write("%.2f %d %d %d %d %.2f\n" % s)
        out.flush()
        # The hold counts from when the program has read the last line.
        if link != "replay" and s[1] >= total:
            read_all = read_all or time.monotonic()
            if time.monotonic() - read_all > hold:
                break
        time.sleep(period)
if proc.poll() is None:
    proc.terminate()
    proc.wait(30)


def first_at(n):
    return next((s for s in samples if s[1] >= n), samples[-1])


s10k = first_at(10000)
# The replay ends the program at the capture's end: its last sample; APRS-IS: when the
# last line was sent, and at the end of the hold.
s1m = samples[-1] if link == "replay" else first_at(total)
end = samples[-1]
peak = max(s[2] for s in samples)
# CPU from the 10,000th packet to the end (the hold idles), per packet.
cpu_run = end[5] - s10k[5]
pk = end[1] - s10k[1]
listed = dropped = 0
for name in os.listdir(cfg):
    if name.endswith(".log"):
        with open(os.path.join(cfg, name), "rb") as f:
            for l in f:
                listed += b"::" in l and b"Duplicate" not in l
                m = re.search(rb"(\d+) packets were dropped", l)
                dropped += int(m.group(1)) if m else 0
print("%s %s %s%s: rss@%d=%d kB rss@%d=%d kB (anon %d, file %d) peak=%d kB end(+%.0fs)=%d kB; "
      "cpu %.2f s for %d packets = %.1f us/packet; messages logged %d, packets dropped %d"
      % (os.path.dirname(exe), link, printing, " window" if window else "", s10k[1], s10k[2], s1m[1], s1m[2], s1m[3], s1m[4], peak,
         end[0] - s1m[0], end[2], cpu_run, pk, 1e6 * cpu_run / max(pk, 1), listed, dropped))

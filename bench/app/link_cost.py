#!/usr/bin/env python3
"""Instructions a packet costs the whole program, by link: replay against APRS-IS.

Runs EXE --no-window under callgrind twice per link, over the first N1 and the first N2
lines of CAPTURE (printing disabled, bulletins and announcements wanted), and divides the
difference of the instructions collected by N2 - N1, so the start and the end cancel out.
Replay: --replay --pace 0 (the program ends with the capture). APRS-IS: a loopback server
sends the same lines as fast as they are read, the program is ended with SIGTERM once its
log holds the last line (a bulletin put at the end for that).

With QM_COST=cpu the program runs without callgrind and the figure is its CPU time
(user + system, from wait4) a packet, taken the same way. With QM_WINDOW=1 the program
shows its window (on $DISPLAY) instead of running with --no-window.

Usage: link_cost.py EXE CAPTURE OUTDIR [N1] [N2]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import loopback_feed  # noqa: E402

exe, capture, outdir = sys.argv[1:4]
n1 = int(sys.argv[4]) if len(sys.argv) > 4 else 10000
n2 = int(sys.argv[5]) if len(sys.argv) > 5 else 30000
cpu_mode = os.environ.get("QM_COST") == "cpu"
window = os.environ.get("QM_WINDOW") == "1"  # the window on $DISPLAY instead of --no-window
unit = "CPU seconds" if cpu_mode else "instructions"
with open(capture, "rb") as f:
    lines = [next(f) for _ in range(n2)]


def run(link, n):
    d = os.path.join(outdir, "%s-%d" % (link, n))
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    with open(os.path.join(d, "Quillmark.ini"), "w") as f:
        f.write("[Connection]\nCallsign=Q0DEMO-9\n[Settings]\ncbThisStation.Checked=True\ncbBull.Checked=True\n"
                "cbAnn.Checked=True\ncbBeepOnReceive.Checked=False\ncbDisablePrinting.Checked=True\n")
    end = b"*Q0END>APRS,TCPIP*::BLN9     :end of run %d\n" % n
    body = lines[:n - 1] + [end]
    cap = os.path.join(d, "capture.txt")
    with open(cap, "wb") as f:
        f.writelines(body)
    args = [exe] + ([] if window else ["--no-window"]) + ["--config", d, "--callsign", "Q0DEMO-9"]
    if not cpu_mode:
        args = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + os.path.join(d, "callgrind.out")] + args
    if link == "replay":
        args += ["--replay", cap, "--pace", "0"]
    else:
        feed = loopback_feed.Start(body)
        args += ["--aprs-is", "127.0.0.1:%d" % feed.port]
    proc = subprocess.Popen(args, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL if cpu_mode else subprocess.PIPE)
    if link != "replay":
        mark = b"end of run %d" % n
        while proc.poll() is None:
            logs = [os.path.join(d, x) for x in os.listdir(d) if x.endswith(".log")]
            if any(mark in open(p, "rb").read() for p in logs):
                break
            time.sleep(0.5)
        proc.send_signal(signal.SIGTERM)
    if cpu_mode:
        _, _, usage = os.wait4(proc.pid, 0)
        return usage.ru_utime + usage.ru_stime
    err = proc.communicate()[1].decode(errors="replace")
    m = re.search(r"Collected : (\d+)", err)
    if not m:
        sys.exit("no instruction count from callgrind:\n" + err[-2000:])
    return int(m.group(1))


result = {}
for link in ("replay", "aprs-is"):
    a, b = run(link, n1), run(link, n2)
    result[link] = (b - a) / (n2 - n1)
    per = result[link] * 1e6 if cpu_mode else result[link]
    print("%s %s: %.6g %s for %d lines, %.6g for %d: %.1f %s a packet"
          % (exe, link, a, unit, n1, b, n2, per, "us" if cpu_mode else "instructions"), flush=True)
print("replay / APRS-IS: %.2f" % (result["replay"] / result["aprs-is"]))

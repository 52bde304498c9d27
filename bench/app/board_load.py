#!/usr/bin/env python3
"""The board under load: the program without a window takes 2,000 packets/s from the loopback
APRS-IS feeder while CLIENTS pages follow the board's pushed state (Server-Sent Events, as the
page does). Two runs of SECONDS each, the board off (--web off) and on with the clients, so
the CPU the board adds is the difference of the same measurement. Reports per run: the
feeder's rate and wanted messages, the wanted messages the log holds, the "dropped" notes,
the program's CPU (share of one core) over the steady part, and for the board run the
resident memory before and after the clients came (its difference per client), the events
each client received and whether any client was cut off.

Usage: board_load.py EXE OUTDIR [CLIENTS] [SECONDS] [RATE]
"""
import os
import re
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
EXE, OUT = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
CLIENTS = int(sys.argv[3]) if len(sys.argv) > 3 else 50
SECONDS = float(sys.argv[4]) if len(sys.argv) > 4 else 40
RATE = float(sys.argv[5]) if len(sys.argv) > 5 else 2000
TICK = os.sysconf("SC_CLK_TCK")


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Follower(threading.Thread):
    """One page following the state: a GET /api/events read until the run ends."""

    def __init__(self, port, token):
        super().__init__(daemon=True)
        self.port, self.token = port, token
        self.events = 0
        self.bytes = 0
        self.cut = False
        self.stop = False

    def run(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        s.sendall(("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer %s\r\n\r\n"
                   % self.token).encode())
        s.settimeout(1)
        while not self.stop:
            try:
                data = s.recv(65536)
            except socket.timeout:
                continue
            if not data:
                self.cut = not self.stop
                break
            self.bytes += len(data)
            self.events += data.count(b"event: state")
        s.close()


def one_run(name, board):
    folder = os.path.join(OUT, name)
    os.makedirs(folder, exist_ok=True)
    port = free_port()
    with open(os.path.join(folder, "Quillmark.ini"), "w") as f:
        f.write("[Connection]\nTransport=aprs-is\nServer=127.0.0.1\nPort=%d\nCallsign=Q0DEMO-9\n"
                "[Settings]\ncbThisStation.Checked=True\ncbDisablePrinting.Checked=True\n"
                "cbBeepOnReceive.Checked=False\nedMsgCount.Text=20\n" % port)
    stats = os.path.join(folder, "feeder.txt")
    feeder = subprocess.Popen([sys.executable, os.path.join(HERE, "aprsis_feeder.py"), str(port), CORPUS,
                               str(SECONDS), str(RATE), "Q0DEMO-9", "0.5", stats], stderr=subprocess.DEVNULL)
    time.sleep(0.5)  # the feeder listens before the program connects
    err_path = os.path.join(folder, "stderr.txt")
    err = open(err_path, "w")
    env = dict(os.environ, HOME=folder)
    env.pop("DISPLAY", None)
    prog = subprocess.Popen([EXE, "--no-window", "--config", folder, "--web", "127.0.0.1:0" if board else "off"],
                            stdout=subprocess.DEVNULL, stderr=err, env=env)
    start = time.monotonic()
    followers = []
    token = None
    if board:
        while token is None and time.monotonic() - start < 20:
            m = re.search(r"Board: http://127\.0\.0\.1:(\d+)/\?token=(\w+)", open(err_path).read())
            if m:
                bport, token = int(m.group(1)), m.group(2)
            time.sleep(0.1)
    time.sleep(max(0, start + 5 - time.monotonic()))  # connected and past its start
    rss_before = rss_kb(prog.pid)
    if board:
        for _ in range(CLIENTS):
            f = Follower(bport, token)
            f.start()
            followers.append(f)
    time.sleep(5)
    c0, t0 = cpu_s(prog.pid), time.monotonic()
    time.sleep(max(1, SECONDS - (time.monotonic() - start) - 2))
    c1, t1 = cpu_s(prog.pid), time.monotonic()
    rss_after = rss_kb(prog.pid)
    feeder.wait(SECONDS + 30)
    for f in followers:
        f.stop = True
    prog.terminate()
    prog.wait(60)
    err.close()
    log = "".join(open(os.path.join(folder, n), errors="replace").read()
                  for n in os.listdir(folder) if n.endswith(".log"))
    logged = len(set(re.findall(r"bench message (\d+) ", log)))
    dropped = len(re.findall(r"packets were dropped", log))
    fed = open(stats).read().strip()
    wanted = int(re.search(r"\((\d+) wanted\)", fed).group(1))
    print("%s: %s" % (name, fed))
    print("  wanted messages logged %d of %d; 'dropped' notes %d" % (logged, wanted, dropped))
    print("  CPU %.1f%% of one core over %.0f s; RSS %d kB before the clients, %d kB with them"
          % (100 * (c1 - c0) / (t1 - t0), t1 - t0, rss_before, rss_after))
    if board:
        events = [f.events for f in followers]
        print("  %d clients: events each min %d max %d, %.1f kB each; cut off: %d; memory per client %.1f kB"
              % (len(followers), min(events), max(events), sum(f.bytes for f in followers) / len(followers) / 1024,
                 sum(f.cut for f in followers), (rss_after - rss_before) / max(1, len(followers))))
    return 100 * (c1 - c0) / (t1 - t0)


os.makedirs(OUT, exist_ok=True)
CORPUS = os.path.join(OUT, "corpus.tnc2")
if not os.path.exists(CORPUS):
    subprocess.run([os.path.join(HERE, "gen-corpus.sh"), "100000", CORPUS], check=True)
print("load: %s" % open("/proc/loadavg").read().strip())
off = one_run("board-off", False)
on = one_run("board-on", True)
print("the board with %d clients adds %.1f%% of one core" % (CLIENTS, on - off))
print("load: %s" % open("/proc/loadavg").read().strip())

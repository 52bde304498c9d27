#!/usr/bin/env python3
"""Loopback APRS-IS feeder for the whole-program measurement.

Listens on 127.0.0.1:<port>, takes one client, reads its login line, answers with a
"# " banner and a logresp, then sends corpus lines paced at <rate> lines/s for
<seconds>. Every <wanted_every> seconds one message addressed to <call> is mixed in
(unique text, so the duplicate filter keeps it) so the list and the page printing run; its
text carries the wall clock of its send in ms since 1970 ("bench message N sent MS"), for
latency.py.
The stats (lines sent, the rate reached, the client's login line) go to stderr and
STATS_FILE at the end, also when the feeder is ended by SIGTERM; SENT_FILE then gets one
line "N MS" a wanted message sent. A client that reads
slower than RATE holds the feeder back: the rate reached then falls below RATE.

Usage: aprsis_feeder.py PORT CORPUS SECONDS [RATE] [CALL] [WANTED_EVERY] [STATS_FILE] [SENT_FILE]
"""
import signal
import socket
import sys
import time


def stop_on_term(_signum, _frame):
    raise SystemExit(0)


def main() -> int:
    port = int(sys.argv[1])
    corpus = sys.argv[2]
    seconds = float(sys.argv[3])
    rate = float(sys.argv[4]) if len(sys.argv) > 4 else 2000.0
    call = sys.argv[5] if len(sys.argv) > 5 else "Q0DEMO-9"
    wanted_every = float(sys.argv[6]) if len(sys.argv) > 6 else 2.0
    stats_file = sys.argv[7] if len(sys.argv) > 7 else None
    sent_file = sys.argv[8] if len(sys.argv) > 8 else None

    with open(corpus, "rb") as f:
        lines = [ln.rstrip(b"\r\n") + b"\r\n" for ln in f if ln.strip()]

    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(1)
    conn, _ = srv.accept()
    conn.sendall(b"# quillmark-bench-feeder 1.0\r\n")
    login = b""
    conn.settimeout(10)
    while b"\n" not in login:
        chunk = conn.recv(1024)
        if not chunk:
            return 1
        login += chunk
    conn.settimeout(None)
    login_line = login.split(b"\n")[0].rstrip(b"\r").decode(errors="replace")
    conn.sendall(b"# logresp %s unverified, server BENCH\r\n" % call.split("-")[0].encode())

    addressee = call.encode().ljust(9)
    tick = 0.01  # send a batch every 10 ms
    per_tick = rate * tick
    start = time.monotonic()
    next_wanted = start + 1.0
    sent = wanted = 0
    wanted_sent = []  # (number, ms since 1970) of each wanted line
    owed = 0.0
    i = 0
    next_t = start
    signal.signal(signal.SIGTERM, stop_on_term)
    try:
        while True:
            now = time.monotonic()
            if now - start >= seconds:
                break
            owed += per_tick
            n = int(owed)
            owed -= n
            batch = []
            for _ in range(n):
                batch.append(lines[i])
                i = (i + 1) % len(lines)
            if now >= next_wanted:
                wanted += 1
                # Last in its batch and stamped just before the send.
                wanted_sent.append((wanted, int(time.time() * 1000)))
                batch.append(b"N0BNCH-%d>APRS,TCPIP*,qAC,BENCH::%s:bench message %d sent %d{%d\r\n"
                             % (wanted % 10, addressee, wanted, wanted_sent[-1][1], wanted % 100000))
                next_wanted += wanted_every
            try:
                conn.sendall(b"".join(batch))
            except OSError:
                break
            sent += len(batch)
            next_t += tick
            delay = next_t - time.monotonic()
            if delay > 0:
                time.sleep(delay)
    finally:
        elapsed = time.monotonic() - start
        msg = "feeder: sent %d lines (%d wanted) in %.1f s = %.0f lines/s; login: %s\n" % (
            sent, wanted, elapsed, sent / elapsed, login_line)
        sys.stderr.write(msg)
        if stats_file:
            with open(stats_file, "w") as f:
                f.write(msg)
        if sent_file:
            with open(sent_file, "w") as f:
                f.writelines("%d %d\n" % w for w in wanted_sent)
        conn.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())

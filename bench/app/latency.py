#!/usr/bin/env python3
"""A wanted line's delay from the feeder to the log: aprsis_feeder.py writes the wall clock of
each wanted line's send into its text ("bench message N sent MS", ms since 1970) and lists the
sends in its SENT_FILE; the log stamps the line with its time of day ("hh:mm:ss.zzz", the
program's default stamp; floor_parse prints the same). A message counts once, at its first
line; stamps and sends must share a time zone (run both with TZ=UTC).

Usage: latency.py LOG SENT_FILE [FROM_MS]
Prints "logged N of M p50 P p99 P max P" (ms) over the messages sent at FROM_MS or later; a
message sent and never logged counts in M and not in N.
"""
import re
import sys

STAMP = re.compile(rb"(\d\d):(\d\d):(\d\d)\.(\d{3})")
SENT = re.compile(rb"bench message (\d+) sent (\d+)")
DAY_MS = 86400000


def logged_delays(path):
    seen = {}
    with open(path, "rb") as f:
        for line in f:
            sent, stamp = SENT.search(line), STAMP.search(line)
            if not sent or not stamp or int(sent.group(1)) in seen:
                continue
            h, m, s, ms = (int(g) for g in stamp.groups())
            at = ((h * 60 + m) * 60 + s) * 1000 + ms
            # A stamp just past midnight after a send just before it stays a small delay.
            seen[int(sent.group(1))] = (at - int(sent.group(2))) % DAY_MS
    return seen


def rank(values, q):
    return values[min(len(values) - 1, int(q * len(values)))] if values else "-"


def main():
    seen = logged_delays(sys.argv[1])
    since = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    with open(sys.argv[2]) as f:
        wanted = [int(n) for n, ms in (line.split() for line in f) if int(ms) >= since]
    d = sorted(seen[n] for n in wanted if n in seen)
    print("logged %d of %d p50 %s p99 %s max %s" % (len(d), len(wanted), rank(d, 0.5), rank(d, 0.99),
                                                   d[-1] if d else "-"))


if __name__ == "__main__":
    main()

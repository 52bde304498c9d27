#!/usr/bin/env python3
"""Fills a message store with N stored messages, as a long run leaves it: all printed but the
last 20, which are still listed; the times spread over the last ten days (inside the purge's
14), senders and texts varied. The store must have been made by the program (its schema).

Usage: bench/store/seed-store.py N STORE
"""
import sqlite3
import sys
import time

n = int(sys.argv[1])
db = sqlite3.connect(sys.argv[2], isolation_level=None)
db.execute("PRAGMA journal_mode = DELETE")  # one large transaction: no write-ahead log for it
db.execute("BEGIN")
now = time.time() / 86400 + 25569  # days from 1899-12-30
words = ["NET", "TONIGHT", "WX", "QSL", "73", "CHECK-IN", "REPEATER", "DOWN", "HAMFEST", "SAT"]


def rows():
    for i in range(n):
        utc = now - 10 * (n - i) / max(n, 1)
        src = "K%dABC-%d" % (i % 9000, i % 16)
        text = " ".join(words[(i + k) % len(words)] for k in range(5)) + " %d" % i
        raw = "%s>APRS,WIDE1-1::NOCALL-9 :%s{%d" % (src, text, i % 1000)
        yield (utc + 1 / 24, utc, src, "APRS", "WIDE1-1", "NOCALL-9", text, str(i % 1000), 1, "", raw,
               "%s to NOCALL-9" % src, "Msg #%d" % (i % 1000), text, 0 if i >= n - 20 else 2)


db.executemany(
    "INSERT INTO messages(local_time, utc_time, source, destination, path, addressee, message_text, "
    "message_no, kind, state_code, raw_text, line1, line2, line3, print_state, logged) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)", rows())
# Every message of a long run has its log line: the mark of the logged ones is past them all.
if db.execute("SELECT count(*) FROM sqlite_schema WHERE name = 'logged_upto'").fetchone()[0]:
    db.execute("UPDATE logged_upto SET id = (SELECT max(id) FROM messages)")
db.execute("COMMIT")
db.execute("PRAGMA journal_mode = WAL")
db.close()

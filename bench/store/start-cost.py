#!/usr/bin/env python3
"""CPU of a whole run without a window on a stored message list: the start (store opened,
list restored), an empty replay, the end. Each program runs in a folder of its own on a fresh
copy of each store, rounds alternating, and the CPU of the child (user + system) is taken from
getrusage. Stores come from bench/store/seed-store.py.

Usage: bench/store/start-cost.py ROUNDS PROGRAM STORE [STORE ...]
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

rounds, program, stores = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
folder = tempfile.mkdtemp(prefix="qm-start-cost.")
shutil.copy(program, os.path.join(folder, "quillmark"))
open(os.path.join(folder, "empty.txt"), "w").close()
store = os.path.join(folder, "Quillmark-messages.db")
cpu = {s: [] for s in stores}
for _ in range(rounds):
    for s in stores:
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(store + suffix):
                os.remove(store + suffix)
        shutil.copy(s, store)
        os.sync()
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run(["./quillmark", "--no-window", "--config", folder, "--replay", "empty.txt", "--pace", "0"],
                       cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu[s].append((after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000)
for s, ms in cpu.items():
    print("%s: median %.1f ms, range %.1f-%.1f ms, %d runs" % (s, statistics.median(ms), min(ms), max(ms), len(ms)))
shutil.rmtree(folder)

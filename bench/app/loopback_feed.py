"""A loopback APRS-IS server for the whole-program measurements in this folder.

Start(lines) listens on 127.0.0.1 (a free port), takes one client, answers its login with
a "# " banner and a logresp, then sends the lines (capture lines: the one-byte station
marker in front is dropped, each ends in CR LF) as fast as the client reads them, and keeps
the connection open; with a rate, that many lines a second at most (in 10 ms batches), as a
busy APRS-IS feed gives them. Feed.port is the port; Feed.sent the bytes handed to the kernel
so far, Feed.conn the connection.
"""
import socket
import threading
import time


class Feed:
    def __init__(self, lines, rate=0):
        self.rate = rate
        self.body = [ln[1:].rstrip(b"\r\n") + b"\r\n" for ln in lines]
        self.sent = 0
        self.conn = None
        self._srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._srv.bind(("127.0.0.1", 0))
        self._srv.listen(1)
        self.port = self._srv.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        conn, _ = self._srv.accept()
        conn.sendall(b"# quillmark-bench-feed\r\n")
        login = b""
        while b"\n" not in login:
            chunk = conn.recv(1024)
            if not chunk:
                return
            login += chunk
        conn.sendall(b"# logresp Q0DEMO unverified, server BENCH\r\n")
        self.conn = conn
        step = max(1, self.rate // 100) if self.rate else 100
        start = time.monotonic()
        for i in range(0, len(self.body), step):
            if self.rate:
                time.sleep(max(0.0, start + i / self.rate - time.monotonic()))
            chunk = b"".join(self.body[i:i + step])
            conn.sendall(chunk)
            self.sent += len(chunk)
        time.sleep(24 * 3600)


def Start(lines, rate=0):
    return Feed(lines, rate)

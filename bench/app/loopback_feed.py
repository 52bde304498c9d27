"""A loopback APRS-IS server for the whole-program measurements in this folder.

Start(lines) listens on 127.0.0.1 (a free port), takes one client, answers its login with
a "# " banner and a logresp, then sends the lines (capture lines: the one-byte station
marker in front is dropped, each ends in CR LF) as fast as the client reads them, and keeps
the connection open. Feed.port is the port; Feed.sent the bytes handed to the kernel so far,
Feed.conn the connection.
"""
import socket
import threading
import time


class Feed:
    def __init__(self, lines):
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
        for i in range(0, len(self.body), 100):
            chunk = b"".join(self.body[i:i + 100])
            conn.sendall(chunk)
            self.sent += len(chunk)
        time.sleep(24 * 3600)


def Start(lines):
    return Feed(lines)

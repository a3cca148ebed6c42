#!/usr/bin/env python3
"""A small HTTP/1.1 file server for trying the downloader by hand.

Serves the files of one folder on 127.0.0.1 with HEAD, Content-Length and single byte ranges
(Accept-Ranges: bytes), so a download can use parallel ranged connections; --rate bounds each
connection's bytes a second, so that a download on this machine takes long enough to be seen.
It prints the port it listens on as its first line and serves until it is stopped.
"""
import argparse
import http.server
import os
import re
import socketserver
import sys
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    rate = 0  # bytes a second a connection; 0: unbounded

    def log_message(self, fmt, *args):  # quiet: the downloader has its own log
        pass

    def _target(self):
        name = os.path.basename(self.path.split("?", 1)[0])
        path = os.path.join(self.root, name)
        return path if name and os.path.isfile(path) else None

    def _head(self, send_body):
        path = self._target()
        if path is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        size = os.path.getsize(path)
        start, end = 0, size - 1
        ranged = False
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if match:
            start = int(match.group(1))
            end = int(match.group(2)) if match.group(2) else size - 1
            end = min(end, size - 1)
            if start > end:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            ranged = True
        self.send_response(206 if ranged else 200)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(end - start + 1))
        if ranged:
            self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        self.end_headers()
        if not send_body:
            return
        with open(path, "rb") as f:
            f.seek(start)
            left = end - start + 1
            sent, began = 0, time.monotonic()
            while left > 0:
                chunk = f.read(min(left, 65536))
                if not chunk:
                    break
                self.wfile.write(chunk)
                left -= len(chunk)
                sent += len(chunk)
                if self.rate:
                    ahead = sent / self.rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)

    def do_HEAD(self):
        self._head(False)

    def do_GET(self):
        self._head(True)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("folder")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--rate", type=int, default=0, help="bytes a second a connection")
    args = parser.parse_args()
    Handler.root = os.path.abspath(args.folder)
    Handler.rate = max(args.rate, 0)
    with Server(("127.0.0.1", args.port), Handler) as server:
        print(server.server_address[1], flush=True)
        server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""A loopback stand-in for a database that serves files: GET /<path> answers with the
bytes of ROOT/<path>, or 404 when there is no such file.

Usage: entry_server.py ROOT

Listens on an ephemeral port of 127.0.0.1 and prints "PORT <port> PID <pid>" once it
accepts connections. The server ends when the process that started it does.
"""
import os
import sys
import urllib.parse
from http.server import BaseHTTPRequestHandler

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import loopback  # noqa: E402


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        root = os.path.realpath(sys.argv[1])
        path = os.path.realpath(os.path.join(root, urllib.parse.urlsplit(self.path).path.lstrip("/")))
        status, data = 404, b"Not Found\n"
        if path.startswith(root + os.sep) and os.path.isfile(path):
            with open(path, "rb") as f:
                status, data = 200, f.read()
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


if __name__ == "__main__":
    loopback.serve(Handler)

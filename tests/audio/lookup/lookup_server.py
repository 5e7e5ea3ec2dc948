#!/usr/bin/python3
"""A loopback stand-in for the MusicBrainz web service and a CDDB server.

Usage: lookup_server.py LOG_FILE

Listens on an ephemeral port of 127.0.0.1 and prints "PORT <port> PID <pid>" once it
accepts connections. The first path element picks the scenario:

  /<scenario>/ws/2/discid/<id>?...   MusicBrainz: replies/mb-<scenario>.json
  /<scenario>/cddb?cmd=cddb+query... replies/cddb-<scenario>-query.txt
  /<scenario>/cddb?cmd=cddb+read+<category>+<id>...
                                     replies/cddb-<scenario>-read-<category>.txt

"@DISCID@" in a reply is replaced by the disc id asked for; replies are sent byte for
byte (cddb-latin1-* is in Latin-1, with control characters). Scenario "none" answers
MusicBrainz with 404, "error" answers 500, "slow" waits 3 seconds and then answers as
"one", "deep" sends a MusicBrainz answer whose releases nest 100 000 arrays deep,
"header" a header line of 300 000 bytes.
Each request is logged before it is answered, one line each:
"<monotonic seconds>\t<User-Agent>\t<request line>". The server ends when the process
that started it does.
"""
import os
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
import loopback  # noqa: E402

REPLIES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "replies")
log_lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def canned(self, name, disc_id):
        # bytes as stored: a reply may be in another encoding than UTF-8
        with open(os.path.join(REPLIES, name), "rb") as f:
            return f.read().replace(b"@DISCID@", disc_id.encode("ascii"))

    def do_GET(self):
        with log_lock, open(sys.argv[1], "a", encoding="utf-8") as log:
            log.write("%.3f\t%s\t%s\n" % (time.monotonic(), self.headers.get("User-Agent", ""),
                                          self.requestline))
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.strip("/").split("/")
        scenario = parts[0]
        if scenario == "error":
            return self.reply(500, "Internal Server Error\n", "text/plain")
        if scenario == "header":
            self.send_response(200)
            self.send_header("X-Padding", "x" * 300000)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if scenario == "slow":
            time.sleep(3)
            scenario = "one"
        try:
            if parts[1:4] == ["ws", "2", "discid"]:
                if scenario == "none":
                    return self.reply(404, '{"error": "Not Found"}', "application/json")
                if scenario == "deep":
                    nested = "[" * 100000 + "]" * 100000
                    return self.reply(200, '{"releases": %s}' % nested, "application/json")
                return self.reply(200, self.canned("mb-%s.json" % scenario, parts[4]),
                                  "application/json; charset=utf-8")
            if parts[1:] == ["cddb"]:
                # parse_qs reads "+" as a space, as the protocol means it
                words = urllib.parse.parse_qs(url.query)["cmd"][0].split(" ")
                if words[1] == "query":
                    name = "cddb-%s-query.txt" % scenario
                else:
                    name = "cddb-%s-read-%s.txt" % (scenario, words[2])
                return self.reply(200, self.canned(name, words[2 if words[1] == "query" else 3]),
                                  "text/plain; charset=utf-8")
        except (OSError, IndexError, KeyError):
            pass
        self.reply(400, "no such request\n", "text/plain")


if __name__ == "__main__":
    loopback.serve(Handler)

"""What the tests' stand-in servers share: serve a request handler on an ephemeral port of
127.0.0.1, print "PORT <port> PID <pid>" once it accepts connections (TLoopbackServer in
loopback_server.h waits for that line), and end when the process that started it does.
"""
import os
import threading
import time
from http.server import ThreadingHTTPServer


def _watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def serve(handler):
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    threading.Thread(target=_watch_parent, args=(os.getppid(),), daemon=True).start()
    print("PORT %d PID %d" % (server.server_address[1], os.getpid()), flush=True)
    server.serve_forever()

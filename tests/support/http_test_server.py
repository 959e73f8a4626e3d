#!/usr/bin/python3
"""An HTTP server for the update tests: serves the files of a folder, answers 404 for the rest,
and misbehaves where the request path asks it to.

Usage: http_test_server.py ROOT PORT. Listens on 127.0.0.1:PORT and prints "GET <path>" for
every request it receives. A path segment named (before its first dot) after a behaviour picks
it:
  silent    the request is read and never answered
  stall     headers promising 100 bytes, 10 of them, then nothing
  endless   a body without a length that never ends
  error500  status 500 with a body
A POST is answered as a GET of its path (a folder served as plain files, PHP not run).
"/redirect/N/rest" answers 302 to "/redirect/N-1/rest", and "/redirect/0/rest" to "/rest".
"""
import functools
import http.server
import sys
import time

ROOT, PORT = sys.argv[1], int(sys.argv[2])


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        self.do_GET()

    def do_GET(self):
        # One write for the whole line, which print() would split under PYTHONUNBUFFERED.
        sys.stdout.write("GET " + self.path + "\n")
        sys.stdout.flush()
        segments = self.path.split("?")[0].split("/")
        if len(segments) > 3 and segments[1] == "redirect":
            left = int(segments[2])
            rest = "/".join(segments[3:])
            self.send_response(302)
            self.send_header("Location", f"/redirect/{left - 1}/{rest}" if left else "/" + rest)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        stems = {s.split(".")[0] for s in segments}
        if "silent" in stems:
            time.sleep(3600)
        elif "stall" in stems:
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(3600)
        elif "endless" in stems:
            self.send_response(200)
            self.end_headers()
            chunk = b"x" * 65536
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                pass
        elif "error500" in stems:
            self.send_error(500, "Internal error, with a page of its own")
        else:
            super().do_GET()


server = http.server.ThreadingHTTPServer(
    ("127.0.0.1", PORT), functools.partial(Handler, directory=ROOT))
server.daemon_threads = True
server.serve_forever()

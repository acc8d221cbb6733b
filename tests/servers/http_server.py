#!/usr/bin/python3
"""An HTTP server the tests control, on 127.0.0.1 and an ephemeral port.

Usage: http_server.py ROOT_DIR
Prints the port on the first line of standard output, then serves until killed.

GET /<file>            the file's bytes from ROOT_DIR (404 when missing)
    query options:     delay=SECONDS     wait before answering
                       gzip=1            send the body gzip-encoded (Content-Encoding: gzip)
                       trickle=MS        send the body in chunks of `chunk` bytes (default 16),
                                         one every MS milliseconds
GET /status/<code>     answers with that status and a small HTML page
GET /redirect?to=URL   302 to URL (any scheme)
GET /loop              302 to itself, for ever
GET /stall             reads the request and never answers
GET /headers-stall     sends the status line and headers, then never sends the body
GET /cut               announces 1000 bytes, sends 10 and closes the connection
"""

import gzip
import http.server
import os
import sys
import threading
import time
import urllib.parse

ROOT = None
STALL_FOREVER = threading.Event()  # never set: stalled handlers wait on it until the kill


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):  # noqa: A002 - the tests read no access log
        pass

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        path = urllib.parse.unquote(url.path)

        if "delay" in query:
            time.sleep(float(query["delay"][0]))

        if path.startswith("/status/"):
            self.answer_status(int(path[len("/status/"):]))
        elif path == "/redirect":
            self.redirect(query["to"][0])
        elif path == "/loop":
            self.redirect("/loop")
        elif path == "/stall":
            STALL_FOREVER.wait()
        elif path == "/headers-stall":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.flush()
            STALL_FOREVER.wait()
        elif path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            self.close_connection = True
        else:
            self.serve_file(path, query)

    def answer_status(self, code):
        body = ("<html><body>status %d</body></html>\n" % code).encode()
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def serve_file(self, path, query):
        file = os.path.realpath(os.path.join(ROOT, path.lstrip("/")))
        if not file.startswith(ROOT + os.sep) or not os.path.isfile(file):
            self.answer_status(404)
            return
        with open(file, "rb") as f:
            body = f.read()
        encoded = "gzip" in query
        if encoded:
            body = gzip.compress(body)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        if encoded:
            self.send_header("Content-Encoding", "gzip")
        self.end_headers()
        if "trickle" in query:
            self.trickle(body, float(query["trickle"][0]) / 1000.0,
                         int(query.get("chunk", ["16"])[0]))
        else:
            self.wfile.write(body)

    def trickle(self, body, interval, chunk):
        for start in range(0, len(body), chunk):
            self.wfile.write(body[start:start + chunk])
            self.wfile.flush()
            time.sleep(interval)


def main():
    global ROOT
    if len(sys.argv) != 2:
        sys.exit("usage: http_server.py ROOT_DIR")
    ROOT = os.path.realpath(sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""An HTTP server the tests control, on 127.0.0.1 and an ephemeral port.

Usage: http_server.py ROOT_DIR [--tls CERT_FILE KEY_FILE]
Prints the port on the first line of standard output, then serves until killed. With --tls it
speaks HTTPS with that certificate and key.

GET /<file>            the file's bytes from ROOT_DIR (404 when missing)
    query options:     delay=SECONDS     wait before answering
                       gzip=1            send the body gzip-encoded (Content-Encoding: gzip)
                       coding=NAME       send it encoded as NAME: gzip, x-gzip, deflate (zlib),
                                         raw-deflate (labelled deflate), gzip-members (two gzip
                                         members one after the other), or labelled-NAME
                                         (the file as it is, labelled NAME)
                       trickle=MS        send the body in chunks of `chunk` bytes (default 16),
                                         one every MS milliseconds
GET /status/<code>     answers with that status and a small HTML page
GET /redirect?to=URL   302 to URL (any scheme)
GET /loop              302 to itself, for ever
GET /stall             reads the request and never answers
GET /headers-stall     sends the status line and headers, then never sends the body
GET /cut               announces 1000 bytes, sends 10 and closes the connection
GET /cut-chunked       a chunked body whose last chunk never comes: the connection closes
GET /cut-gzip          a complete HTTP body holding a gzip stream cut in the middle
GET /repeat?text=T&count=N
                       T (percent-encoded in the query) N times, streamed with its length;
                       with chunked=1 streamed in chunks instead, its length not told
"""

import gzip
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse
import zlib

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
        elif path == "/cut-chunked":
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(b"8\r\n1.2.3.4\n\r\n")
            self.wfile.flush()
            self.close_connection = True
        elif path == "/cut-gzip":
            whole = gzip.compress(b"".join(b"10.%d.%d.%d\n" % (i >> 16, i >> 8 & 255, i & 255)
                                           for i in range(100000)))
            self.send_body(whole[:len(whole) // 2], {"Content-Encoding": "gzip"})
        elif path == "/repeat":
            raw = urllib.parse.parse_qs(url.query, encoding="latin-1")  # any byte, as sent
            self.repeat(raw["text"][0].encode("latin-1"), int(raw["count"][0]), "chunked" in raw)
        else:
            self.serve_file(path, query)

    def send_body(self, body, headers):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def repeat(self, text, count, chunked):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(text) * count))
        self.end_headers()
        per_block = max(1, (1 << 20) // max(1, len(text)))
        while count > 0:
            n = min(count, per_block)
            block = text * n
            if chunked:
                block = b"%x\r\n" % len(block) + block + b"\r\n"
            self.wfile.write(block)
            count -= n
        if chunked:
            self.wfile.write(b"0\r\n\r\n")

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
        coding = "gzip" if "gzip" in query else query.get("coding", [None])[0]
        body, label = encode(body, coding)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        if label:
            self.send_header("Content-Encoding", label)
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


def encode(body, coding):
    """The body encoded by `coding`, and the Content-Encoding to label it with."""
    if coding is None:
        return body, None
    if coding in ("gzip", "x-gzip"):
        return gzip.compress(body), coding
    if coding == "deflate":
        return zlib.compress(body), coding
    if coding == "raw-deflate":
        packer = zlib.compressobj(wbits=-15)
        return packer.compress(body) + packer.flush(), "deflate"
    if coding == "gzip-members":
        half = len(body) // 2
        return gzip.compress(body[:half]) + gzip.compress(body[half:]), "gzip"
    if coding.startswith("labelled-"):
        return body, coding[len("labelled-"):]
    raise ValueError("unknown coding " + coding)


def main():
    global ROOT
    if len(sys.argv) not in (2, 5) or (len(sys.argv) == 5 and sys.argv[2] != "--tls"):
        sys.exit("usage: http_server.py ROOT_DIR [--tls CERT_FILE KEY_FILE]")
    ROOT = os.path.realpath(sys.argv[1])
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    if len(sys.argv) == 5:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        # The handshake happens in each connection's own thread, so a client that never
        # completes it holds up no other.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
        # A client that refuses the certificate is what some tests expect: no trace for it.
        server.handle_error = lambda request, client_address: None
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

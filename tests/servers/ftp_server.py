#!/usr/bin/python3
"""An FTP server for the tests, on 127.0.0.1 and an ephemeral port (pyftpdlib).

Usage: ftp_server.py USER PASSWORD HOME_DIR [COMMAND_LOG] [options]
  --tls explicit|implicit CERT KEY   TLS required before the login (AUTH TLS), or from the
                                     first byte; data connections protected as well
  --rename-over refuse|never         RNTO refused when its target exists, or always
  --upload-rate BYTES                uploads received at most this fast, per second (not
                                     with --tls)
  --login-folder PATH                the folder a login starts in, below HOME_DIR (which stays
                                     the user's root)
  --store-reply REPLY                every STOR is refused with REPLY, sent as given (escape
                                     sequences and control bytes included)
Prints the port on the first line of standard output, then serves until killed. Passive
data connections use ephemeral ports on 127.0.0.1. When COMMAND_LOG is given, every command
received is appended to it, one per line (PASS with its argument hidden). When the
environment holds PALISOR_FTP_FINAL_REPLY_DELAY (seconds), the reply that ends an upload
("226") is sent that much later, as from a server slow to store the file; with
PALISOR_FTP_QUIT_DELAY (seconds), QUIT is answered that much later.
"""

import argparse
import logging
import os

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("user")
    parser.add_argument("password")
    parser.add_argument("home")
    parser.add_argument("command_log", nargs="?")
    parser.add_argument("--tls", nargs=3, metavar=("MODE", "CERT", "KEY"))
    parser.add_argument("--rename-over", choices=("refuse", "never"))
    parser.add_argument("--upload-rate", type=int)
    parser.add_argument("--login-folder")
    parser.add_argument("--store-reply")
    return parser.parse_args()


def base_handler(tls):
    if not tls:
        return FTPHandler
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    mode, cert, key = tls

    class EarlyHandshakeDTPHandler(TLS_DTPHandler):
        # libcurl starts TLS on a data connection as soon as it connects, before the transfer
        # command; pyftpdlib would take the handshake for a client that went away.
        def readable(self):
            return self._ssl_accepting or super().readable()

    class TlsHandler(TLS_FTPHandler):
        dtp_handler = EarlyHandshakeDTPHandler
        certfile = cert
        keyfile = key
        tls_control_required = True
        tls_data_required = True

        def handle(self):
            if mode == "implicit":
                self.secure_connection(self.ssl_context)
            else:
                super().handle()

        def handle_ssl_established(self):
            if mode == "implicit" and not self._pbsz:
                self._pbsz = True  # the client may send PBSZ/PROT or not
                FTPHandler.handle(self)

        def handle_failed_ssl_handshake(self):
            self.close()

    return TlsHandler


def make_handler(options):
    final_reply_delay = float(os.environ.get("PALISOR_FTP_FINAL_REPLY_DELAY", "0"))
    quit_delay = float(os.environ.get("PALISOR_FTP_QUIT_DELAY", "0"))

    class TestHandler(base_handler(options.tls)):
        def respond(self, resp, logfun=logging.debug):
            if final_reply_delay and resp.startswith("226 Transfer"):
                self.ioloop.call_later(final_reply_delay, super().respond, resp, logfun)
            else:
                super().respond(resp, logfun)

        def ftp_QUIT(self, line):
            if quit_delay:
                self.ioloop.call_later(quit_delay, super().ftp_QUIT, line)
            else:
                super().ftp_QUIT(line)

        def pre_process_command(self, line, cmd, arg):
            if options.command_log:
                with open(options.command_log, "a", encoding="utf-8") as log:
                    log.write(("PASS ***" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

        def on_login(self, username):
            if options.login_folder:
                self.fs.cwd = options.login_folder

        def ftp_STOR(self, file, mode="w"):
            if options.store_reply:
                self.respond(options.store_reply)
                return None
            return super().ftp_STOR(file, mode)

        def ftp_RNTO(self, path):
            if options.rename_over == "never" or (
                options.rename_over == "refuse" and os.path.exists(path)
            ):
                self._rnfr = None
                self.respond("550 Renaming refused.")
                return None
            return super().ftp_RNTO(path)

    if options.upload_rate:
        class SlowDTPHandler(ThrottledDTPHandler):  # plain data connections only
            read_limit = options.upload_rate

        TestHandler.dtp_handler = SlowDTPHandler
    return TestHandler


def main():
    options = arguments()
    logging.basicConfig(level=logging.CRITICAL)

    authorizer = DummyAuthorizer()
    authorizer.add_user(options.user, options.password, options.home, perm="elradfmwMT")
    handler = make_handler(options)
    handler.authorizer = authorizer
    handler.banner = "palisor test server"
    handler.auth_failed_timeout = 0  # refuse a wrong password at once, the tests wait for it

    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""An FTP server for the tests, on 127.0.0.1 and an ephemeral port (pyftpdlib).

Usage: ftp_server.py USER PASSWORD HOME_DIR [COMMAND_LOG]
Prints the port on the first line of standard output, then serves until killed. Passive
data connections use ephemeral ports on 127.0.0.1. When COMMAND_LOG is given, every command
received is appended to it, one per line (PASS with its argument hidden). When the
environment holds PALISOR_FTP_FINAL_REPLY_DELAY (seconds), the reply that ends an upload
("226") is sent that much later, as from a server slow to store the file.
"""

import logging
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def make_handler(command_log, final_reply_delay):
    class LoggingHandler(FTPHandler):
        def respond(self, resp, logfun=logging.debug):
            if final_reply_delay and resp.startswith("226 Transfer"):
                self.ioloop.call_later(final_reply_delay, super().respond, resp, logfun)
            else:
                super().respond(resp, logfun)

        def pre_process_command(self, line, cmd, arg):
            if command_log:
                with open(command_log, "a", encoding="utf-8") as log:
                    log.write(("PASS ***" if cmd == "PASS" else line) + "\n")
            return super().pre_process_command(line, cmd, arg)

    return LoggingHandler


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit("usage: ftp_server.py USER PASSWORD HOME_DIR [COMMAND_LOG]")
    user, password, home = sys.argv[1:4]
    command_log = sys.argv[4] if len(sys.argv) == 5 else None
    logging.basicConfig(level=logging.CRITICAL)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    handler = make_handler(command_log,
                           float(os.environ.get("PALISOR_FTP_FINAL_REPLY_DELAY", "0")))
    handler.authorizer = authorizer
    handler.banner = "palisor test server"
    handler.auth_failed_timeout = 0  # refuse a wrong password at once, the tests wait for it

    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()

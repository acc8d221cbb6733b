#!/usr/bin/python3
"""An SFTP server for the tests, on 127.0.0.1 (python3-asyncssh), password login only.

Usage: sftp_server.py USER PASSWORD HOME_DIR HOST_KEY [PORT]
(PORT 0 or none: an ephemeral port)
HOST_KEY is the server's private key file, made (ed25519) when it does not exist yet, so a
test can start a server again with the same key or with another one. The user sees HOME_DIR
as "/". Prints the port (PORT, or an ephemeral one) on the first line of standard output,
then serves until killed.
"""

import asyncio
import os
import sys
import warnings

warnings.filterwarnings("ignore")  # old ciphers asyncssh still offers; not the tests' concern
import asyncssh  # noqa: E402


def host_key(path):
    if not os.path.exists(path):
        asyncssh.generate_private_key("ssh-ed25519").write_private_key(path)
    return asyncssh.read_private_key(path)


def make_server_class(user, password):
    class PasswordServer(asyncssh.SSHServer):
        def begin_auth(self, username):
            return True

        def password_auth_supported(self):
            return True

        def validate_password(self, username, offered):
            return username == user and offered == password

    return PasswordServer


async def serve(user, password, home, key, port):
    server = await asyncssh.create_server(
        make_server_class(user, password),
        "127.0.0.1",
        port,
        server_host_keys=[key],
        sftp_factory=lambda channel: asyncssh.SFTPServer(channel, chroot=home),
        allow_scp=False,
        # A server started on the port of one that just ended finds it in TIME_WAIT from
        # the connections that one closed; asyncssh, unlike asyncio, does not reuse it.
        reuse_address=True,
    )
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Future()


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit("usage: sftp_server.py USER PASSWORD HOME_DIR HOST_KEY [PORT]")
    user, password, home, key_file = sys.argv[1:5]
    port = int(sys.argv[5]) if len(sys.argv) == 6 else 0
    asyncio.run(serve(user, password, os.path.realpath(home), host_key(key_file), port))


if __name__ == "__main__":
    main()

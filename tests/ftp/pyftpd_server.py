#!/usr/bin/python3
"""pyftpdlib for the FTP client's tests, on 127.0.0.1 and a free port, which
it prints on its first output line.

  pyftpd_server.py --root DIR --user U --password P --log FILE
                   [--tls CERT KEY] [--drop-at BYTES]

--tls requires TLS on the control and data connections. --drop-at cuts the
data connection of the first RETR once that many bytes went out. Every
download adds a line "RETR NAME BYTES" to --log, the bytes the server sent."""
import argparse, sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

args = argparse.ArgumentParser()
args.add_argument("--root", required=True)
args.add_argument("--user", required=True)
args.add_argument("--password", required=True)
args.add_argument("--log", required=True)
args.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
args.add_argument("--drop-at", type=int, default=-1)
opt = args.parse_args()


def dropping(base):
    class Dropping(base):
        """Cuts the first download once --drop-at bytes went out."""
        pending = [opt.drop_at >= 0]

        def send(self, data):
            if not self.pending[0] or self.receive:
                return super().send(data)
            left = opt.drop_at - self.tot_bytes_sent
            sent = super().send(data[:max(left, 0)]) if left > 0 else 0
            if self.tot_bytes_sent >= opt.drop_at:
                self.pending[0] = False
                self.handle_close()
            return sent
    return Dropping


def logging(base):
    class Logging(base):
        use_sendfile = False

        def log_transfer(self, cmd, filename, receive, completed, elapsed, bytes):
            with open(opt.log, "a") as f:
                f.write("%s %s %d\n" % (cmd, filename.rsplit("/", 1)[-1], bytes))
    return Logging


handler = logging(TLS_FTPHandler if opt.tls else FTPHandler)
handler.dtp_handler = dropping(TLS_DTPHandler if opt.tls else DTPHandler)
if opt.tls:
    handler.certfile, handler.keyfile = opt.tls
    handler.tls_control_required = handler.tls_data_required = True
authorizer = DummyAuthorizer()
authorizer.add_user(opt.user, opt.password, opt.root, perm="elr")
handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()

#!/usr/bin/python3
"""pyftpdlib that answers every command 25 ms late: a WAN round trip for the
update benchmark. Prints its port (on 127.0.0.1) on its first output line.
Usage: slow_ftpd.py ROOT USER PASSWORD [DELAY_SECONDS]"""
import logging, sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1:4]
delay = float(sys.argv[4]) if len(sys.argv) > 4 else 0.025


class SlowHandler(FTPHandler):
    def pre_process_command(self, line, cmd, arg):
        # Later, not by sleeping: the server's loop goes on moving data.
        self.ioloop.call_later(delay, FTPHandler.pre_process_command, self, line, cmd, arg)


logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
SlowHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), SlowHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()

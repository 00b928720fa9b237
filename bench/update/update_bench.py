#!/usr/bin/python3
"""Whole update runs against the local pyftpdlib, beside lftp's
`mirror --only-newer` of the same folder: 1 000 listed files with nothing to
fetch, and 200 files of 100 KB to fetch. Prints the wall time and the number
of FTP commands each client sent (counted by a relay on the control
connection), on loopback and again through a pyftpdlib of the script's own
that answers every command 25 ms late (a WAN round trip, slow_ftpd.py).
Usage: update_bench.py BENCH_UPDATE_RUN
(needs ZEMBO_PYFTPD_PORT, ZEMBO_PYFTPD_ROOT, ZEMBO_FTP_USER, ZEMBO_FTP_PASSWORD)"""
import atexit, os, shutil, socket, subprocess, sys, tempfile, threading, time

runner = sys.argv[1]
port = int(os.environ["ZEMBO_PYFTPD_PORT"])
root = os.environ["ZEMBO_PYFTPD_ROOT"]
user, password = os.environ["ZEMBO_FTP_USER"], os.environ["ZEMBO_FTP_PASSWORD"]
served = os.path.join(root, "keldarin")
# Two days ago at 10:37: listings show the minute.
stamp = (int(time.time()) // 86400 - 2) * 86400 + 10 * 3600 + 37 * 60


class Relay:
    """Forwards control connections to the server and counts the command
    lines the client sends."""

    def __init__(self, port):
        self.server_port = port
        self.commands = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            server = socket.create_connection(("127.0.0.1", self.server_port))
            threading.Thread(target=self.pump, args=(client, server, True), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, False), daemon=True).start()

    def pump(self, source, sink, count):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                if count:
                    with self.lock:
                        self.commands += data.count(b"\n")
                sink.sendall(data)
        except OSError:
            pass
        finally:
            for s in (source, sink):
                try:
                    s.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass

    def take(self):
        with self.lock:
            n, self.commands = self.commands, 0
        return n


def serve(count, size, local_copies):
    shutil.rmtree(served, ignore_errors=True)
    os.makedirs(served)
    local = tempfile.mkdtemp(prefix="bench-update-")
    block = os.urandom(size)
    for i in range(count):
        name = "ARQ%04d.DLL" % i
        for folder in [served] + ([local] if local_copies else []):
            path = os.path.join(folder, name)
            with open(path, "wb") as f:
                f.write(block)
            os.utime(path, (stamp, stamp))
    return local


def measure(relay, cmd, cwd):
    relay.take()
    start = time.monotonic()
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True)
    took = time.monotonic() - start
    if p.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
    time.sleep(0.2)  # the relay's last lines
    return took, relay.take(), p.stdout.strip()


def slow_server():
    """The 25 ms server on the same folder; ended with the script."""
    p = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "slow_ftpd.py"),
                          root, user, password], stdout=subprocess.PIPE, text=True)
    atexit.register(p.kill)
    return int(p.stdout.readline())


servers = [("pyftpdlib on loopback", port), ("pyftpdlib, every reply 25 ms late", slow_server())]
cases = [("1000 files, nothing to fetch", 1000, 1024, True),
         ("200 files of 100 KB to fetch", 200, 100 * 1024, False)]
for server_title, server_port in servers:
    relay = Relay(server_port)
    print("== %s" % server_title)
    for title, count, size, local_copies in cases:
        print(title)
        local = serve(count, size, local_copies)
        took, commands, out = measure(relay, [runner, "127.0.0.1", str(relay.port), password], local)
        print("  update run:   %7.3f s  %5d FTP commands  (%s)" % (took, commands, out))
        mirror = tempfile.mkdtemp(prefix="bench-lftp-")
        if local_copies:
            shutil.rmtree(mirror)
            shutil.copytree(local, mirror)
        script = ("set ftp:passive-mode on; set net:max-retries 1; set cmd:fail-exit yes; "
                  "open -u %s,%s -p %d 127.0.0.1; mirror --only-newer keldarin %s"
                  % (user, password, relay.port, mirror))
        took, commands, _ = measure(relay, ["lftp", "-c", script], local)
        print("  lftp mirror:  %7.3f s  %5d FTP commands" % (took, commands))
        shutil.rmtree(local)
        shutil.rmtree(mirror)
shutil.rmtree(served, ignore_errors=True)

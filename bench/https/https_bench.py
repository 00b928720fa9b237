#!/usr/bin/python3
"""Whole synchronisations over HTTPS from the test services' nginx (TLS,
HTTP/2) beside curl fetching the same files (`curl --parallel` over one
HTTP/2 connection), and beside the FTP run of the same files: 1 000 files with
nothing to fetch (the requests counted from nginx's access log), and 200
files of 100 KB to fetch. Each on loopback and again through a relay that
holds every packet 25 ms in each direction (a WAN; the FTP run then talks to
a pyftpdlib that answers every command 25 ms late, slow_ftpd.py).
Usage: https_bench.py BENCH_HTTPS_RUN BENCH_UPDATE_RUN
(needs the services' env.sh: ZEMBO_NGINX_*, ZEMBO_PYFTPD_*, ZEMBO_FTP_*)"""
import atexit, heapq, os, queue, shutil, socket, subprocess, sys, tempfile, threading, time

https_run, ftp_run = map(os.path.abspath, sys.argv[1:3])
here = os.path.dirname(os.path.abspath(__file__))
release_tool = os.path.join(os.path.dirname(https_run), "zembo-release")
env = os.environ
nginx_port, web_root = int(env["ZEMBO_NGINX_PORT"]), os.path.join(env["ZEMBO_NGINX_ROOT"], "keldarin")
access_log, ca = env["ZEMBO_NGINX_LOG"], env["ZEMBO_NGINX_CA"]
ftp_port, ftp_root = int(env["ZEMBO_PYFTPD_PORT"]), env["ZEMBO_PYFTPD_ROOT"]
user, password = env["ZEMBO_FTP_USER"], env["ZEMBO_FTP_PASSWORD"]
ftp_served = os.path.join(ftp_root, "keldarin")
stamp = (int(time.time()) // 86400 - 2) * 86400 + 10 * 3600 + 37 * 60
DELAY = 0.025
work = tempfile.mkdtemp(prefix="bench-https-")
atexit.register(shutil.rmtree, work, True)


class DelayRelay:
    """A TCP relay to 127.0.0.1:PORT that holds every chunk DELAY seconds
    in each direction, in order."""

    def __init__(self, port, delay):
        self.target, self.delay = port, delay
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            server = socket.create_connection(("127.0.0.1", self.target))
            for a, b in ((client, server), (server, client)):
                a.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                q = queue.Queue()
                threading.Thread(target=self.read, args=(a, q), daemon=True).start()
                threading.Thread(target=self.write, args=(b, q), daemon=True).start()

    def read(self, source, q):
        try:
            while True:
                data = source.recv(65536)
                q.put((time.monotonic() + self.delay, data))
                if not data:
                    return
        except OSError:
            q.put((time.monotonic(), b""))

    def write(self, sink, q):
        try:
            while True:
                due, data = q.get()
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
                if not data:
                    sink.shutdown(socket.SHUT_WR)
                    return
                sink.sendall(data)
        except OSError:
            pass


def run(cmd, cwd=None, environment=None):
    start = time.monotonic()
    p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, env=environment)
    took = time.monotonic() - start
    if p.returncode != 0:
        sys.exit("failed: %s\n%s%s" % (" ".join(cmd), p.stdout, p.stderr))
    return took, p.stdout.strip()


key = os.path.join(work, "bench")
run(["minisign", "-G", "-W", "-f", "-p", key + ".pub", "-s", key + ".key"])


def publish(count, size):
    """The same files in nginx's and pyftpdlib's folders, the release signed."""
    for folder in (web_root, ftp_served):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    for i in range(count):
        block = os.urandom(size)
        for folder in (web_root, ftp_served):
            path = os.path.join(folder, "ARQ%04d.DLL" % i)
            with open(path, "wb") as f:
                f.write(block)
            os.utime(path, (stamp, stamp))
    run([release_tool, "manifest", web_root, "--serial", "1"])
    run(["minisign", "-Sm", os.path.join(web_root, "zembo-release.txt"), "-s", key + ".key"])


def local_folder(copy):
    folder = tempfile.mkdtemp(prefix="local-", dir=work)
    if copy:
        for name in os.listdir(ftp_served):
            shutil.copy2(os.path.join(ftp_served, name), folder)
    return folder


def requests():
    with open(access_log) as f:
        return sum(1 for _ in f)


def clear_log():
    open(access_log, "w").close()


def https(port, folder):
    clear_log()
    took, out = run([https_run, "https://127.0.0.1:%d/keldarin/" % port, key + ".pub"], folder,
                    dict(env, ZEMBO_FTP_CA=ca))
    return took, requests(), out


def curl(port, count):
    folder = local_folder(False)
    config = os.path.join(work, "curl.cfg")
    with open(config, "w") as f:
        for i in range(count):
            f.write('url = "https://127.0.0.1:%d/keldarin/ARQ%04d.DLL"\noutput = "%s/ARQ%04d.DLL"\n'
                    % (port, i, folder, i))
    clear_log()
    took, _ = run(["curl", "-sS", "--fail", "--http2", "--parallel", "--parallel-max", "50", "--cacert", ca,
                   "-K", config])
    return took, requests()


def slow_ftp():
    p = subprocess.Popen(["/usr/bin/python3", os.path.join(here, "..", "update", "slow_ftpd.py"),
                          ftp_root, user, password, str(2 * DELAY)], stdout=subprocess.PIPE, text=True)
    atexit.register(p.kill)
    return int(p.stdout.readline())


relay = DelayRelay(nginx_port, DELAY)
paths = [("loopback", nginx_port, ftp_port), ("25 ms each way", relay.port, slow_ftp())]
rows = []
for path, web_port, ftp_server in paths:
    publish(1000, 1024)
    folder = local_folder(True)
    https(web_port, folder)  # the first run accepts the release and keeps its validators
    took, count, _ = https(web_port, folder)
    ftp_took, _ = run([ftp_run, "127.0.0.1", str(ftp_server), password], local_folder(True))
    rows.append(("1000 files, nothing to fetch", path, took, count, None, None, ftp_took))
    publish(200, 100 * 1024)
    took, count, out = https(web_port, local_folder(False))
    if not out.startswith("fetched 200 "):
        sys.exit("the run did not fetch the 200 files: " + out)
    curl_took, curl_count = curl(web_port, 200)
    ftp_took, _ = run([ftp_run, "127.0.0.1", str(ftp_server), password], local_folder(False))
    rows.append(("200 files of 100 KB to fetch", path, took, count, curl_took, curl_count, ftp_took))
for folder in (web_root, ftp_served):
    shutil.rmtree(folder, ignore_errors=True)

print("%-30s %-15s %10s %9s %10s %9s %7s %9s" % ("case", "path", "https run", "requests", "curl", "requests",
                                               "ratio", "FTP run"))
for title, path, took, count, curl_took, curl_count, ftp_took in rows:
    print("%-30s %-15s %9.3fs %9d %10s %9s %7s %8.3fs" % (
        title, path, took, count, "-" if curl_took is None else "%9.3fs" % curl_took,
        "-" if curl_count is None else curl_count, "-" if curl_took is None else "%.2fx" % (took / curl_took),
        ftp_took))

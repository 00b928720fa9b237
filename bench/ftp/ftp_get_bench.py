#!/usr/bin/python3
"""Downloads a 1 GiB file from the local vsftpd with zembo-ftp get and with
curl, alternating, and prints MB/s for both, the ratio and zembo-ftp's peak RSS.
Usage: ftp_get_bench.py BIN_DIR [ROUNDS]   (needs the test services' ZEMBO_VSFTPD_*)"""
import os, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from served import served_file, url, vsftpd

bindir = sys.argv[1]
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
port, root, user, password = vsftpd()
size = 1 << 30
served_file(root, "bench1g.bin", size)
out = tempfile.mkdtemp()
dest = os.path.join(out, "bench1g.bin")

def run(cmd):
    start = time.monotonic()
    p = subprocess.Popen(cmd)
    _, status, usage = os.wait4(p.pid, 0)
    took = time.monotonic() - start
    if status != 0 or os.path.getsize(dest) != size:
        sys.exit("failed: %s" % " ".join(cmd))
    os.remove(dest)
    return size / took / 1e6, usage.ru_maxrss / 1024.0

address = url(port, user, password)
zembo, curl, rss = [], [], 0.0
for _ in range(rounds):
    mbs, peak = run([os.path.join(bindir, "zembo-ftp"), address, "get", "bench1g.bin", dest])
    zembo.append(mbs); rss = max(rss, peak)
    mbs, _ = run(["curl", "-s", "-o", dest, address + "bench1g.bin"])
    curl.append(mbs)
z, c = max(zembo), max(curl)
print("zembo-ftp get: %.1f MB/s (best of %d: %s)" % (z, rounds, ", ".join("%.0f" % v for v in zembo)))
print("curl:          %.1f MB/s (best of %d: %s)" % (c, rounds, ", ".join("%.0f" % v for v in curl)))
print("ratio zembo/curl: %.3f (target >= 0.95)" % (z / c))
print("zembo-ftp peak RSS: %.1f MiB (target < 64)" % rss)

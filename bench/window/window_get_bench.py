#!/usr/bin/python3
"""Downloads a 512 MiB file from the local vsftpd through the update window
(its client and progress display, offscreen) and with zembo-ftp get,
alternating, and prints MB/s for both and the window's share.
Usage: window_get_bench.py BIN_DIR [ROUNDS]   (needs the test services' ZEMBO_VSFTPD_*)"""
import os, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from served import served_file, url, vsftpd

bindir = sys.argv[1]
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
port, root, user, password = vsftpd()
size = 512 << 20
served_file(root, "bench512m.bin", size)
dest = os.path.join(tempfile.mkdtemp(), "bench512m.bin")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen")

def timed(cmd):
    start = time.monotonic()
    subprocess.run(cmd, check=True, env=env, stdout=subprocess.DEVNULL)
    took = time.monotonic() - start
    if os.path.getsize(dest) != size:
        sys.exit("failed: %s" % " ".join(cmd))
    os.remove(dest)
    return size / took / 1e6

window, tool = [], []
for _ in range(rounds):
    window.append(timed([os.path.join(bindir, "bench_window_get"), port, "bench512m.bin", dest]))
    tool.append(timed([os.path.join(bindir, "zembo-ftp"), url(port, user, password), "get", "bench512m.bin", dest]))
w, t = max(window), max(tool)
print("window:        %.1f MB/s (best of %d: %s)" % (w, rounds, ", ".join("%.0f" % v for v in window)))
print("zembo-ftp get: %.1f MB/s (best of %d: %s)" % (t, rounds, ", ".join("%.0f" % v for v in tool)))
print("window / zembo-ftp: %.0f%%  (goal: 90%% or more)" % (100 * w / t))

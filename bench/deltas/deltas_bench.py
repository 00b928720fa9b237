#!/usr/bin/python3
"""Updates with signed binary deltas against the local pyftpdlib: two real
builds of this project's own programs (zembo-release and zembo-ls, built from
the commit before the delta library and from the working tree), installed in
the old build and served in the new one. Prints the bytes moved and the wall
time of the update with deltas and without, beside `zstd -19 --long
--patch-from` run by hand on the same pairs, and the time to apply a patch
to a 50 MB file.
Usage: deltas_bench.py BENCH_DELTAS_RUN ZEMBO_RELEASE SOURCE_DIR BUILD_DIR
(needs ZEMBO_PYFTPD_PORT, ZEMBO_PYFTPD_ROOT, ZEMBO_FTP_USER, ZEMBO_FTP_PASSWORD)"""
import hashlib, os, shutil, subprocess, sys, tempfile, time

runner, release_tool, source, build = (os.path.abspath(a) for a in sys.argv[1:5])
port = os.environ["ZEMBO_PYFTPD_PORT"]
root = os.environ["ZEMBO_PYFTPD_ROOT"]
password = os.environ["ZEMBO_FTP_PASSWORD"]
served = os.path.join(root, "keldarin")
programs = ["zembo-release", "zembo-ls"]
stamp = (int(time.time()) // 86400 - 2) * 86400 + 10 * 3600 + 37 * 60
work = tempfile.mkdtemp(prefix="bench-deltas-")


def run(*args, **kw):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kw).stdout


def old_build():
    """The programs built from the commit before the delta library came."""
    first = run("git", "-C", source, "log", "--format=%H", "--diff-filter=A", "--", "delta/delta.cpp").split()[-1]
    commit = run("git", "-C", source, "rev-parse", "--short", first + "~1").strip()
    tree = os.path.join(build, "bench-deltas", "old-" + commit)
    binaries = [os.path.join(tree, "build", "bin", p) for p in programs]
    if not all(os.path.exists(b) for b in binaries):
        shutil.rmtree(tree, ignore_errors=True)
        os.makedirs(tree)
        archive = subprocess.Popen(["git", "-C", source, "archive", commit], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", tree], stdin=archive.stdout, check=True)
        archive.wait()
        print("building", " ".join(programs), "at", commit, "(once)", flush=True)
        run("cmake", "-S", tree, "-B", os.path.join(tree, "build"), "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache",
            "-DCMAKE_C_COMPILER_LAUNCHER=ccache")
        run("cmake", "--build", os.path.join(tree, "build"), "-j2", "--target", *programs)
    return commit, binaries


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def folder(name, files):
    path = os.path.join(work, name)
    os.makedirs(path)
    for program, binary in zip(programs, files):
        shutil.copyfile(binary, os.path.join(path, program))
    return path


def stamped(path, when):
    for dirpath, _, names in os.walk(path):
        for n in names:
            os.utime(os.path.join(dirpath, n), (when, when))


def update(old, new, keys):
    """One run in a fresh installation of the old build; the release's files byte for byte after it."""
    install = tempfile.mkdtemp(prefix="install-", dir=work)
    for program in programs:
        shutil.copyfile(os.path.join(old, program), os.path.join(install, program))
    stamped(install, stamp - 86400)
    args = [runner, "run", "127.0.0.1", port, password, os.path.join(new, "zembo-release.txt")] + ([keys] if keys else [])
    out = run(*args, cwd=install).split()
    for program in programs:
        assert sha256(os.path.join(install, program)) == sha256(os.path.join(new, program)), program
    return int(out[1]), int(out[3]), float(out[5])


def by_hand(old, new):
    size, began = 0, time.monotonic()
    for program in programs:
        patch = os.path.join(work, program + ".zst")
        run("zstd", "-q", "-f", "-19", "--long", "--patch-from=" + os.path.join(old, program), os.path.join(new, program),
            "-o", patch)
        size += os.path.getsize(patch)
    return size, time.monotonic() - began


def apply_50mb():
    """A 50 MB file and its next build (a few stretches rewritten), from real bytes."""
    with open("/usr/lib/x86_64-linux-gnu/libLLVM-15.so.1", "rb") as f:
        older = f.read(50 * 1000 * 1000)
    newer = bytearray(older)
    for at in range(4096, len(newer) - 64, 512 * 1024):
        newer[at:at + 64] = os.urandom(64)
    paths = [os.path.join(work, n) for n in ("big.old", "big.new", "big.zst", "big.out")]
    for path, data in zip(paths, (older, newer)):
        with open(path, "wb") as f:
            f.write(data)
    made = run(runner, "make", paths[0], paths[1], paths[2]).split()
    rates = []
    # onto the disk (the file synced before its rename, as a run writes it), then into memory (/dev/shm)
    for out in (paths[3], os.path.join("/dev/shm", os.path.basename(work) + "-big.out")):
        applied = run(runner, "apply", paths[0], paths[2], out, str(len(newer))).split()
        assert sha256(out) == sha256(paths[1])
        os.remove(out)
        rates.append((float(applied[3]), float(applied[5]), float(applied[7]), float(applied[9])))
    return int(made[1]), float(made[3]), rates


try:
    commit, old_binaries = old_build()
    old = folder("old", old_binaries)
    new = folder("new", [os.path.join(build, "bin", p) for p in programs])
    keys = os.path.join(work, "key")
    run("minisign", "-G", "-W", "-f", "-p", keys + ".pub", "-s", keys + ".key")
    made = run(release_tool, "manifest", new, "--serial", "2", "--delta-from", old)
    run("minisign", "-Sm", os.path.join(new, "zembo-release.txt"), "-s", keys + ".key")
    run("minisign", "-Sm", os.path.join(new, "deltas", "zembo-deltas.txt"), "-s", keys + ".key")
    run(release_tool, "verify", new, keys + ".pub", "--delta-from", old)
    shutil.rmtree(served, ignore_errors=True)
    shutil.copytree(new, served)
    stamped(served, stamp)

    with_moved, with_full, with_wall = update(old, new, keys + ".pub")
    whole_moved, whole_full, whole_wall = update(old, new, None)
    hand, hand_time = by_hand(old, new)
    big_patch, big_make, big_rates = apply_50mb()

    sizes = " + ".join("%s %d" % (p, os.path.getsize(os.path.join(new, p))) for p in programs)
    print("\nrelease: %s, old build at %s, new build from the working tree" % (sizes, commit))
    print("%-44s %12s %9s %9s" % ("", "bytes", "of full", "wall s"))
    print("%-44s %12d %8.1f%% %9.3f" % ("update without deltas (whole files)", whole_moved, 100.0, whole_wall))
    print("%-44s %12d %8.1f%% %9.3f" % ("update with deltas (the patches)", with_moved,
                                        100.0 * with_moved / with_full, with_wall))
    print("%-44s %12d %8.1f%% %9.3f" % ("zstd -19 --long --patch-from by hand", hand, 100.0 * hand / whole_full,
                                        hand_time))
    print("%-44s %12.2fx" % ("deltas against the hand-made patches", with_moved / hand))
    print("\n50 MB file, a few stretches rewritten: patch %d bytes, made in %.1f s" % (big_patch, big_make))
    for where, rate in zip(("to disk (synced)", "into memory (/dev/shm)"), big_rates):
        print("  applied %-24s wall %.3f s %5.0f MB/s, processor %.3f s %5.0f MB/s" % ((where,) + rate))
    print("(wall times on a shared machine under load; processor time is the program's own)")
    print("goals: within 1.1x of the hand-made patch, at most 30 % of the full files, applying at 100 MB/s or more")
finally:
    shutil.rmtree(work, ignore_errors=True)
    shutil.rmtree(served, ignore_errors=True)
    os.makedirs(served, exist_ok=True)

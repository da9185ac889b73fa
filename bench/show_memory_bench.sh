#!/bin/sh
# Peak memory of `oxmail show` on a large plain-text message, against the message size: the
# target is a peak heap of at most three times the body. The maximum resident set of the process
# is measured (heap plus the program and its libraries, so a little more than the heap).
# Usage: bench/show_memory_bench.sh [OXMAIL] [MEGABYTES]
set -eu
OXMAIL=${1:-build/tools/oxmail/oxmail}
MB=${2:-100}
exec python3 - "$OXMAIL" "$MB" <<'PY'
import os, resource, subprocess, sys, tempfile, shutil
oxmail, mb = sys.argv[1], int(sys.argv[2])
work = tempfile.mkdtemp(prefix="oxmail-show-bench.")
try:
    root = os.path.join(work, "root")
    env = dict(os.environ, OXMIDDLE_SYNC="0")
    def run(*args, out=subprocess.DEVNULL):
        subprocess.run([oxmail, "--root", root, "--quiet"] + list(args), check=True, stdout=out, env=env)
    run("init")
    run("account", "add", "Bench")
    line = b"The quick brown fox jumps over the lazy dog, line after line of plain text.\r\n"
    path = os.path.join(work, "big.eml")
    with open(path, "wb") as f:
        f.write(b"From: a@example.jp\r\nTo: b@example.jp\r\nSubject: big\r\n"
                b"Date: Fri, 04 Dec 2026 09:30:00 +0900\r\n\r\n")
        f.write(line * (mb * 1024 * 1024 // len(line)))
    body = os.path.getsize(path)
    run("import", "Bench", "inbox", path)
    # A fresh measuring process, so that only the show counts (not the import before it).
    probe = ("import resource, subprocess, sys; "
             "subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL); "
             "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
    peak = int(subprocess.run([sys.executable, "-c", probe, oxmail, "--root", root, "show", "Bench", "0"],
                              check=True, capture_output=True, env=env).stdout) * 1024
    print(f"show of a {body / 1e6:.1f} MB plain message: peak resident {peak / 1e6:.1f} MB, "
          f"{peak / body:.2f} x the message (target at most 3 x)")
finally:
    shutil.rmtree(work, ignore_errors=True)
PY

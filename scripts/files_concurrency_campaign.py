#!/usr/bin/env python3
"""Several kxloader runs at once on one terminal and one journal file, with
scans made and clears run meanwhile, some runs killed; then checks that every
scan is kept exactly once.

    scripts/files_concurrency_campaign.py [build-dir] [--runs N] [--kinds pty,tcp,local] [--seed S]

For each line kind (pseudo-terminal, TCP with TLS, local socket) one
numbered kxterminal serves one state folder, and kxloader runs with one
program folder, one settings file (OverwriteJournal=0: appending, so a
doubled scan shows, shipped time-outs) and one project, so every run
downloads into the same journal.txt (each run writes its own report,
`/x report-N.txt`, as two runs at once must). A round makes fresh scans, starts
two or three runs at once (`/j`, `/j /c`, `/c`, a filtered `/j filter: o=3`),
keeps making scans (`kxterminal --scan`) while they go on, and in some cases
kills one run (SIGKILL, SIGTERM or SIGINT) at a random moment. Then it
recovers (`/x /j /c` until 0 or 50, bounded) and the checker
(campaign_support.Checker) counts every scan ever made across the PC's
journal file and the terminal's journal.txt: 0 is lost, more than 1 doubled.

A run's exit code is unexpected when it is 0 and the file lacks a scan the
terminal held when the round began (of operation 3 for the filtered run), or
a `/j /c` ended 0 and such a scan is still on the terminal; when it is none
of 0, 4 (the line taken by another run: sockets have no busy answer), 6 (busy
too long), 50 (nothing to download) or what its kill gives; or when it hung.

It prints one table: line kind, case, rounds, runs, scans lost, scans
doubled, unexpected exit codes, and the exit codes seen. Exit code 1 when
any scan is lost or doubled or an exit code was unexpected.
"""

import argparse
import random
import shutil
import signal
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
sys.path.insert(0, str(Path(__file__).resolve().parent))
import campaign_support  # noqa: E402
from campaign_support import Bench, count_serials  # noqa: E402

SIGNALS = {"KILL": signal.SIGKILL, "TERM": signal.SIGTERM, "INT": signal.SIGINT}
KILLED_CODE = {"KILL": -9, "TERM": 143, "INT": 130}
J, JC, C, JF = ["/x", "/j"], ["/x", "/j", "/c"], ["/x", "/c"], ["/x", "/j", "filter:", "o=3"]

CASES = [
    ("two /j /c at once, scans meanwhile", [JC, JC], False),
    ("/j, /j /c and /c at once, scans meanwhile", [J, JC, C], False),
    ("filtered /j, /j /c at once, scans meanwhile", [JF, JC], False),
    ("two /j /c and a /c, one killed at random, scans meanwhile", [JC, JC, C], True),
    ("/j, filtered /j, /j /c, one killed at random, scans meanwhile", [J, JF, JC], True),
]


class Row:
    def __init__(self):
        self.rounds = self.runs = self.lost = self.doubled = self.unexpected = 0
        self.codes = {}
        self.notes = []


def one_round(bench, rng, runs_args, kill, row):
    bench.scenario("")
    bench.switch_on()
    bench.scan(rng.randint(40, 160))
    at_start = set(bench.terminal_serials())
    of_op3 = {s for s in at_start if bench.ledger.lines[s].split(";")[2] == "3"}
    bench.mark()
    problems = []
    # Each run its own report file (/x FILE): two runs never share one.
    runs_args = [["/x", "report-%d.txt" % i] + a[1:] for i, a in enumerate(runs_args)]
    procs = [bench.start(a) for a in runs_args]
    # Scans made while the runs go on.
    stop = threading.Event()

    def scanner():
        made = 0
        while not stop.is_set() and made < 30:
            bench.scan(1)
            made += 1
    t = threading.Thread(target=scanner)
    t.start()
    victim, signame = None, None
    if kill:
        victim = rng.randrange(len(procs))
        signame = rng.choice(list(SIGNALS))
        time.sleep(rng.uniform(0.0, 2.0))
        if procs[victim].poll() is None:
            procs[victim].send_signal(SIGNALS[signame])
    codes = [bench.finish(p) for p in procs]
    stop.set()
    t.join()
    pc = set(count_serials(bench.pc_journals()))
    term = set(bench.terminal_serials())
    bad = False
    for i, (args, code) in enumerate(zip(runs_args, codes)):
        key = ("killed %s: %s" % (signame, code)) if i == victim else str(code)
        row.codes[key] = row.codes.get(key, 0) + 1
        row.runs += 1
        allowed = {0, 4, 6, 50} | ({KILLED_CODE[signame]} if i == victim else set())
        if code == "hang" or code not in allowed:
            problems.append("%s ended %s" % (" ".join(args), code))
            bad = True
        elif code == 0 and "/j" in args:
            want = of_op3 if "filter:" in args else at_start
            if want - pc:
                problems.append("%s ended 0, %d scans not in the file" % (" ".join(args), len(want - pc)))
                bad = True
            elif "/c" in args and want & term:
                problems.append("%s ended 0, %d scans still on the terminal" % (" ".join(args), len(want & term)))
                bad = True
    recovery, ok = bench.recover()
    if not ok or any(c not in (0, 50, 6) for c in recovery):
        problems.append("recovery codes %s" % recovery)
        bad = True
    lost, doubled, unknown = bench.checker.check()
    row.rounds += 1
    row.lost += len(lost)
    row.doubled += len(doubled)
    row.unexpected += 1 if bad else 0
    problems += campaign_support.serial_problems(lost, doubled, unknown)
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=6, help="rounds per case and line kind (default 6)")
    ap.add_argument("--kinds", default="pty,tcp,local")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--run-timeout", type=float, default=120,
                    help="seconds one kxloader run may take; longer counts as hung (default 120)")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    opts = ap.parse_args()
    campaign_support.RUN_TIMEOUT = opts.run_timeout
    started = time.monotonic()
    root = Path(tempfile.mkdtemp(prefix="kx-concurrency-"))
    rows = {}
    errors = []
    kinds = [k for k in opts.kinds.split(",") if k]

    def body(i, kind):
        rng = random.Random(opts.seed * 1000 + i)
        try:
            bench = Bench(opts.build, root / kind, kind, rng, serial_start=(i + 1) * 10 ** 7)
            bench.switch_on()
            for r in range(opts.runs):
                for name, runs_args, kill in CASES:
                    row = rows.setdefault((kind, name), Row())
                    problems = one_round(bench, rng, runs_args, kill, row)
                    if problems:
                        if len(row.notes) < 2:
                            row.notes.append(problems[0])
                        print("  FAULT %s | %s: %s (folder %s)" % (kind, name, "; ".join(problems), bench.root),
                              file=sys.stderr, flush=True)
                print("  %s: %d rounds of each case" % (kind, r + 1), file=sys.stderr, flush=True)
            bench.switch_off()
        except Exception as e:
            errors.append("%s: %r" % (kind, e))
            print("  ERROR %s: %r" % (kind, e), file=sys.stderr, flush=True)

    threads = [threading.Thread(target=body, args=(i, k)) for i, k in enumerate(kinds)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print("\n| line | case | rounds | runs | scans lost | scans doubled | unexpected exit codes | exit codes seen |")
    print("|---|---|---|---|---|---|---|---|")
    tot = [0, 0, 0, 0, 0]
    for kind in kinds:
        for name, _, _ in CASES:
            row = rows.get((kind, name))
            if not row:
                continue
            seen = ", ".join("%s: %d" % kv for kv in sorted(row.codes.items()))
            print("| %s | %s | %d | %d | %d | %d | %d%s | %s |" % (
                kind, name, row.rounds, row.runs, row.lost, row.doubled, row.unexpected,
                " (" + row.notes[0] + ")" if row.notes else "", seen))
            for j, v in enumerate((row.rounds, row.runs, row.lost, row.doubled, row.unexpected)):
                tot[j] += v
    print("| **total** | | %d | %d | %d | %d | %d | |" % tuple(tot))
    print("\nwall time %.0f s; work folder %s" % (time.monotonic() - started, root))
    for e in errors:
        print("bench error: " + e)
    failed = tot[2] or tot[3] or tot[4] or errors
    if not failed and not opts.keep:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs several kxloader downloads into one journal file at once, some of them
killed at a random moment, and checks that the file never mixes journals.

    scripts/files_concurrency_campaign.py [build-dir] [--runs N] [--seed S]

Two or three emulated terminals, each with a journal of its own (random
EAN-13 barcodes), each reached by a kxloader run with a settings file of its
own (KXLOADER_INI) on one project, download with OverwriteJournal=0 into the
same journal.txt at the same moment. After every round the PC journal must be
the old bytes followed by whole downloads, each at most once, in any order;
a run that ended with 0 must have its download in the file; a run that did
not must have left no line of its own there. A killed run may or may not have
landed, but never in part. It prints one table: case, runs, damaged.
"""

import argparse
import itertools
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

LINES = 1500


def ean13(rng):
    digits = "460" + "".join(str(rng.randrange(10)) for _ in range(9))
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return digits + str((10 - total % 10) % 10)


class Terminal:
    def __init__(self, root, build, name, rng):
        self.state = root / ("state-" + name)
        self.state.mkdir()
        self.socket = str(root / (name + ".sock"))
        self.ini = root / (name + ".ini")
        self.build = build
        lines = ["%s;%d;1;1;1;1;%s%05d;08.12.2026 10:%02d:00;" % (
            ean13(rng), 1 + rng.randrange(24), name, rng.randrange(99999), i % 60) for i in range(LINES)]
        self.journal = b"".join(l.encode("cp1251") + b"\r\n" for l in lines)
        self.download = b"".join(b"%d;" % (i + 1) + l.encode("cp1251") + b"\r\n" for i, l in enumerate(lines))
        self.process = None

    def switch_on(self):
        (self.state / "journal.txt").write_bytes(self.journal)
        self.process = subprocess.Popen(
            [str(self.build / "bin" / "kxterminal"), "--state", str(self.state), "--listen", self.socket],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        assert self.process.stdout.readline().startswith(b"port: ")

    def switch_off(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)


def landed_once_in_order(now, before, downloads):
    """The downloads (indices) that follow `before` in `now`, or None when
    `now` is anything but `before` and whole downloads, each at most once."""
    if not now.startswith(before):
        return None
    rest = now[len(before):]
    for count in range(len(downloads) + 1):
        for order in itertools.permutations(range(len(downloads)), count):
            if b"".join(downloads[i] for i in order) == rest:
                return set(order)
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=6)
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()
    build = Path(args.build).resolve()
    rng = random.Random(args.seed)
    root = Path(tempfile.mkdtemp(prefix="kx-concurrency-"))
    try:
        program = root / "bin"
        program.mkdir()
        for name in ("kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"):
            os.link(build / "bin" / name, program / name)
        (program / "parlink.ini").write_text("[link]\nLinkTimeoutMs=60000\nAnswerTimeoutMs=60000\n")
        files = root / "project" / "files"
        files.mkdir(parents=True)
        project = root / "project" / "demo.kxc"
        shutil.copy(build / "bin" / "demo" / "demo.kxc", project)
        terminals = [Terminal(root, build, n, rng) for n in ("A", "B", "C")]
        for t in terminals:
            t.ini.write_text("[kxloader.exe]\nport=local:%s\nconfig=%s\nOverwriteJournal=0\nBusyFileWait=60\n"
                             % (t.socket, project))
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        journal = files / "journal.txt"
        results = []

        def case(name, count, kill):
            damaged, notes, outcomes = 0, [], {}
            for _ in range(args.runs):
                used = terminals[:count]
                before = journal.read_bytes() if journal.exists() else b""
                for t in used:
                    t.switch_on()
                runs = []
                for t in used:
                    e = dict(env, KXLOADER_INI=str(t.ini))
                    runs.append(subprocess.Popen([str(program / "kxloader"), "/x", "/j"], env=e,
                                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
                killed = set()
                if kill:
                    time.sleep(rng.uniform(0.0, 0.6))
                    victim = rng.randrange(count)
                    if runs[victim].poll() is None:
                        os.kill(runs[victim].pid, signal.SIGKILL)
                        killed.add(victim)
                codes = [r.wait(180) for r in runs]
                for i, code in enumerate(codes):
                    key = "killed" if i in killed else str(code)
                    outcomes[key] = outcomes.get(key, 0) + 1
                for t in used:
                    t.switch_off()
                now = journal.read_bytes() if journal.exists() else b""
                landed = landed_once_in_order(now, before, [t.download for t in used])
                problems = []
                if landed is None:
                    problems.append("journal mixed or cut (%d bytes, was %d)" % (len(now), len(before)))
                else:
                    for i, code in enumerate(codes):
                        if i in killed:
                            continue
                        if code == 0 and i not in landed:
                            problems.append("run %d ended 0 but its journal is not in the file" % i)
                        if code != 0 and i in landed:
                            problems.append("run %d ended %d but its journal is in the file" % (i, code))
                if problems:
                    damaged += 1
                    notes += problems
            seen = ", ".join("%s: %d" % kv for kv in sorted(outcomes.items()))
            results.append((name, args.runs, damaged, seen))
            print("  %-52s %3d rounds, %d damaged (exit codes %s) %s" % (name, args.runs, damaged, seen, notes[:1]),
                  flush=True)

        case("two /j at once, appending to one journal", 2, False)
        case("three /j at once, appending to one journal", 3, False)
        case("two /j at once, one killed at a random moment", 2, True)
        case("three /j at once, one killed at a random moment", 3, True)

        print("\n| case | rounds | exit codes of the runs | damaged |\n|---|---|---|---|")
        for name, runs, damaged, seen in results:
            print("| %s | %d | %s | %d |" % (name, runs, seen, damaged))
        total = sum(r[2] for r in results)
        print("\n%d runs, %d damaged" % (sum(r[1] for r in results), total))
        return 1 if total else 0
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

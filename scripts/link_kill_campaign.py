#!/usr/bin/env python3
"""Kills kxloader (and the emulated terminal) inside journal downloads and
clears, and checks that every scan is kept exactly once.

    scripts/link_kill_campaign.py [build-dir] [--runs N] [--old-runs M] [--seed S]
    scripts/link_kill_campaign.py [build-dir] --break

The real kxloader (the demo project, OverwriteJournal=0: appending, so a
doubled scan shows) runs against kxterminal on a pseudo-terminal, a local
socket and TCP with TLS (paired first), with the shipped time-outs (no
parlink.ini). Each run makes fresh scans on the terminal (`kxterminal
--scan`: EAN-13 with a valid check digit and a serial of its own), runs one
case, then recovers: `/x /j /c` again until it ends 0 or 50 (bounded).

Cases (each with SIGKILL, SIGTERM and SIGINT):
- `/j /c` held at 02S, 020, 02L, 031, 00S or 004 (HoldAtCommand) and killed;
- held in the middle of the transfer (HoldJournalAfter=K), scans made while
  it is held, then killed; `/j /c` and `/j` alone;
- killed at a random moment measured from "C 020" in commands.log, inside
  the transfer, the commit and the clear (the window is the measured time
  from 020 to the session's "S bye" in whole runs; the table's footer
  says where the kills landed); `/j /c` in one run, and `/j` then
  `/c` as two runs with either one killed;
- a filtered `/j filter: o=3` killed (never batched with /c), then `/c`;
- the terminal itself killed (held, or at a random moment after 020) and
  started again on the same state folder (a pty gets a new name: the
  settings are written again);
- whole runs while scans are being made.

The checker (campaign_support.Checker) is the ground truth: after each case
and its recovery, every scan ever made is counted across the PC's journal
files and the terminal's journal.txt; 0 is lost, more than 1 doubled. An
exit code is unexpected when it is not what the kill gives (-9, 143, 130),
or 0 when the PC file did not get the scans the run was to take (or, with
/c, the terminal still holds them); a hung run counts there too.

Version-1 terminals (`--protocol 1`) and version-2 ones without capabilities
(`--capabilities none`) have rows of their own outside the total: there a
run stopped after its file's commit and before a confirmed clear leaves
scans that the next download brings again, by design (the old protocol
cannot tell which scans a file holds). Those runs' `/c` follows only a `/j`
that ended 0, as a script does (`kxloader /j && kxloader /c`).

The numbered benches run side by side, then the two older ones. The default
(540 numbered runs, 180 on each line kind, and 60 older) takes about 12
minutes on a 2-core machine; --runs N sets the numbered total.

`--break` plants faults after a few runs (a PC line written a second time, a
scan taken off the terminal, the last line of a /j that ended 0 taken off
the file) and shows that the checks report them; it ends 0 only when they
did.

Exit code: 0 when the numbered-terminal rows show no lost or doubled scan
and no unexpected exit code, 1 otherwise.
"""

import argparse
import random
import signal
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
sys.path.insert(0, str(Path(__file__).resolve().parent))
import campaign_support  # noqa: E402
from campaign_support import Bench, wait_until  # noqa: E402

SIGNALS = {"KILL": signal.SIGKILL, "TERM": signal.SIGTERM, "INT": signal.SIGINT}
EXPECTED_KILLED = {"KILL": -9, "TERM": 143, "INT": 130}
HOLD_LIMIT = 60  # seconds to wait for a hold the case asked for (a failure limit)


class Row:
    def __init__(self):
        self.runs = self.lost = self.doubled = self.unexpected = 0
        self.notes = []

    def note(self, text):
        if len(self.notes) < 3:
            self.notes.append(text)


class Runner:
    """Runs the cases of one bench and fills its rows."""

    def __init__(self, bench, label, rng, old):
        self.bench = bench
        self.label = label
        self.rng = rng
        self.old = old
        self.rows = {}
        self.log_lines = []
        self.landings = {}

    def row(self, name):
        return self.rows.setdefault(name, Row())

    # --- pieces ---
    def fresh_scans(self, low=40, high=160):
        self.bench.scan(self.rng.randint(low, high))

    def plain_terminal(self, switch_on=True, fresh_scans=False):
        """The terminal without a scenario (switched on, with fresh scans), its log marked."""
        if fresh_scans:
            self.fresh_scans()
        b = self.bench
        b.scenario("")
        if switch_on:
            b.switch_on()
        b.mark()
        return b

    def whole_run(self, args, what, problems, switch_on=False):
        """`args` run whole on a terminal without a scenario: True when it ended 0
        and did what it says; else the problems say why."""
        b = self.plain_terminal(switch_on)
        bt, bp = self.snapshot()
        code = b.run(args)
        ok = code == 0
        if not ok:
            problems.append("%s ended %s" % (what, code))
        return self.check_zero(args, code, bt, bp, problems) is not False and ok

    def snapshot(self):
        """Serials on the terminal and in the PC files now."""
        b = self.bench
        term = b.terminal_serials()
        pc = {}
        from campaign_support import count_serials
        pc = count_serials(b.pc_journals())
        return set(term), set(pc)

    def filtered_serials(self, serials):
        """The serials among these whose operation (third field) is 3."""
        return {s for s in serials if self.bench.ledger.lines[s].split(";")[2] == "3"}

    def check_zero(self, args, code, before_term, before_pc, problems, filtered=False):
        """A run that ended 0 did what it says."""
        if code != 0:
            return
        term, pc = self.snapshot()
        if "/j" in args:
            want = self.filtered_serials(before_term) if filtered else before_term
            missing = want - pc
            if missing:
                problems.append("exit 0 but %d scans not in the PC file (%s)" % (len(missing), " ".join(args)))
                return False
            if "/c" in args and want & term:
                problems.append("exit 0 but %d downloaded scans still on the terminal" % len(want & term))
                return False
        elif "/c" in args:
            held = before_pc & before_term
            if held & term:
                problems.append("/c exit 0 but %d scans the PC holds still on the terminal" % len(held & term))
                return False
        return True

    def wait_020(self, p):
        return wait_until(lambda: "C 020" in self.bench.log() or p.poll() is not None, HOLD_LIMIT, 0.002)

    def landed(self, p):
        """Notes where a random kill lands: the last command the terminal
        logged, or "ended" when the run was over first."""
        if p.poll() is not None:
            where = "ended before the kill"
        else:
            where = "no command yet"
            for line in self.bench.log().splitlines():
                if line.startswith("C ") or line.startswith("S bye"):
                    where = "after " + line
        self.landings[where] = self.landings.get(where, 0) + 1

    def random_delay(self):
        w = self.bench.windows
        window = max(0.02, (sum(w) / len(w)) if w else 0.3)
        return self.rng.uniform(0.0, window)

    def kill_run(self, args, how, sig, problems, scenario="", hold_text=None, scans_meanwhile=0,
                 kill_terminal=False):
        """Starts kxloader with args, waits for the moment (`how`: "hold" -
        the log says hold_text; "random" - a random time after C 020), makes
        scans meanwhile when asked, then kills kxloader (or the terminal).
        Returns the exit code (or None when the moment never came)."""
        b = self.bench
        b.release(False)
        b.scenario(scenario)
        b.switch_on()
        b.mark()
        before_term, before_pc = self.snapshot()
        p = b.start(args)
        reached = True
        if how == "hold":
            reached = wait_until(lambda: hold_text in b.log() or p.poll() is not None, HOLD_LIMIT)
            if p.poll() is not None or not reached:
                problems.append("never held at %s (exit %s)" % (hold_text, p.poll()))
                reached = False
        else:
            self.wait_020(p)
            time.sleep(self.random_delay())
            self.landed(p)
        if scans_meanwhile and p.poll() is None:
            b.scan(scans_meanwhile)
        if kill_terminal:
            b.kill_terminal(signal.SIGKILL)
            code = b.finish(p)
        else:
            if p.poll() is None:
                p.send_signal(sig)
            b.release(True)
            code = b.finish(p)
        b.release(True)
        return code, before_term, before_pc, reached

    def judge_code(self, code, signame, args, before_term, before_pc, problems, filtered=False,
                   terminal_killed=False):
        if code == "hang":
            problems.append("%s hung" % " ".join(args))
            return False
        if terminal_killed:
            expected = (3, 4)
        else:
            expected = (EXPECTED_KILLED[signame],)
        if code == 0:
            return self.check_zero(args, code, before_term, before_pc, problems, filtered)
        if code not in expected:
            problems.append("%s ended %s (expected %s)" % (" ".join(args), code, "/".join(map(str, expected))))
            return False
        return True

    def recover_and_check(self, name, problems, unexpected):
        b = self.bench
        codes, ok = b.recover()
        if not ok or any(c not in (0, 50, 6) for c in codes):
            problems.append("recovery codes %s" % codes)
            unexpected = True
        elif codes[-1] == 0 and b.terminal_serials():
            problems.append("recovery ended 0 and left %d scans on the terminal" % len(b.terminal_serials()))
            unexpected = True
        lost, doubled, unknown = b.checker.check()
        # One row a case, whatever the signal (the cycle gives each case every signal).
        r = self.row(name.rsplit(", SIG", 1)[0])
        r.runs += 1
        r.lost += len(lost)
        r.doubled += len(doubled)
        if unexpected:
            r.unexpected += 1
        problems += campaign_support.serial_problems(lost, doubled, unknown)
        if problems:
            r.note(problems[0])
            self.log_lines.append("%s | %s: %s" % (self.label, name, "; ".join(problems)))
            print("  FAULT %s | %s: %s (folder %s)" % (self.label, name, "; ".join(problems), b.root),
                  file=sys.stderr, flush=True)

    # --- cases ---
    def case_hold(self, at, signame, args=("/x", "/j", "/c")):
        name = "%s held at %s, SIG%s" % (" ".join(args[1:]), at, signame)
        self.fresh_scans()
        problems = []
        code, bt, bp, reached = self.kill_run(list(args), "hold", SIGNALS[signame], problems,
                                              "HoldAtCommand=" + at, "S hold")
        ok = reached and self.judge_code(code, signame, args, bt, bp, problems)
        self.recover_and_check(name, problems, not ok)

    def case_hold_journal(self, signame, args, scans_meanwhile):
        name = "%s held after K lines%s, SIG%s" % (" ".join(args[1:]), ", scans meanwhile" if scans_meanwhile else "",
                                                 signame)
        self.fresh_scans()
        n = len(self.bench.terminal_serials())
        k = self.rng.randint(1, max(1, n - 1))
        problems = []
        code, bt, bp, reached = self.kill_run(list(args), "hold", SIGNALS[signame], problems,
                                              "HoldJournalAfter=%d" % k, "J held after %d" % k,
                                              scans_meanwhile=scans_meanwhile)
        ok = reached and self.judge_code(code, signame, args, bt, bp, problems)
        self.recover_and_check(name, problems, not ok)

    def case_random(self, signame, args, scans_meanwhile=0):
        name = "%s killed at random after 020, SIG%s" % (" ".join(args[1:]), signame)
        self.fresh_scans()
        problems = []
        code, bt, bp, _ = self.kill_run(list(args), "random", SIGNALS[signame], problems,
                                        scans_meanwhile=scans_meanwhile)
        ok = self.judge_code(code, signame, args, bt, bp, problems)
        self.recover_and_check(name, problems, not ok)

    def case_two_runs(self, signame, killed):
        """/j then /c as two runs; `killed` says which one is killed."""
        name = "/j then /c, the %s killed at random, SIG%s" % (killed, signame)
        self.fresh_scans()
        b = self.bench
        problems = []
        ok = True
        if killed == "/j":
            code, bt, bp, _ = self.kill_run(["/x", "/j"], "random", SIGNALS[signame], problems)
            ok = self.judge_code(code, signame, ["/x", "/j"], bt, bp, problems)
            if self.old and code != 0:
                # An older terminal's /c empties its journal: a script clears it only after a /j that
                # ended 0 (kxloader /j && kxloader /c).
                self.recover_and_check(name, problems, not ok)
                return
            ok = self.whole_run(["/x", "/c"], "/c after the killed /j", problems) and ok
        else:
            ok = self.whole_run(["/x", "/j"], "/j before the killed /c", problems, switch_on=True) and ok
            if not self.old:
                self.bench.scan(self.rng.randint(1, 5))  # made between the two runs: /c keeps them
            if self.rng.random() < 0.5:
                code, bt, bp, reached = self.kill_run(["/x", "/c"], "hold", SIGNALS[signame], problems,
                                                      "HoldAtCommand=" + ("001" if self.old else "00S"), "S hold")
                ok = reached and ok
            else:
                b.scenario("")
                b.mark()
                bt, bp = self.snapshot()
                p = b.start(["/x", "/c"])
                wait_until(lambda: "S begin" in b.log() or p.poll() is not None, HOLD_LIMIT, 0.002)
                time.sleep(self.rng.uniform(0.0, 0.15))
                self.landed(p)
                if p.poll() is None:
                    p.send_signal(SIGNALS[signame])
                code = b.finish(p)
            ok = self.judge_code(code, signame, ["/x", "/c"], bt, bp, problems) and ok
        self.recover_and_check(name, problems, not ok)

    def case_filtered(self, how, signame):
        name = "/j filter: o=3 %s then /c, SIG%s" % (how, signame)
        self.fresh_scans()
        args = ["/x", "/j", "filter:", "o=3"]
        b = self.bench
        problems = []
        if how.startswith("held at"):
            at = how.split()[-1]
            code, bt, bp, reached = self.kill_run(args, "hold", SIGNALS[signame], problems,
                                                  "HoldAtCommand=" + at, "S hold")
        elif how == "held after K lines":
            n = len(self.filtered_serials(b.terminal_serials()))
            k = self.rng.randint(1, max(1, n - 1))
            code, bt, bp, reached = self.kill_run(args, "hold", SIGNALS[signame], problems,
                                                  "HoldJournalAfter=%d" % k, "J held after %d" % k)
        else:
            code, bt, bp, reached = self.kill_run(args, "random", SIGNALS[signame], problems)
        ok = reached and self.judge_code(code, signame, args, bt, bp, problems, filtered=True)
        # A clear now erases only what the PC holds: the scans the filter left out stay.
        ok = self.whole_run(["/x", "/c"], "/c after the filtered /j", problems) and ok
        self.recover_and_check(name, problems, not ok)

    def case_filtered_whole(self):
        """A whole filtered /j, a scan, /c alone, then the plain round."""
        name = "/j filter: o=3 whole, a scan, /c, then /j"
        b = self.plain_terminal(fresh_scans=True)
        problems = []
        bt, bp = self.snapshot()
        code = b.run(["/x", "/j", "filter:", "o=3"])
        ok = code in (0, 50) and self.check_zero(["/x", "/j"], code, bt, bp, problems, filtered=True) is not False
        if code not in (0, 50):
            problems.append("filtered /j ended %s" % code)
        b.scan(2)
        b.mark()
        bt, bp = self.snapshot()
        code = b.run(["/x", "/c"])
        ok = ok and code == 0 and self.check_zero(["/x", "/c"], code, bt, bp, problems) is not False
        if code != 0:
            problems.append("/c ended %s" % code)
        self.recover_and_check(name, problems, not ok)

    def case_terminal_killed(self, how, args=("/x", "/j", "/c")):
        name = "%s, the terminal killed %s" % (" ".join(args[1:]), how)
        self.fresh_scans()
        problems = []
        if how.startswith("held at"):
            code, bt, bp, reached = self.kill_run(list(args), "hold", None, problems,
                                                  "HoldAtCommand=" + how.split()[-1], "S hold", kill_terminal=True)
        elif how == "held after K lines":
            n = len(self.bench.terminal_serials())
            k = self.rng.randint(1, max(1, n - 1))
            code, bt, bp, reached = self.kill_run(list(args), "hold", None, problems, "HoldJournalAfter=%d" % k,
                                                  "J held after %d" % k, kill_terminal=True)
        else:
            code, bt, bp, reached = self.kill_run(list(args), "random", None, problems, kill_terminal=True)
        ok = reached and self.judge_code(code, "KILL", args, bt, bp, problems, terminal_killed=True)
        self.recover_and_check(name, problems, not ok)

    def case_scans_during(self):
        """A whole /j /c while scans are being made: those stay or come, once."""
        name = "/j /c while scans are made"
        b = self.plain_terminal(fresh_scans=True)
        problems = []
        p = b.start(["/x", "/j", "/c"])
        self.wait_020(p)
        made = 0
        while p.poll() is None and made < 40:
            b.scan(1)
            made += 1
        code = b.finish(p)
        ok = code == 0
        if code != 0:
            problems.append("/j /c with scans meanwhile ended %s" % code)
        self.recover_and_check(name, problems, not ok)

    # --- the plan ---
    def plan(self):
        """One cycle of cases; the runs go round it."""
        steps = []
        holds = ("020", "031", "004") if self.old else ("02S", "020", "02L", "031", "00S", "004")
        for at in holds:
            for s in SIGNALS:
                steps.append(lambda at=at, s=s: self.case_hold(at, s))
        if self.old:
            for s in SIGNALS:
                steps.append(lambda s=s: self.case_hold("001", s))
        for s in SIGNALS:
            steps.append(lambda s=s: self.case_hold_journal(s, ("/x", "/j", "/c"), 0 if self.old else 3))
            steps.append(lambda s=s: self.case_hold_journal(s, ("/x", "/j"), 0 if self.old else 2))
        for _ in range(2):
            for s in SIGNALS:
                steps.append(lambda s=s: self.case_random(s, ("/x", "/j", "/c")))
                steps.append(lambda s=s: self.case_random(s, ("/x", "/j")))
                steps.append(lambda s=s: self.case_two_runs(s, "/j"))
                steps.append(lambda s=s: self.case_two_runs(s, "/c"))
        if not self.old:
            for s in SIGNALS:
                steps.append(lambda s=s: self.case_random(s, ("/x", "/j", "/c"), scans_meanwhile=3))
            for how, s in (("held at 020", "KILL"), ("held at 031", "INT"), ("held after K lines", "TERM"),
                           ("held after K lines", "KILL"), ("at random after 020", "KILL"),
                           ("at random after 020", "INT")):
                steps.append(lambda how=how, s=s: self.case_filtered(how, s))
            steps.append(self.case_filtered_whole)
            steps.append(self.case_scans_during)
        for how in ("held at 031", "held at 00S", "held at 004", "held after K lines", "at random after 020",
                    "at random after 020"):
            if self.old and how == "held at 00S":
                how = "held at 001"
            steps.append(lambda how=how: self.case_terminal_killed(how))
        return steps

    def calibrate(self):
        b = self.bench
        for _ in range(2):
            self.fresh_scans()
            codes, ok = b.recover()
            if not ok:
                raise RuntimeError("%s: the first whole runs failed: %s" % (self.label, codes))
        b.checker.check()

    def go(self, runs, deadline):
        self.calibrate()
        steps = self.plan()
        self.rng.shuffle(steps)
        done = 0
        while done < runs and time.monotonic() < deadline:
            steps[done % len(steps)]()
            done += 1
            if done % 25 == 0:
                print("  %s: %d runs" % (self.label, done), file=sys.stderr, flush=True)
        self.bench.switch_off()


def print_table(title, runners):
    print("\n%s\n" % title)
    print("| line | terminal | case | runs | scans lost | scans doubled | unexpected exit codes |")
    print("|---|---|---|---|---|---|---|")
    totals = [0, 0, 0, 0]
    for r in runners:
        kind, terminal = r.label.split(" ", 1)
        for name in sorted(r.rows):
            row = r.rows[name]
            print("| %s | %s | %s | %d | %d | %d | %d%s |" % (kind, terminal, name, row.runs, row.lost, row.doubled,
                                                              row.unexpected,
                                                              " (" + row.notes[0] + ")" if row.notes else ""))
            totals[0] += row.runs
            totals[1] += row.lost
            totals[2] += row.doubled
            totals[3] += row.unexpected
    return totals


def summary(runners):
    out = []
    for r in runners:
        t = [0, 0, 0, 0]
        for row in r.rows.values():
            t[0] += row.runs
            t[1] += row.lost
            t[2] += row.doubled
            t[3] += row.unexpected
        out.append((r.label, t))
    return out


def self_check(build, seed):
    """Plants faults and shows the checker reports them."""
    rng = random.Random(seed)
    caught = []
    with tempfile.TemporaryDirectory(prefix="kx-break-") as root:
        bench = Bench(build, root, "local", rng)
        runner = Runner(bench, "local numbered", rng, False)
        runner.calibrate()
        runner.case_random("KILL", ("/x", "/j", "/c"))
        # 1. One line of the PC file written a second time.
        journal = bench.pc_journals()[0]
        data = journal.read_bytes()
        first = data.split(b"\r\n")[0] + b"\r\n"
        journal.write_bytes(data + first)
        lost, doubled, _ = bench.checker.check()
        print("planted: a PC line written twice  -> checker: lost %d, doubled %d" % (len(lost), len(doubled)))
        caught.append(len(doubled) == 1 and not lost)
        # 2. One scan taken off the terminal (switched off first).
        bench.scan(5)
        bench.switch_off()
        tj = bench.state / "journal.txt"
        lines = tj.read_bytes().split(b"\r\n")
        tj.write_bytes(b"\r\n".join(lines[1:]))
        lost, doubled, _ = bench.checker.check()
        print("planted: a scan taken off the terminal -> checker: lost %d, doubled %d" % (len(lost), len(doubled)))
        caught.append(len(lost) == 1 and not doubled)
        # 3. A false 0: the claim of a /j checked against a file that lacks a scan.
        bench.switch_on()
        bench.scan(5)
        bt, bp = runner.snapshot()
        code = bench.run(["/x", "/j"])
        data = journal.read_bytes().split(b"\r\n")
        journal.write_bytes(b"\r\n".join(data[:-2] + data[-1:]))  # the last line of the download gone
        problems = []
        runner.check_zero(["/x", "/j"], code, bt, bp, problems)
        print("planted: a /j ended %d, its last line taken off -> %s" % (code, problems or "nothing reported"))
        caught.append(bool(problems))
        lost, doubled, _ = bench.checker.check()
        bench.switch_off()
    ok = all(caught)
    print("\nself-check: the checker %s every planted fault" % ("caught" if ok else "MISSED"))
    return 0 if ok else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=540,
                    help="runs with numbered terminals, spread over pty, TCP and local sockets (default 540)")
    ap.add_argument("--old-runs", type=int, default=60,
                    help="runs with version-1 and capability-less terminals, rows of their own (default 60)")
    ap.add_argument("--kinds", default="pty,tcp,local", help="line kinds for the numbered rows")
    ap.add_argument("--time-limit", type=float, default=3600, help="stop starting runs after this many seconds")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--run-timeout", type=float, default=120,
                    help="seconds one kxloader run may take; longer counts as hung (default 120)")
    ap.add_argument("--break", dest="plant", action="store_true", help="self-check: plant faults, see them caught")
    ap.add_argument("--keep", action="store_true", help="keep the work folders (printed)")
    opts = ap.parse_args()
    campaign_support.RUN_TIMEOUT = opts.run_timeout
    if opts.plant:
        return self_check(opts.build, opts.seed)
    started = time.monotonic()
    deadline = started + opts.time_limit
    root = Path(tempfile.mkdtemp(prefix="kx-campaign-"))
    kinds = [k for k in opts.kinds.split(",") if k]
    setups = [(k, "numbered", [], False, opts.runs // len(kinds) + (1 if i < opts.runs % len(kinds) else 0))
              for i, k in enumerate(kinds)]
    if opts.old_runs:
        half = opts.old_runs // 2
        setups.append(("local", "version 1", ["--protocol", "1"], True, opts.old_runs - half))
        setups.append(("pty", "version 2 no capabilities", ["--capabilities", "none"], True, half))
    runners = []
    threads = []
    errors = []
    for i, (kind, terminal, targs, old, runs) in enumerate(setups):
        rng = random.Random(opts.seed * 1000 + i)
        bench = Bench(opts.build, root / ("%d-%s" % (i, kind)), kind, rng, targs, serial_start=(i + 1) * 10 ** 7)
        runner = Runner(bench, "%s %s" % (kind, terminal), rng, old)
        runners.append(runner)

        def body(runner=runner, runs=runs):
            try:
                runner.go(runs, deadline)
            except Exception as e:  # a bench that broke down is a failure of the campaign
                errors.append("%s: %r" % (runner.label, e))
                print("  ERROR %s: %r" % (runner.label, e), file=sys.stderr, flush=True)
                runner.bench.switch_off()
        threads.append(threading.Thread(target=body))
    # The numbered benches run side by side; the old ones after them.
    numbered = threads[:len(kinds)]
    for t in numbered:
        t.start()
    for t in numbered:
        t.join()
    for t in threads[len(kinds):]:
        t.start()
    for t in threads[len(kinds):]:
        t.join()
    wall = time.monotonic() - started
    n_numbered = len(kinds)
    totals = print_table("Numbered terminals (capabilities 01 and 02): the exactly-once rows", runners[:n_numbered])
    old_totals = print_table("Older terminals (version 1; version 2 without capabilities): outside the total",
                             runners[n_numbered:]) if runners[n_numbered:] else [0, 0, 0, 0]
    print("\n| terminals | runs | scans lost | scans doubled | unexpected exit codes |")
    print("|---|---|---|---|---|")
    for label, t in summary(runners):
        print("| %s | %d | %d | %d | %d |" % (label, t[0], t[1], t[2], t[3]))
    print("| **numbered, total** | %d | %d | %d | %d |" % tuple(totals))
    print("| older, total (by design may double) | %d | %d | %d | %d |" % tuple(old_totals))
    for title, group in (("numbered", runners[:n_numbered]), ("older", runners[n_numbered:])):
        landings = {}
        for r in group:
            for k, v in r.landings.items():
                landings[k] = landings.get(k, 0) + v
        if landings:
            print("\nrandom kills (%s terminals), by the last command the terminal logged: %s" % (
                title, ", ".join("%s: %d" % kv for kv in sorted(landings.items()))))
    scans = sum(r.bench.ledger.next - (i + 1) * 10 ** 7 for i, r in enumerate(runners))
    print("\n%d scans made; wall time %.0f s; work folder %s" % (scans, wall, root))
    for e in errors:
        print("bench error: " + e)
    if not opts.keep and not (totals[1] or totals[2] or totals[3] or errors):
        import shutil
        shutil.rmtree(root, ignore_errors=True)
    return 1 if (totals[1] or totals[2] or totals[3] or errors) else 0


if __name__ == "__main__":
    sys.exit(main())

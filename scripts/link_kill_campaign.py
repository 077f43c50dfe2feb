#!/usr/bin/env python3
"""Kills and cuts kxloader's exchanges with the emulated terminal and checks
that nothing is lost or counted that the terminal did not confirm.

    scripts/link_kill_campaign.py [build-dir] [--runs N] [--seed S]

Each case runs kxloader (the real program, the demo project) against
kxterminal on a local socket and either kills kxloader by its process id
(SIGKILL) at an aimed moment - the emulator holds at a command
(HoldAtCommand) and the kill comes when its log says so - or at a random
moment, or switches the terminal off as its K-th frame arrives
(ExitAfterFrames). After every run it checks the terminal's state folder and
the PC's files, then runs a plain /j and checks that it brings every scan
still on the terminal. It prints one table: case, runs, damaged.

Damage is any of: a terminal journal that is neither whole nor empty; a
terminal directory or info table that is neither the old nor the new one
whole; a filter on the terminal that no note remembers after a download; a
result 0 for a state the terminal does not hold; a switched-off terminal
reported as anything but 4; a PC journal or info file that is neither the
old bytes nor the old bytes with one whole download; a recovery /j that
misses scans or brings one twice.
"""

import argparse
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SCANS = 2000


def ean13(rng):
    digits = "460" + "".join(str(rng.randrange(10)) for _ in range(9))
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return digits + str((10 - total % 10) % 10)


def journal_lines(rng):
    lines = []
    for i in range(SCANS):
        lines.append("%s;%d;%d;%d;%d;%d;Т%05d;08.12.2026 %02d:%02d:00;" % (
            ean13(rng), 1 + rng.randrange(24), i % 3 + 1, 1 + i % 4, 1 + i % 5, 1 + i % 7,
            rng.randrange(1, 99999), 8 + i // 240, i // 4 % 60))
    return lines


def cp1251(text):
    return text.encode("cp1251")


class Bench:
    def __init__(self, build, root, rng):
        self.bin = Path(build) / "bin"
        self.root = Path(root)
        self.rng = rng
        self.program = self.root / "bin"
        self.project = self.root / "project" / "demo.kxc"
        self.files = self.root / "project" / "files"
        self.state = self.root / "state"
        self.socket = str(self.root / "t.sock")
        self.port = "local:" + self.socket
        self.terminal = None
        for d in (self.program, self.files, self.state):
            d.mkdir(parents=True, exist_ok=True)
        for name in ("kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"):
            os.link(self.bin / name, self.program / name)
        shutil.copy(self.bin / "demo" / "demo.kxc", self.project)
        for f in (self.bin / "demo" / "files").iterdir():
            shutil.copy(f, self.files / f.name)
        (self.program / "parlink.ini").write_text(
            "[link]\nLinkTimeoutMs=60000\nAnswerTimeoutMs=60000\nCloseTimeoutMs=60000\n")
        self.lines = journal_lines(rng)
        self.terminal_journal = b"".join(cp1251(l) + b"\r\n" for l in self.lines)
        # The demo project asks for record numbers.
        self.whole_download = b"".join(b"%d;" % (i + 1) + cp1251(l) + b"\r\n" for i, l in enumerate(self.lines))
        # A filtered download on operation 3 (the third field), as it arrives whole.
        self.filtered_download = b"".join(b"%d;" % (i + 1) + cp1251(l) + b"\r\n"
                                          for i, l in enumerate(self.lines) if l.split(";")[2] == "3")
        self.settings(overwrite=0)

    def settings(self, overwrite):
        (self.program / "kxloader.ini").write_text(
            "[kxloader.exe]\nport=%s\nconfig=%s\nOverwriteJournal=%d\n" % (self.port, self.project, overwrite))

    # --- the terminal ---
    def switch_on(self, scenario="", baud=0):
        self.switch_off()
        sc = self.state / "scenario.ini"
        if scenario:
            sc.write_text("[scenario]\n" + scenario + "\n")
        elif sc.exists():
            sc.unlink()
        args = [str(self.bin / "kxterminal"), "--state", str(self.state), "--listen", self.socket]
        if baud:
            args += ["--baud", str(baud)]
        self.terminal = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.terminal.stdout.readline().decode()
        assert line.startswith("port: "), line
        self.log_mark = self.log_size()

    def switch_off(self):
        if self.terminal and self.terminal.poll() is None:
            self.terminal.send_signal(signal.SIGTERM)
            self.terminal.wait(10)
        self.terminal = None

    def log_size(self):
        p = self.state / "commands.log"
        return p.stat().st_size if p.exists() else 0

    def log(self):
        p = self.state / "commands.log"
        if not p.exists():
            return ""
        with open(p, "rb") as f:
            f.seek(self.log_mark)
            return f.read().decode("utf-8", "replace")

    def reset_terminal(self):
        (self.state / "journal.txt").write_bytes(self.terminal_journal)
        for name in ("terminal.ini",):
            p = self.state / name
            if p.exists():
                p.unlink()
        shutil.rmtree(self.state / "directories", ignore_errors=True)
        (self.state / "directories").mkdir()
        (self.state / "info.txt").write_bytes(cp1251("Склад;Старый\r\n"))
        (self.state / "directories" / "opers.ux3").write_bytes(b"old;opers\r\n")

    def filters(self):
        p = self.state / "terminal.ini"
        if not p.exists():
            return {}
        section, found = None, {}
        for line in p.read_text("utf-8", "replace").splitlines():
            line = line.strip()
            if line.startswith("["):
                section = line.strip("[]").lower()
            elif section == "filters" and "=" in line:
                k, v = line.split("=", 1)
                if v.strip():
                    found[k.strip()] = v.strip()
        return found

    def note(self):
        p = self.program / "kxloader.ini.filter-reset"
        return p.exists() and p.read_text().strip() != ""

    # --- kxloader ---
    def start(self, args):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        return subprocess.Popen([str(self.program / "kxloader")] + args, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run(self, args, timeout=120):
        p = self.start(args)
        return p.wait(timeout)

    def run_killed_at_hold(self, args):
        p = self.start(args)
        deadline = time.time() + 60
        while "S hold" not in self.log() and time.time() < deadline and p.poll() is None:
            time.sleep(0.005)
        held = "S hold" in self.log()
        os.kill(p.pid, signal.SIGKILL)
        p.wait(30)
        return held

    def run_killed_after(self, args, delay):
        p = self.start(args)
        time.sleep(delay)
        if p.poll() is None:
            os.kill(p.pid, signal.SIGKILL)
        p.wait(30)
        return p.returncode


def check_pc_journal(bench, before, problems, filtered=False):
    """The PC journal is the old bytes, or the old bytes and one whole download (appending)."""
    path = bench.files / "journal.txt"
    now = path.read_bytes() if path.exists() else None
    if now == before:
        return
    if (before or b"") + (bench.filtered_download if filtered else bench.whole_download) == now:
        return
    problems.append("PC journal damaged (%s bytes, was %s)" % (len(now or b""), len(before or b"")))


def check_terminal(bench, problems, filters_allowed=False):
    j = (bench.state / "journal.txt").read_bytes()
    if j not in (bench.terminal_journal, b""):
        problems.append("terminal journal neither whole nor empty (%d bytes)" % len(j))
    if bench.filters() and not bench.note() and not filters_allowed:
        problems.append("filters %s on the terminal and no note" % bench.filters())


def records(data):
    """The records of a directory file as the terminal stores them."""
    return b"".join(l.rstrip(b"\r") + b"\r\n" for l in data.split(b"\n") if l.rstrip(b"\r"))


def recover(bench, problems, reset_first=False):
    """A plain /j after the damage: every scan still on the terminal, once.
    `reset_first`: filters were set on purpose, the user resets them first."""
    bench.switch_on()
    if reset_first and bench.run(["/x", "/f"]) != 0:
        problems.append("the reset before the recovery failed")
    before = (bench.files / "journal.txt").read_bytes() if (bench.files / "journal.txt").exists() else b""
    on_terminal = (bench.state / "journal.txt").read_bytes()
    code = bench.run(["/x", "/j"])
    after = (bench.files / "journal.txt").read_bytes() if (bench.files / "journal.txt").exists() else b""
    if on_terminal == b"":
        if code != 50:
            problems.append("recovery /j on an empty journal gave %d" % code)
        return
    if code != 0:
        problems.append("recovery /j gave %d" % code)
    elif after != before + bench.whole_download:
        problems.append("recovery /j did not bring every scan once")
    if bench.filters() or bench.note():
        problems.append("filters or note left after the recovery")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=4, help="runs per random case")
    ap.add_argument("--seed", type=int, default=1)
    opts = ap.parse_args()
    rng = random.Random(opts.seed)
    results = []
    with tempfile.TemporaryDirectory(prefix="kx-campaign-") as root:
        bench = Bench(opts.build, root, rng)

        def case(name, runs, body):
            damaged = 0
            notes = []
            for i in range(runs):
                bench.reset_terminal()
                for p in bench.files.glob("journal.txt*"):
                    p.unlink()
                problems = []
                body(i, problems)
                if problems:
                    damaged += 1
                    notes.append(problems[0])
            results.append((name, runs, damaged, notes[:1]))
            print("  %-58s %3d runs, %d damaged %s" % (name, runs, damaged, notes[:1]), file=sys.stderr)

        # 1. Filtered /j killed where the emulator holds.
        for at in ("401", "020", "031", "40R", "004"):
            def killed_at(i, problems, at=at):
                bench.switch_on("HoldAtCommand=" + at)
                if not bench.run_killed_at_hold(["/x", "/j", "filter:", "o=3"]):
                    problems.append("never held")
                check_pc_journal(bench, None, problems, filtered=True)
                check_terminal(bench, problems)
                recover(bench, problems)
            case("filtered /j, kill -9 held at %s" % at, 2, killed_at)

        # 2. Filtered /j and /n killed at a random moment (paced line: the journal takes a while).
        def filtered_random(i, problems):
            bench.switch_on(baud=115200)
            bench.run_killed_after(["/x", "/j", "filter:", "o=3"], rng.uniform(0.0, 3.0))
            check_pc_journal(bench, None, problems, filtered=True)
            check_terminal(bench, problems)
            recover(bench, problems)
        case("filtered /j, kill -9 at a random moment (115200 baud)", opts.runs * 3, filtered_random)

        def appended_random(i, problems):
            old = b"1;old;scan\r\n"
            (bench.files / "journal.txt").write_bytes(old)
            bench.switch_on(baud=115200)
            bench.run_killed_after(["/x", "/j"], rng.uniform(0.0, 3.0))
            check_pc_journal(bench, old, problems)
            check_terminal(bench, problems)
            recover(bench, problems)
        case("plain /j appending, kill -9 at a random moment", opts.runs * 2, appended_random)

        # 3. /c killed where held, and at random.
        def clear_held(i, problems):
            bench.switch_on("HoldAtCommand=001")
            bench.run_killed_at_hold(["/x", "/c"])
            check_terminal(bench, problems)
            if (bench.state / "journal.txt").read_bytes() != bench.terminal_journal:
                problems.append("a held clear emptied the journal")
            recover(bench, problems)
        case("/c, kill -9 held at 001", 2, clear_held)

        def clear_random(i, problems):
            bench.switch_on()
            bench.run_killed_after(["/x", "/c"], rng.uniform(0.0, 1.5))
            check_terminal(bench, problems)
        case("/c, kill -9 at a random moment", opts.runs * 2, clear_random)

        # 4. Filters: /f killed where held.
        for at, args in (("40R", ["/x", "/f"]), ("403", ["/x", "/f", "e=4"])):
            def filters_held(i, problems, at=at, args=args):
                bench.switch_on()
                bench.run(["/x", "/f", "o=3"])  # filters set on purpose before
                bench.switch_on("HoldAtCommand=" + at)
                bench.run_killed_at_hold(args)
                check_terminal(bench, problems, filters_allowed=True)
                if args == ["/x", "/f"] and bench.filters() and not bench.note():
                    problems.append("reset asked for, filters left, no note")
                recover(bench, problems, reset_first=True)
            case("/f %s, kill -9 held at %s" % (" ".join(args[2:]) or "(reset)", at), 2, filters_held)

        # 5. Uploads: killed before the commit, after it, at random.
        def upload(i, problems, hold=None, delay=None):
            bench.switch_on("HoldAtCommand=" + hold if hold else "")
            args = ["/x", "/o", "demo_opers.ux3", "/w", "demo_wares.ux7", "demo_waresl2.ux8", "/q", "info.txt", "-s"]
            if hold:
                bench.run_killed_at_hold(args)
            else:
                bench.run_killed_after(args, delay)
            opers = (bench.state / "directories" / "opers.ux3").read_bytes()
            if opers not in (b"old;opers\r\n", records((bench.files / "demo_opers.ux3").read_bytes())):
                problems.append("terminal opers.ux3 neither old nor new")
            info = (bench.state / "info.txt").read_bytes()
            if info not in (cp1251("Склад;Старый\r\n"), records((bench.files / "info.txt").read_bytes())):
                problems.append("terminal info table neither old nor new")
            if (info == cp1251("Склад;Старый\r\n")) != (opers == b"old;opers\r\n"):
                problems.append("one load stored in part")
            wares = bench.state / "directories" / "wares.ux7"
            if (opers == b"old;opers\r\n") != (not wares.exists()):
                problems.append("one load stored in part")
        for at in ("003", "004"):
            case("upload /o /w /q -s, kill -9 held at %s" % at, 2, lambda i, p, at=at: upload(i, p, hold=at))
        case("upload /o /w /q -s, kill -9 at a random moment", opts.runs * 2,
             lambda i, p: upload(i, p, delay=rng.uniform(0.0, 1.5)))

        # 6. Cuts: the terminal switched off as its K-th frame arrives.
        def cut(args, done, filters_allowed=False):
            def body(i, problems):
                k = i + 1
                if args[1] == "/f" and len(args) == 2:
                    bench.switch_on()
                    bench.run(["/x", "/f", "o=3"])
                bench.switch_on("ExitAfterFrames=%d" % k)
                code = bench.run(args)
                off = "S power off" in bench.log()
                if off and code != 4:
                    problems.append("switched off at frame %d, result %d" % (k, code))
                if code == 0 and not done():
                    problems.append("result 0 at frame %d, state not reached" % k)
                check_terminal(bench, problems, filters_allowed)
                recover(bench, problems, reset_first=filters_allowed)
            return body
        case("/c, terminal off at frame 1..8", 8,
             cut(["/x", "/c"], lambda: (bench.state / "journal.txt").read_bytes() == b""))
        case("/f (reset), terminal off at frame 1..8", 8,
             cut(["/x", "/f"], lambda: not bench.filters(), filters_allowed=False))
        case("/f e=4, terminal off at frame 1..8", 8,
             cut(["/x", "/f", "e=4"], lambda: bench.filters().get("Executor") == "4", filters_allowed=True))
        case("filtered /n, terminal off at frame 1..10", 10,
             cut(["/x", "/n", "c.txt", "filter:", "o=3"], lambda: True))
        case("filtered /j, terminal off at frame 1..12", 12,
             cut(["/x", "/j", "filter:", "o=3"], lambda: (bench.files / "journal.txt").exists()))
        bench.switch_off()

    print("\n| case | runs | damaged |")
    print("|---|---|---|")
    for name, runs, damaged, notes in results:
        print("| %s | %d | %d%s |" % (name, runs, damaged, (" (" + notes[0] + ")") if notes else ""))
    total = sum(r[1] for r in results)
    bad = sum(r[2] for r in results)
    print("\n%d runs, %d damaged" % (total, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())

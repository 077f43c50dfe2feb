"""Shared pieces of the campaigns: a test bench (the real kxloader, an
emulated terminal on a pseudo-terminal, a local socket or TCP with TLS),
distinct scans, and the exactly-once checker.

The checker is the ground truth of both campaigns. It keeps every scan the
terminal ever held (the scans made with `kxterminal --scan`, each with a
serial of its own) and counts, for each, its lines across the PC's journal
files and the terminal's journal.txt: 0 is a lost scan, more than 1 a doubled
one.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import time
from pathlib import Path

# Every scan carries this serial in its seventh field; nothing else in a line
# looks like it.
SERIAL = re.compile(rb"\bZ(\d{9})\b")

RUN_TIMEOUT = 120  # seconds one kxloader run may take before it counts as hung
RECOVERY_ROUNDS = 6


def ean13(rng):
    digits = "460" + "".join(str(rng.randrange(10)) for _ in range(9))
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return digits + str((10 - total % 10) % 10)


def valid_ean13(code):
    if len(code) != 13 or not code.isdigit():
        return False
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(code[:12]))
    return (10 - total % 10) % 10 == int(code[12])


def quiet_env(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env.update(extra or {})
    return env


def free_tcp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, limit, step=0.005):
    """Polls `predicate` until it holds or `limit` seconds passed (a failure
    limit, never a correctness condition). Returns whether it held."""
    deadline = time.monotonic() + limit
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(step)


class Ledger:
    """Every scan ever made on one terminal, by serial."""

    def __init__(self, rng, start=1):
        self.rng = rng
        self.next = start
        self.lines = {}  # serial -> text of the scan

    def make(self, count):
        made = []
        for _ in range(count):
            serial = self.next
            self.next += 1
            r = self.rng
            line = "%s;%d;%d;%d;%d;%d;Z%09d;08.12.2026 %02d:%02d:%02d;" % (
                ean13(r), 1 + r.randrange(24), 1 + r.randrange(3), 1 + r.randrange(4), 1 + r.randrange(5),
                1 + r.randrange(7), serial, serial // 3600 % 24, serial // 60 % 60, serial % 60)
            assert valid_ean13(line[:13])
            self.lines[serial] = line
            made.append(line)
        return made


def count_serials(paths):
    counts = {}
    for p in paths:
        try:
            data = p.read_bytes()
        except FileNotFoundError:
            continue
        for line in data.split(b"\n"):
            m = SERIAL.search(line)
            if m:
                s = int(m.group(1))
                counts[s] = counts.get(s, 0) + 1
    return counts


class Checker:
    """Counts each scan of the ledger across the PC files and the terminal.
    Reports only faults it has not reported before, so a fault is charged to
    the case that made it."""

    def __init__(self, bench):
        self.bench = bench
        self.reported_lost = set()
        self.reported_doubled = set()

    def counts(self):
        return count_serials(self.bench.pc_journals() + [self.bench.state / "journal.txt"])

    def check(self):
        counts = self.counts()
        lost = {s for s in self.bench.ledger.lines if counts.get(s, 0) == 0}
        doubled = {s for s in self.bench.ledger.lines if counts.get(s, 0) > 1}
        unknown = {s for s in counts if s not in self.bench.ledger.lines}
        new_lost = lost - self.reported_lost
        new_doubled = doubled - self.reported_doubled
        self.reported_lost |= lost
        self.reported_doubled |= doubled
        return sorted(new_lost), sorted(new_doubled), sorted(unknown)


def serial_problems(lost, doubled, unknown):
    """The lines a case reports for what Checker.check found (a few serials each)."""
    problems = []
    for what, serials in (("lost", lost), ("doubled", doubled), ("unknown", unknown)):
        if serials:
            problems.append("%s serials %s" % (what, serials[:5]))
    return problems


class Bench:
    """One program folder (portable: its state/ holds the terminal records),
    one project, one terminal state folder, one line kind."""

    def __init__(self, build, root, kind, rng, terminal_args=(), serial_start=1, extra_ini=""):
        self.bin = Path(build).resolve() / "bin"
        self.root = Path(root)
        self.kind = kind  # "pty", "local", "tcp"
        self.rng = rng
        self.terminal_args = list(terminal_args)
        self.program = self.root / "bin"
        self.project = self.root / "project" / "demo.kxc"
        self.files = self.root / "project" / "files"
        self.state = self.root / "state"
        self.extra_ini = extra_ini
        for d in (self.program, self.files, self.state):
            d.mkdir(parents=True, exist_ok=True)
        for name in ("kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"):
            os.link(self.bin / name, self.program / name)
        shutil.copy(self.bin / "demo" / "demo.kxc", self.project)
        self.ledger = Ledger(rng, serial_start)
        self.checker = Checker(self)
        self.terminal = None
        self.port = None
        self.tcp_port = free_tcp_port() if kind == "tcp" else None
        self.log_mark = 0
        self.paired = False
        self.windows = []  # recent "020 to exit" times of whole runs
        self.last_err = ""

    # --- files ---
    def pc_journals(self):
        return sorted(p for p in self.files.iterdir() if p.name.startswith("journal") and p.suffix == ".txt")

    def write_ini(self, overwrite=0):
        (self.program / "kxloader.ini").write_text(
            "[kxloader.exe]\nport=%s\nconfig=%s\nOverwriteJournal=%d\n%s"
            % (self.port, self.project, overwrite, self.extra_ini))

    def scenario(self, text=""):
        sc = self.state / "scenario.ini"
        if text:
            sc.write_text("[scenario]\n" + text + "\n")
        elif sc.exists():
            sc.unlink()

    def release(self, on=True):
        p = self.state / "release"
        if on:
            p.write_text("")
        elif p.exists():
            p.unlink()

    # --- the terminal ---
    def switch_on(self):
        if self.terminal and self.terminal.poll() is None:
            return
        args = [str(self.bin / "kxterminal"), "--state", str(self.state)]
        if self.kind == "pty":
            args += ["--pty"]
        elif self.kind == "local":
            args += ["--listen", str(self.root / "t.sock")]
        else:
            args += ["--listen-tcp", "127.0.0.1:%d" % self.tcp_port]
        args += self.terminal_args
        for attempt in range(50):
            self.terminal = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            line = self.terminal.stdout.readline().decode()
            if line.startswith("port: "):
                break
            # A fixed TCP port may still be taken for a moment by the last one.
            self.terminal.wait(10)
            time.sleep(0.1)
        else:
            raise RuntimeError("kxterminal did not start: %r" % line)
        self.port = line[len("port: "):].strip()
        code = None
        if self.kind == "tcp":
            code = self.terminal.stdout.readline().decode()
            assert code.startswith("pairing code: "), code
            code = code.split(":", 1)[1].strip()
        self.write_ini()
        if self.kind == "tcp" and not self.paired:
            rc = self.run(["/x", "/pair", code])
            if rc != 0:
                raise RuntimeError("pairing failed with %d" % rc)
            self.paired = True

    def kill_terminal(self, sig=signal.SIGKILL):
        if self.terminal and self.terminal.poll() is None:
            self.terminal.send_signal(sig)
            self.terminal.wait(30)
        self.terminal = None

    def switch_off(self):
        self.kill_terminal(signal.SIGTERM)

    def scan(self, count):
        """Scans made on the terminal as its scanner would, safe while it serves."""
        lines = self.ledger.make(count)
        for i in range(0, len(lines), 200):
            args = [str(self.bin / "kxterminal"), "--state", str(self.state)]
            for l in lines[i:i + 200]:
                args += ["--scan", l]
            r = subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
            if r.returncode != 0:
                raise RuntimeError("kxterminal --scan failed: %s" % r.stderr.decode("utf-8", "replace"))
        return lines

    def terminal_serials(self):
        return count_serials([self.state / "journal.txt"])

    # --- the log ---
    def mark(self):
        p = self.state / "commands.log"
        self.log_mark = p.stat().st_size if p.exists() else 0

    def log(self):
        p = self.state / "commands.log"
        try:
            with open(p, "rb") as f:
                f.seek(self.log_mark)
                return f.read().decode("utf-8", "replace")
        except FileNotFoundError:
            return ""

    def log_has(self, text):
        return text in self.log()

    # --- kxloader ---
    def start(self, args, ini=None):
        env = quiet_env({"KXLOADER_INI": str(ini)} if ini else None)
        return subprocess.Popen([str(self.program / "kxloader")] + args, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def finish(self, p, timeout=None):
        """The exit code, or "hang" when the run overstayed (it is then killed)."""
        timeout = RUN_TIMEOUT if timeout is None else timeout
        try:
            _, err = p.communicate(timeout=timeout)
            self.last_err = err.decode("utf-8", "replace")
            return p.returncode
        except subprocess.TimeoutExpired:
            p.kill()
            p.communicate()
            return "hang"

    def run(self, args, ini=None, timeout=None):
        return self.finish(self.start(args, ini), timeout)

    def run_timed(self, args, timeout=None):
        """Runs to the end; also returns the seconds from "C 020" to "S bye"
        in the log (None when either did not come while the run lasted): the
        transfer, the commit and the clear, the window in which random kills
        are placed."""
        p = self.start(args)
        deadline = time.monotonic() + (RUN_TIMEOUT if timeout is None else timeout)
        seen = bye = None
        while p.poll() is None and time.monotonic() < deadline:
            log = self.log()
            if seen is None and "C 020" in log:
                seen = time.monotonic()
            if seen is not None and "S bye" in log:
                bye = time.monotonic()
                break
            time.sleep(0.002)
        code = self.finish(p, max(1, deadline - time.monotonic()))
        return code, (bye - seen) if seen is not None and bye is not None else None

    def recover(self):
        """Reruns /x /j /c until it ends 0 or 50 (bounded). Returns the list
        of exit codes and whether it got there."""
        self.scenario("")
        codes = []
        for _ in range(RECOVERY_ROUNDS):
            self.switch_on()
            self.mark()
            code, window = self.run_timed(["/x", "/j", "/c"])
            if code == 0 and window is not None:
                self.windows.append(window)
                del self.windows[:-20]
            codes.append(code)
            if code in (0, 50):
                return codes, True
        return codes, False

#!/usr/bin/env python3
"""Figures of the windows: the main window shown on a project with seven
counted directories, the directory editor on a large wares directory (shown,
peak memory against the file size, scrolling to the last row), and the
exchanges of the windows beside the command line: the directory upload of a
large wares file and the download of a large journal, each to and from the
same unpaced terminal emulator, with the window's own processor time.

Usage: bench/main_window/run_bench.py [build-dir] [wares lines] [journal lines]
       (defaults: build, 1000000, 100000)
Prints figures only; nothing here is a pass/fail test.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
if not os.path.isabs(BUILD):
    BUILD = os.path.join(ROOT, BUILD)
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
JOURNAL_LINES = int(sys.argv[3]) if len(sys.argv) > 3 else 100_000
PROGRAM = os.path.join(BUILD, "bench-bin", "kx_bench_main_window")
KXLOADER = os.path.join(BUILD, "bin", "kxloader")
KXTERMINAL = os.path.join(BUILD, "bin", "kxterminal")
DEMO = os.path.join(BUILD, "bin", "demo")

GOODS = ["Молоко", "Кефир", "Сыр", "Хлеб", "Крупа гречневая", "Масло сливочное", "Сок яблочный", "Чай черный",
         "Конфеты", "Яблоки", "Сметана", "Творог", "Колбаса вареная", "Печенье", "Вода минеральная", "Рис",
         "Макароны", "Сахар", "Кофе молотый", "Шоколад"]
MAKERS = ["Вкусное", "Домик в деревне", "Луговое", "Сибирь", "Южное", "Ферма", "Заречье", "Север", "Мираторг",
          "Простоквашино"]
UNITS = ["г", "кг", "мл", "л", "шт"]


def ean13(rnd):
    """A random EAN-13 of a Russian maker (46...) with its check digit."""
    digits = "46" + "".join(str(rnd.randrange(10)) for _ in range(10))
    total = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return digits + str((10 - total % 10) % 10)


def ware_name(rnd):
    return f"{rnd.choice(GOODS)} {rnd.randrange(1, 1000)} {rnd.choice(UNITS)} \"{rnd.choice(MAKERS)}\""


def write_wares(path, lines):
    """Wares lines as users keep them: code;name;EAN-13, Windows-1251, CR LF."""
    rnd = random.Random(lines)
    with open(path, "wb") as f:
        chunk = []
        for i in range(lines):
            chunk.append(f"Т{i + 1:07d};{ware_name(rnd)};{ean13(rnd)}\r\n")
            if len(chunk) == 10000:
                f.write("".join(chunk).encode("cp1251"))
                chunk = []
        f.write("".join(chunk).encode("cp1251"))


def write_journal(path, lines):
    """Journal lines as the terminal keeps them: barcode;quantity;operation;
    executor;address;document;ware code;date time; (Windows-1251, CR LF)."""
    rnd = random.Random(lines + 1)
    out = []
    for i in range(lines):
        second = i % 86400
        out.append(f"{ean13(rnd)};{rnd.randrange(1, 25)};{rnd.randrange(1, 4)};{rnd.randrange(1, 6)};"
                   f"{rnd.randrange(1, 40)};{rnd.randrange(1, 200)};Т{rnd.randrange(1, 100000):07d};"
                   f"08.12.2026 {second // 3600:02d}:{second // 60 % 60:02d}:{second % 60:02d};\r\n")
    with open(path, "wb") as f:
        f.write("".join(out).encode("cp1251"))


def run(*args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([PROGRAM, *args], env=env, check=True, capture_output=True, text=True).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def timed(cmd, env):
    """Runs a process; returns (seconds, processor seconds)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{cmd} failed: {err}")
    return seconds, usage.ru_utime + usage.ru_stime


class Emulator:
    """kxterminal on a pseudo-terminal, unpaced."""

    def __init__(self, state):
        self.proc = subprocess.Popen([KXTERMINAL, "--state", state, "--pty"], stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("port: "):
            sys.exit("kxterminal did not start")
        self.port = line[len("port: "):].strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def exchange_figures(tmp, wares):
    project = os.path.join(tmp, "demo", "demo.kxc")
    state = os.path.join(tmp, "terminal")
    os.makedirs(state)
    write_journal(os.path.join(state, "journal.txt"), JOURNAL_LINES)
    terminal = Emulator(state)
    try:
        # kxloader in a program folder of its own whose link settings call
        # the unpaced emulator a fast line, as the window's bench does.
        program = os.path.join(tmp, "bin")
        os.makedirs(program)
        for name in ("kxloader", "libparlink.so", "components.ini", "KXConfigFMT.db"):
            os.link(os.path.join(BUILD, "bin", name), os.path.join(program, name))
        with open(os.path.join(program, "parlink.ini"), "w") as f:
            f.write("[link]\nBaudRate=4000000\n")
        kxloader = os.path.join(program, "kxloader")
        ini = os.path.join(tmp, "kxloader.ini")
        with open(ini, "w") as f:
            f.write(f"[kxloader.exe]\nport={terminal.port}\nconfig={project}\nOverwriteJournal=1\n")
        env = dict(os.environ, KXLOADER_INI=ini)
        # The same wares file, the same emulator: the command line, then the window.
        cli_up, cli_up_cpu = timed([kxloader, "/w", os.path.basename(wares)], env)
        win = run("upload", project, terminal.port)
        if win["upload_result"] != "1":
            sys.exit(f"the upload window ended with {win['upload_result']}")
        cli_j, cli_j_cpu = timed([kxloader, "/j", "bench_journal.txt"], env)
        jw = run("journal", project, terminal.port)
        if jw["journal_result"] != "1":
            sys.exit(f"the journal window ended with {jw['journal_result']}")
    finally:
        terminal.stop()

    side_by_side(f"upload of {int(win['upload_records']):,} wares to the unpaced emulator", "kxloader /w",
                 "Загрузка в терминал", (cli_up, cli_up_cpu), win, "upload", int(win["upload_records"]), "records")
    side_by_side(f"journal download of {int(jw['journal_lines']):,} lines from the unpaced emulator", "kxloader /j",
                 "Выгрузка", (cli_j, cli_j_cpu), jw, "journal", int(jw["journal_lines"]), "lines")


def side_by_side(title, cli_name, window_name, cli, window, key, count, items):
    """The command line's and the window's figures of one exchange, and the
    window thread's own processor time per 100,000 records."""
    cli_s, cli_cpu = cli
    seconds = float(window[f"{key}_seconds"])
    paints = int(window[f"{key}_paints"])
    print(f"  {title}:")
    print(f"    {'command line (' + cli_name + ')':<30}{cli_s:8.3f} s   processor {cli_cpu:6.3f} s")
    print(f"    {'window (' + window_name + ')':<30}{seconds:8.3f} s   processor {float(window[f'{key}_process_cpu_s']):6.3f} s"
          f"   = {seconds / cli_s:.2f}x the command line")
    per = 100_000 / max(count, 1)
    print(f"    {'window thread processor time':<30}{float(window[f'{key}_window_cpu_s']) * per * 1000:8.1f} ms per "
          f"100,000 {items} ({paints} repaints, {paints / seconds:.0f} a second)")


def main():
    for program in (PROGRAM, KXLOADER, KXTERMINAL):
        if not os.path.exists(program):
            sys.exit(f"build it first: cmake --build {BUILD}")
    # KX_BENCH_ONLY=windows or =exchange runs one half.
    only = os.environ.get("KX_BENCH_ONLY", "")
    with tempfile.TemporaryDirectory(prefix="kx_bench_") as tmp:
        # The demo project, its wares directory made large.
        shutil.copytree(DEMO, os.path.join(tmp, "demo"))
        wares = os.path.join(tmp, "demo", "files", "demo_wares.ux7")
        write_wares(wares, LINES)

        if only != "exchange":
            runs = [run("main", os.path.join(tmp, "demo", "demo.kxc")) for _ in range(3)]
            best = min(runs, key=lambda r: float(r["main_shown_ms"]))
            print(f"  main window shown    {float(best['main_shown_ms']) / 1000:8.3f} s   "
                  f"({best['counted_directories']} directories counted, wares shown as '{best['wares_label']}'; "
                  f"best of 3)")

            e = run("editor", wares)
            print(f"  editor shown         {float(e['editor_shown_ms']) / 1000:8.3f} s   "
                  f"{e['rows']} rows, {e['file_mb']} MB file")
            print(f"  editor peak memory   {float(e['peak_rss_mb']):8.1f} MB  "
                  f"= {e['peak_per_file']}x the file ({e['baseline_rss_mb']} MB before opening)")
            print(f"  scroll to last row   {float(e['scroll_last_row_ms']):8.2f} ms")
            print(f"  one page mid-table   {float(e['scroll_page_ms']):8.2f} ms")

        if only != "windows":
            exchange_figures(tmp, wares)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Figures for large wares directories: the directory table model against a
plain table of field offsets over the mapped file (the floor a loader can
reach), Python's csv module and the sqlite3 shell's .import on the same rows.
The rows are realistic wares: varied names, valid EAN-13 barcodes.

Usage: bench/directories/run_bench.py [build-dir] [line counts...] [--repeat N]
       (defaults: build, 100000 1000000, 5 rounds)
The model load and the plain table run N rounds in turn (the machine may be
shared: its load varies from one second to the next), each figure the median
of the rounds with their lowest and highest beside it.
Prints figures only; nothing here is a pass/fail test.
"""
import filecmp
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] != "--generate" else os.path.join(ROOT, "build")
if not os.path.isabs(BUILD):
    BUILD = os.path.join(ROOT, BUILD)
REPEAT = int(sys.argv[sys.argv.index("--repeat") + 1]) if "--repeat" in sys.argv else 5
COUNTS = [int(a) for i, a in enumerate(sys.argv[2:], 2)
          if a.isdigit() and sys.argv[i - 1] != "--repeat"] or [100_000, 1_000_000]
PROGRAM = os.path.join(BUILD, "bench-bin", "kx_bench_directories")

# Names as a shop's wares list has them: a product, often a kind or flavour, a
# maker (Cyrillic or Latin), a size with its unit, sometimes a note in
# parentheses. Lengths vary from a few letters to the 60 a label allows.
PRODUCTS = ["Молоко", "Кефир", "Сыр", "Хлеб", "Крупа гречневая", "Масло сливочное", "Сок",
            "Чай черный", "Конфеты", "Яблоки", "Сметана", "Творог", "Колбаса вареная",
            "Печенье", "Вода минеральная", "Йогурт", "Ряженка", "Батон", "Рис", "Макароны",
            "Сахар", "Соль", "Кофе молотый", "Шоколад", "Мармелад", "Пельмени", "Сосиски",
            "Ветчина", "Горошек зеленый", "Кукуруза", "Тушенка говяжья", "Шампунь",
            "Зубная паста", "Мыло", "Порошок стиральный", "Салфетки", "Батарейки",
            "Лампа светодиодная", "Корм для кошек", "Подсолнечное масло"]
KINDS = ["", "", "", "классический", "с клубникой", "нежирный", "ржаной", "отборный",
         "пастеризованное", "ультрапаст.", "в/с", "без сахара", "детский", "со злаками",
         "яблочный", "ментол", "для всей семьи", "копченая", "охлажденный"]
MAKERS = ["Вкусное", "Домик", "Луговое", "Сибирь", "Южное", "Ферма", "Заречье", "Север",
          "Простоквашино", "Bonduelle", "Nestle", "Lipton", "Colgate", "Duracell",
          "Красный Октябрь", "Агуша", "Мираторг", "Черкизово", "Whiskas", "Persil"]
UNITS = ["г", "кг", "мл", "л", "шт", "уп"]
NOTES = ["", "", "", "", "", " (акция)", " (вес)", " (новинка)", " ТУ", " ГОСТ", " 6 шт/уп"]


def ean13(rnd):
    """A random EAN-13 of the Russian range (460-469) with its check digit."""
    digits = [4, 6, rnd.randrange(10)] + [rnd.randrange(10) for _ in range(9)]
    total = sum(d * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return "".join(map(str, digits)) + str((10 - total % 10) % 10)


def ware_name(rnd):
    name = rnd.choice(PRODUCTS)
    kind = rnd.choice(KINDS)
    if kind:
        name += " " + kind
    name += f" {rnd.choice(MAKERS)} {rnd.choice([rnd.randrange(1, 10), rnd.randrange(10, 1000), rnd.randrange(1, 100) / 10])}"
    # A cut may end in a blank, which a field never keeps: strip it, so that
    # the save gives the file back byte for byte.
    return (name + " " + rnd.choice(UNITS) + rnd.choice(NOTES))[:60].rstrip()


def generate(path, lines):
    """Wares lines code;name;EAN-13[;mode], CR LF, Windows-1251, with varied
    names and valid barcodes; one line in ten carries the extra-info mode."""
    rnd = random.Random(lines)
    out = []
    for i in range(lines):
        mode = ";1" if rnd.randrange(10) == 0 else ""
        out.append(f"{rnd.randrange(1, 10**7):07d}-{i % 100:02d};{ware_name(rnd)};{ean13(rnd)}{mode}\r\n")
    data = "".join(out).encode("cp1251")
    with open(path, "wb") as f:
        f.write(data)
    with open(path + ".utf8", "wb") as f:
        f.write(data.decode("cp1251").encode("utf-8"))


def run(cmd, stdin_text=None):
    """Runs one process; returns (seconds, its own peak RSS in MB, stdout, stderr)."""
    with tempfile.TemporaryFile("w+") as fin, tempfile.TemporaryFile("w+") as fout, \
            tempfile.TemporaryFile("w+") as ferr:
        if stdin_text:
            fin.write(stdin_text)
            fin.seek(0)
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, stdin=fin, stdout=fout, stderr=ferr, text=True)
        _, status, usage = os.wait4(proc.pid, 0)
        seconds = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        fout.seek(0)
        ferr.seek(0)
        out, err = fout.read(), ferr.read()
    if proc.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {err}")
    return seconds, usage.ru_maxrss / 1024.0, out, err


def keyvalues(text):
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


PY_CSV = ("import csv,sys\n"
          "with open(sys.argv[1], encoding='cp1251', newline='') as f:\n"
          "    rows = list(csv.reader(f, delimiter=';'))\n"
          "print(len(rows))\n")


def main():
    if not os.path.exists(PROGRAM):
        sys.exit(f"build it first: cmake --build {BUILD} --target kx_bench_directories")
    with tempfile.TemporaryDirectory(prefix="kx_bench_") as tmp:
        for lines in COUNTS:
            path = os.path.join(tmp, f"bench_wares_{lines}.ux7")
            # Generated in a child process: a child's peak memory counts the
            # parent's memory at the time it was started, so the parent stays small.
            subprocess.run([sys.executable, __file__, "--generate", path, str(lines)], check=True)
            size_mb = os.path.getsize(path) / 2**20
            print(f"== {lines} lines, {size_mb:.1f} MB ({os.path.getsize(path) / lines:.1f} bytes a line)")

            # Each measurement in a fresh process, so that its peak memory is
            # its own; the two in turn, so that a busy second hits both.
            loads, plains = [], []
            for _ in range(max(1, REPEAT)):
                load_s_process, _, out, _ = run([PROGRAM, "load", path])
                loads.append(keyvalues(out))
                _, _, out, _ = run([PROGRAM, "plain", path])
                plains.append(keyvalues(out))
            load = loads[-1]
            # The same rows in UTF-8: the whole file is checked before it counts as UTF-8.
            _, _, out, _ = run([PROGRAM, "load", path + ".utf8"])
            load_utf8 = keyvalues(out)
            _, _, out, _ = run([PROGRAM, "save", path, path + ".saved"])
            save = keyvalues(out)
            same = filecmp.cmp(path, path + ".saved", shallow=False)
            _, _, out, _ = run([PROGRAM, "count", path])
            count = keyvalues(out)

            py_s, py_peak, out, _ = run([sys.executable, "-c", PY_CSV, path])
            sql = ("CREATE TABLE wares(code TEXT, name TEXT, barcode TEXT);\n"
                   ".mode csv\n.separator ;\n"
                   f".import '{path}.utf8' wares\n"
                   "SELECT count(*) FROM wares;\n")
            sq_s, sq_peak, sq_out, sq_err = run(["sqlite3", ":memory:"], sql)
            sq_rows = sq_out.strip().splitlines()[-1] if sq_out.strip() else "?"

            def spread(runs, key):
                values = [float(r[key]) / 1000 for r in runs]
                return statistics.median(values), min(values), max(values)

            def shown(figure):
                return f"{figure[0]:.3f} s [{figure[1]:.3f}-{figure[2]:.3f}]"

            load_s, load_cpu = spread(loads, "load_ms"), spread(loads, "load_cpu_ms")
            plain_s, plain_cpu = spread(plains, "plain_load_ms"), spread(plains, "plain_load_cpu_ms")
            peak = max(float(r["peak_rss_mb"]) for r in loads)
            plain_peak = max(float(r["plain_peak_rss_mb"]) for r in plains)
            print(f"  {len(loads)} rounds in turn: median [lowest-highest]")
            print(f"  model load           {shown(load_s)}   rows {load['rows']}, "
                  f"CPU {shown(load_cpu)}, "
                  f"process {load_s_process:.3f} s, "
                  f"peak RSS {peak:.1f} MB ({peak / size_mb:.2f}x file; "
                  f"{float(load['baseline_rss_mb']):.1f} MB before loading), "
                  f"row store {float(load['store_mb']):.1f} MB")
            print(f"  plain mapped table   {shown(plain_s)}   rows {plains[-1]['plain_rows']}, "
                  f"CPU {shown(plain_cpu)}, "
                  f"peak RSS {plain_peak:.1f} MB "
                  f"-> model load takes {load_s[0] / plain_s[0]:.2f}x its time "
                  f"({load_cpu[0] / plain_cpu[0]:.2f}x its CPU)")
            load_s = load_s[0]
            print(f"  model load, UTF-8    {float(load_utf8['load_ms']) / 1000:8.3f} s   "
                  f"({os.path.getsize(path + '.utf8') / 2**20:.1f} MB file), "
                  f"peak RSS {float(load_utf8['peak_rss_mb']):.1f} MB")
            print(f"  view 1000 rows       {float(load['view_1000_rows_ms']):8.3f} ms  (cells decoded on demand)")
            print(f"  model save           {float(save['save_ms']) / 1000:8.3f} s   "
                  f"{float(save['save_mb_per_s']):.0f} MB/s, byte-identical: {same}")
            print(f"  CountLines           {float(count['countlines_ms']):8.3f} ms  "
                  f"(result {count['countlines_result']}); full line pass "
                  f"{float(count['fullpass_ms']):.1f} ms")
            print(f"  python csv read      {py_s:8.3f} s   peak RSS {py_peak:.1f} MB "
                  f"-> model load is {py_s / load_s:.1f}x faster")
            print(f"  sqlite3 .import      {sq_s:8.3f} s   peak RSS {sq_peak:.1f} MB, rows {sq_rows} "
                  f"-> model load is {sq_s / load_s:.1f}x faster")
            if sq_err.strip():
                print("  sqlite3 said:", sq_err.strip().splitlines()[0])


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--generate":
        generate(sys.argv[2], int(sys.argv[3]))
    else:
        main()

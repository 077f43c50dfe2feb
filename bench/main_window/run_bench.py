#!/usr/bin/env python3
"""Figures of the windows: the main window shown on a project with seven
counted directories, and the directory editor on a large wares directory
(shown, peak memory against the file size, scrolling to the last row).

Usage: bench/main_window/run_bench.py [build-dir] [wares lines]   (defaults: build, 1000000)
Prints figures only; nothing here is a pass/fail test.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
if not os.path.isabs(BUILD):
    BUILD = os.path.join(ROOT, BUILD)
LINES = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
PROGRAM = os.path.join(BUILD, "bench-bin", "kx_bench_main_window")
GENERATOR = os.path.join(ROOT, "bench", "directories", "run_bench.py")
DEMO = os.path.join(BUILD, "bin", "demo")


def run(*args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = subprocess.run([PROGRAM, *args], env=env, check=True, capture_output=True, text=True).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def main():
    if not os.path.exists(PROGRAM):
        sys.exit(f"build it first: cmake --build {BUILD} --target kx_bench_main_window")
    with tempfile.TemporaryDirectory(prefix="kx_bench_") as tmp:
        # The demo project, its wares directory made large.
        shutil.copytree(DEMO, os.path.join(tmp, "demo"))
        wares = os.path.join(tmp, "demo", "files", "demo_wares.ux7")
        subprocess.run([sys.executable, GENERATOR, "--generate", wares, str(LINES)], check=True)
        os.remove(wares + ".utf8")

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


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

Sources: the demo project's directory files and the emulated terminal's
journal (data/demo/), the example exchanges of docs/link-protocol.md, the
emulator's own log of a demo round (fuzz/seeds/commands.log, written by
kxterminal during scripts/run.sh --cli) and cases of the unit tests.

Run it again after changing a target's input format:
    fuzz/make_seeds.py
The seeds are small on purpose: CI runs each target for a few seconds over them.
"""

import pathlib
import struct
import zlib

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEMO = ROOT / "data" / "demo"
OUT = ROOT / "fuzz" / "corpus"

KINDS = {"opers": 0, "authors": 1, "address": 2, "ndocs": 3, "wares": 4, "waresl2": 5, "ndocsplan": 6}
DEMO_FILES = {k: DEMO / "files" / f"demo_{k}.ux{3 + n}" for k, n in KINDS.items()}


def head(path, lines):
    """The first lines of a file, CR LF kept."""
    return b"".join(path.read_bytes().splitlines(keepends=True)[:lines])


def write(target, name, data):
    folder = OUT / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(data)


def fdp_string(text):
    """A string as FuzzedDataProvider.ConsumeRandomLengthString reads it."""
    return text.replace(b"\\", b"\\\\") + b"\\ "


def fdp_tail(*values):
    """Integral bytes as FuzzedDataProvider consumes them: from the end, one
    byte a value of a small range, so the first value is the last byte."""
    return bytes(reversed(values))


# --- link -------------------------------------------------------------------

def hexbytes(text):
    return bytes.fromhex(" ".join(text.split()))


# The example exchanges of docs/link-protocol.md, version 1 and version 2.
V1 = [
    "4B 58 48 4D 00 00 00 00 05 00 66 6D 4D 3C 2B 1A 01 91 7F 6F 96",
    "4B 58 68 4D 00 00 00 00 05 00 0E 16 4D 3C 2B 1A 01 8F BE 16 C7",
    "4B 58 44 4D 00 00 00 00 06 00 82 29 50 04 01 00 00 00 A5 8B 6B 47",
    "4B 58 44 4D 00 00 01 00 06 00 36 5F 47 04 01 00 00 00 A5 C8 19 1F",
    "4B 58 44 4D 01 00 01 00 0B 00 CA 6C 43 03 39 39 38 51 04 02 00 00 00 F0 5D 77 85",
    "4B 58 44 4D 01 00 02 00 24 00 CE E1 41 1C 31 3B D0 93 D0 BE D1 82 D0 BE D0 B2 20 D0 BA 20 D0 BE D0 B1 "
    "D0 BC D0 B5 D0 BD D1 83 52 04 02 00 00 00 90 B7 03 F4",
    "4B 58 41 4D 00 00 02 00 00 00 F2 26 F7 C6 B3 1F",
]
V2 = [
    "4B 58 48 4D 00 00 00 00 0A 00 58 7D 4D 3C 2B 1A 02 01 01 01 E3 04 AB 4F 46 08",
    "4B 58 68 4D 00 00 00 00 08 00 52 60 4D 3C 2B 1A 02 01 E3 04 97 CF CD 44",
    "4B 58 44 4D 00 00 00 00 15 00 A2 7F 06 0F F1 68 70 F0 28 B5 2F FD 00 38 30 00 00 50 04 01 00 00 00 34 F1 2A 02",
    "4B 58 44 4D 00 00 01 00 15 00 16 09 06 0F D2 5A A3 EE 28 B5 2F FD 00 38 30 00 00 47 04 01 00 00 00 72 BB BA 75",
    "4B 58 44 4D 01 00 01 00 14 00 87 7F 0B 0E 6D 20 3C A3 58 00 00 C3 03 39 39 38 51 04 02 00 00 00 2F E5 72 AA",
    "4B 58 44 4D 01 00 02 00 21 00 3B 1E 18 1B E5 7A 7B CF C0 00 00 C1 10 31 3B C3 EE F2 EE E2 20 EA 20 EE E1 EC "
    "E5 ED F3 52 04 02 00 00 00 9D 46 B3 C8",
]


def payload(frame):
    size = frame[8] | frame[9] << 8
    return frame[12:12 + size]


def link_seeds():
    v1 = [hexbytes(f) for f in V1]
    v2 = [hexbytes(f) for f in V2]
    # Raw streams (first byte even), with noise and a cut frame.
    write("link_frames", "docs-v1", b"\x00" + b"".join(v1))
    write("link_frames", "docs-v2", b"\x00" + b"".join(v2))
    write("link_frames", "noise-and-cut", b"\x00" + b"KKX\x00junk" + v1[2] + v2[3][:17] + v1[6])
    write("link_frames", "built", b"\x01" + bytes(range(64)))

    # Message streams: the data frames' payloads of version 1.
    stream = b"".join(payload(f) for f in v1[2:6])
    write("link_messages", "docs-v1", b"\x00" + stream)
    answer1251 = b"\xC1\x10" + "1;Готов к обмену".encode("cp1251") + b"R\x04\x02\x00\x00\x00"
    write("link_messages", "docs-v2-1251", b"\x02" + b"\xC3\x03998" + answer1251)
    write("link_messages", "built", b"\x01" + bytes(range(200)))

    # Compressed units: the payloads of version 2's data frames, in order per direction.
    program = payload(v2[2]) + payload(v2[4])
    terminal = payload(v2[3]) + payload(v2[5])
    write("link_units", "docs-v2-program", b"\x00" + program)
    write("link_units", "docs-v2-terminal", b"\x00" + terminal)
    write("link_units", "built", b"\x01" + head(DEMO_FILES["wares"], 30))

    # HELLO payloads: capabilities (4 bytes), junk (FDP string), the payload.
    # HELLO payloads: an empty junk string, the payload, the two ends' abilities.
    for name, frame in (("v1-hello", v1[0]), ("v1-answer", v1[1]), ("v2-hello", v2[0]), ("v2-answer", v2[1])):
        write("link_hello", name, fdp_string(b"") + payload(frame) + fdp_tail(2, 1, 1, 2, 1, 1))

    write("link_endpoint", "session", b"\x01" + head(DEMO_FILES["opers"], 4) + bytes(range(0, 250, 7)))
    write("link_endpoint", "frames", b"\x00" + b"".join(v1) + bytes(range(0, 250, 5)))


# --- directories --------------------------------------------------------------

def directory_seeds():
    for name, path in DEMO_FILES.items():
        kind = KINDS[name]
        text = head(path, 25)
        # directory_file: kind | journal ID option 0x08 | comma 0x10 | code page << 5,
        # then typing (0x80 | column << 4 | row), then the file (its last bytes are typed)
        write("directory_file", f"{name}-1251", bytes([kind, 0]) + text)
        write("directory_file", f"{name}-utf8", bytes([kind | 1 << 5, 0]) + "\ufeff".encode() + text.decode("cp1251").encode())
        write("directory_file", f"{name}-typed", bytes([kind, 0x80 | 1 << 4 | 1]) + text + "Сыр; 2,5%".encode())
        # csv_import: kind | Yes 0x08 | edit 0x10 | code page << 5 | own file in Windows-1251 0x80
        write("csv_import", f"{name}-semicolon", bytes([kind | 0x10]) + text)
        write("csv_import", f"{name}-comma", bytes([kind | 0x08]) + text.replace(b";", b","))
        write("csv_import", f"{name}-into-1251", bytes([kind | 0x80]) + text)
        # directory_upload: item | code page << 3
        write("directory_upload", f"{name}-1251", bytes([kind]) + text)
        write("directory_upload", f"{name}-utf8", bytes([kind | 1 << 3]) + text.decode("cp1251").encode())
    write("directory_upload", "info", bytes([7]) + (DEMO / "files" / "info.txt").read_bytes())
    journal = (DEMO / "terminal" / "journal.txt").read_bytes()
    write("directory_file", "journal-with-ids", bytes([7 | 0x08, 0]) + b"1;" + journal.replace(b"\r\n", b"\r\n2;", 1))
    write("directory_file", "journal", bytes([7, 0]) + journal)
    # Cases of the tests: a line cut at 1023 bytes, a NUL, a line of two fields.
    write("directory_file", "long-line", bytes([2, 0]) + b"5;" + b"x" * 1500 + b";y\r\n")
    write("directory_file", "nul-and-short", bytes([1, 0]) + b"1;a\x00;b;c\r\n2;b\r\n")
    write("csv_import", "comma-with-semicolon", bytes([2 | 0x08]) + "7,Склад;2,200\r\n".encode("cp1251"))
    # Lines of the longest length (1023 bytes), behind a byte-order mark too, and
    # a Windows-1251 line that grows beyond it in a UTF-8 directory.
    longest = "5;Склад;".encode("cp1251") + b"x" * 1015
    write("directory_file", "longest-line", bytes([2, 0]) + longest + b"\r\n" + longest + b"y;z\r\n")
    write("directory_file", "longest-line-utf8", bytes([2 | 1 << 5, 0x80 | 1 << 4]) + "\ufeff".encode()
          + "5;Склад;".encode() + b"x" * 1010 + b"\r\n1;a;b\r\n")
    write("csv_import", "grows-in-utf8", bytes([1]) + "7;Поставщик ".encode("cp1251") + b"\x95" * 400 + b";777\r\n")
    write("directory_upload", "long-utf8-line", bytes([4]) + b"a" * 1022 + "Яблоко;4601\r\n".encode())
    # directory_lines: setting (line limit, filler) | file
    write("directory_lines", "opers", b"\x00" + head(DEMO_FILES["opers"], 10))
    write("directory_lines", "small-limit", b"\x0A" + b"ab\r\r\ncd\nef\r")
    write("directory_lines", "filler-directories", b"\xE0" + head(DEMO_FILES["authors"], 5))
    write("directory_lines", "filler-upload", b"\xF2" + "\ufeffЯ;1\r\n".encode())
    write("directory_lines", "longest-lines", b"\x00" + "\ufeff".encode() + b"a" * 1023 + b"\r\n" + b"b" * 1023 + b"\n" + b"c" * 1024 + b"\r")


# --- the rest -----------------------------------------------------------------

def profile_seeds():
    files = {
        "kxloader": "[kxloader.exe]\r\nport=COM3\r\nconfig=/home/оператор/склад/demo.kxc\r\nOverwriteJournal=1\r\n"
                    "DirectoryCodePage=windows-1251\r\n",
        "parlink": "[ports]\n; Windows port names\nCOM1=/dev/ttyS0\nWCEUSBSH001=/dev/ttyUSB0\nCOM8=local:kx-demo\n"
                   "[link]\nBaudRate=115200\nWindow=16\nProtocolVersion=2\n",
        "components": "[KXC.ParlinkX2]\nlibrary=libparlink.so\n",
        "terminal": "[terminal]\r\nProgram=Orvane\r\nVersion=4.4.0\r\n[filters]\r\nWare=\"Сыр\"\r\n",
    }
    for name, text in files.items():
        # The file (an FDP string), then the writes' choices from the end.
        # The file, the value; from the end: write the file, one write, section,
        # key, not a number, the unused integer (4 bytes), the value as it is.
        write("profile_file", name, fdp_string(text.encode()) + fdp_string(b"COM2") + fdp_tail(1, 0, 0, 0, 1, 0, 0, 0, 0, 7))
    write("profile_file", "windows-1251", fdp_string("[kxloader.exe]\r\nconfig=D:\\Проекты\\a.kxc\r\n".encode("cp1251")) +
          fdp_string(b"COM5") + fdp_tail(1, 0, 0, 0, 1, 0, 0, 0, 0, 7))


def command_line_seeds():
    batches = [
        "/x /i",
        "/x /o demo_opers.ux3 /e ops.txt /q info.txt -s",
        "/x /n",
        "/x /j journal.txt filter: o=1",
        "/j filter: o=3",
        "/n j_count.txt filter: e=2",
        "/f o=3 b=123",
        "/f",
        "/s o=3 e=7",
        "/s o = 3",
        "/q info.txt",
        "/q",
        "/d ops.txt ops.txt /w ops.txt /h",
        "/J",
        "/c /x errors.txt",
    ]
    for i, batch in enumerate(batches):
        write("command_line", f"batch-{i:02}", batch.replace(" ", "\x00").encode())


def terminal_answers_seeds():
    journal = (DEMO / "terminal" / "journal.txt").read_bytes().decode("cp1251").splitlines()
    ready = "1;Готов к обмену".encode()
    lines = b"".join(fdp_string(l.encode()) for l in journal[:4])
    # answers (FDP strings) | routine, fail, countOnly, journalIdOn, withFilters (from the end)
    write("terminal_answers", "identity", fdp_string(b"Orvane;4.4.0") + fdp_string(b"KX;KX-T100 emulator;KXE0000001") +
          fdp_tail(0, 1, 0, 0, 0))
    write("terminal_answers", "journal", fdp_string(ready) + fdp_string(b"4") + lines + fdp_string(b"$") +
          fdp_tail(1, 1, 0, 0, 0))
    write("terminal_answers", "journal-filtered", fdp_string(ready) + fdp_string(b"Orvane;4.3.5") + fdp_string(b"4") +
          lines + fdp_string(b"$") + fdp_tail(2, 1, 0, 1, 1))
    write("terminal_answers", "count", fdp_string(ready) + fdp_string(b"57") + fdp_tail(1, 1, 1, 0, 0))
    write("terminal_answers", "old-firmware", fdp_string(b"Orvane;4.3.4") + fdp_tail(3, 1, 0, 0, 1))
    write("terminal_answers", "rejection", fdp_string(b"") + fdp_string("REJECT;7;Нет места".encode()) +
          fdp_tail(4, 1, 0, 0, 0))
    write("terminal_answers", "sync", fdp_string(b"") + fdp_string(b"SYNC") + fdp_tail(4, 1, 0, 0, 0))
    info = (DEMO / "files" / "info.txt").read_bytes().decode("cp1251").splitlines()
    write("terminal_answers", "info", b"".join(fdp_string(l.encode()) for l in info) + fdp_string(b"$") +
          fdp_tail(5, 1, 0, 0, 0))


def kxterminal_seeds(log):
    journal = (DEMO / "terminal" / "journal.txt").read_bytes().decode("cp1251").splitlines()
    jlines = "".join(f"J {l}\n" for l in journal)
    if log.exists():
        # The emulator's own log of a demo round: its "C"/"D"/"E" lines are
        # the script; the other lines ("S", "L", "?") are skipped by the target.
        write("kxterminal_device", "demo-round-log", (jlines + log.read_text(encoding="utf-8")).encode())
    write("kxterminal_device", "upload", (
        "C 303\nD 20260108091403\nC 002\nC 111\nD 1;1;Приемка;1;2000000000015\nE\nC 003\nQ 1\nC 004\n").encode())
    write("kxterminal_device", "journal-1251", ("V 1251\n" + jlines +
          "C 998\nC 401\nD 1\nC 408\nD Т00001\nC 020\nC 031\nC 40R\nC 020\nC 021\nP 5\n").encode())
    data = bytes(range(40))
    write("kxterminal_device", "file-transfer", (
        "C FPB\nD \\\\Application\\\\Orvane\\\\mainbase.db\n"
        f"D {__import__('base64').b64encode(data).decode()}\nC FPE\nD {len(data)};{zlib.crc32(data):08x}\nQ 2\n").encode())
    # "FPE" is answered when its size and CRC arrive, not before: another
    # command in between is answered first.
    write("kxterminal_device", "file-transfer-end-after-a-command", (
        "C FPB\nD files\\a.db\n"
        f"D {__import__('base64').b64encode(data).decode()}\nC FPE\nC 998\nC FPE\nD {len(data)};{zlib.crc32(data):08x}\n"
        "C 020\nC 031\n" + jlines).encode())
    write("kxterminal_device", "scenario", "S RejectNumber=7\nS RejectText=Нет места\nC 002\nC 121\nD 1;Иванов;1\nE\nC 003\n".encode())


def component_library_seeds():
    """A whole plugin library of a few kilobytes, made with clang (kept out of git as source only)."""
    import shutil, subprocess, tempfile
    if not shutil.which("clang"):
        return
    with tempfile.TemporaryDirectory() as tmp:
        src = pathlib.Path(tmp) / "plugin.c"
        src.write_text("void* KxCreateParlinkX2(int version) { return version == 1 ? (void*)0 : (void*)0; }\n")
        lib = pathlib.Path(tmp) / "plugin.so"
        subprocess.run(["clang", "-shared", "-nostdlib", "-O2", "-fPIC", "-Wl,-z,noseparate-code", "-Wl,--build-id=none",
                        "-o", str(lib), str(src)], check=True)
        write("component_library", "tiny-plugin.so", lib.read_bytes())


if __name__ == "__main__":
    link_seeds()
    directory_seeds()
    profile_seeds()
    command_line_seeds()
    terminal_answers_seeds()
    kxterminal_seeds(ROOT / "fuzz" / "seeds" / "commands.log")
    component_library_seeds()

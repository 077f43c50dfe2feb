#!/usr/bin/env python3
"""Which library's headers each target includes, and whether it links them.

    scripts/include_graph.py BUILD_DIR [--all] [--source SOURCE_DIR [--cmake CMAKE]]

Reads the targets, their sources and the libraries they link from the CMake
File API reply of BUILD_DIR (the top CMakeLists.txt asks for it at every
configure), then every quoted `#include "folder/..."` of each target's sources
and of the headers those sources stand for. A header belongs to the targets
(libraries: a plugin is never linked) that compile the .cpp of the same name
or list the header itself; a header with neither belongs to the one library
built from its folder, and must be listed where its folder builds several. A
header of a folder that builds no library is a helper of the programs beside
it, free to include.

Prints one line a target of the product (libraries and programs outside tests/,
bench/ and fuzz/; --all: every target), naming the libraries whose headers it
includes:

    kx_exchange -> kx_config kx_directories kx_link kx_platform kx_storage

and exits 1, naming each edge, when a target includes a header of a library it
does not link (directly or through what it links), or a header no library owns.

CMake answers a File API query from the configure after the one that made
it, so a tree configured once has no reply yet: with --source the script then
configures SOURCE_DIR into a scratch folder of its own (a few seconds) and
reads that; without, it exits 2.
"""

import glob
import json
import os
import re
import subprocess
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
BUILDING = {"STATIC_LIBRARY", "SHARED_LIBRARY", "MODULE_LIBRARY", "OBJECT_LIBRARY", "EXECUTABLE"}
# What another target can link, and so own headers for it (a plugin, a
# MODULE, is loaded at run time and never linked).
LIBRARIES = {"STATIC_LIBRARY", "SHARED_LIBRARY", "OBJECT_LIBRARY", "INTERFACE_LIBRARY"}
NOT_PRODUCT = ("tests/", "bench/", "fuzz/")


def load_code_model(build_dir):
    reply = os.path.join(build_dir, ".cmake", "api", "v1", "reply")
    indexes = sorted(glob.glob(os.path.join(reply, "index-*.json")))
    if not indexes:
        raise FileNotFoundError(f"no CMake File API reply in {reply}: configure the build first")
    with open(indexes[-1], encoding="utf-8") as f:
        index = json.load(f)
    model_file = next(o["jsonFile"] for o in index["objects"] if o["kind"] == "codemodel")
    with open(os.path.join(reply, model_file), encoding="utf-8") as f:
        model = json.load(f)
    source_dir = model["paths"]["source"]
    configuration = model["configurations"][0]
    names = {t["id"]: t["name"] for t in configuration["targets"]}
    targets = {}
    for entry in configuration["targets"]:
        with open(os.path.join(reply, entry["jsonFile"]), encoding="utf-8") as f:
            target = json.load(f)
        sources = []
        for source in target.get("sources", []):
            path = source["path"]
            # Sources of the source tree only (not moc's or rcc's output).
            if os.path.isabs(path) or source.get("isGenerated"):
                continue
            sources.append(path.replace(os.sep, "/"))
        targets[target["name"]] = {
            "type": target["type"],
            "folder": target["paths"]["source"].replace(os.sep, "/"),
            "sources": sources,
            # CMake lists every target this one needs, through what it links too.
            "needs": {names[d["id"]] for d in target.get("dependencies", [])},
        }
    return source_dir, targets


def own_headers(sources):
    """The headers a list of sources stands for: those listed, and those of its .cpp files."""
    headers = set()
    for source in sources:
        stem, ext = os.path.splitext(source)
        headers.add(source if ext in (".h", ".hpp") else stem + ".h")
    return headers


def owners_of_headers(targets):
    """header path -> the libraries it belongs to; folder -> the libraries built from it."""
    owners = {}
    folder_libraries = {}
    for name, target in targets.items():
        if target["type"] not in LIBRARIES:
            continue
        for header in own_headers(target["sources"]):
            owners.setdefault(header, set()).add(name)
        for source in target["sources"]:
            folder_libraries.setdefault(os.path.dirname(source), set()).add(name)
    return owners, folder_libraries


def owner(header, owners, folder_libraries):
    """The libraries `header` belongs to; None for a helper of a folder without libraries."""
    if header in owners:
        return owners[header]
    libraries = folder_libraries.get(os.path.dirname(header))
    if libraries is None:
        return None  # a header-only helper of the programs or tests beside it
    return libraries if len(libraries) == 1 else set()


def includes_of(path, source_dir):
    try:
        with open(os.path.join(source_dir, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return []
    found = []
    for name in INCLUDE.findall(text):
        # Only "folder/file" names of this source tree; Qt's and the
        # generated headers have no folder or are not in it.
        if "/" in name and os.path.isfile(os.path.join(source_dir, name)):
            found.append(os.path.normpath(name).replace(os.sep, "/"))
    return found


def code_model_of_scratch_tree(source, cmake):
    with tempfile.TemporaryDirectory(prefix="kx_include_graph_") as scratch:
        query = os.path.join(scratch, ".cmake", "api", "v1", "query")
        os.makedirs(query)
        open(os.path.join(query, "codemodel-v2"), "w").close()
        run = subprocess.run([cmake, "-S", source, "-B", scratch], stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            raise OSError(f"configuring {source} failed:\n{run.stdout}")
        return load_code_model(scratch)


def option(argv, name):
    return argv[argv.index(name) + 1] if name in argv[:-1] else None


def main(argv):
    if len(argv) < 2 or argv[1].startswith("--"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    build_dir = argv[1]
    show_all = "--all" in argv[2:]
    source = option(argv, "--source")
    try:
        try:
            source_dir, targets = load_code_model(build_dir)
        except FileNotFoundError:
            if not source:
                raise
            source_dir, targets = code_model_of_scratch_tree(source, option(argv, "--cmake") or "cmake")
    except (OSError, ValueError, KeyError, StopIteration) as error:
        print(f"include_graph: {error}", file=sys.stderr)
        return 2
    # A reply older than the sources (files moved since the last configure)
    # would hide their includes: read none of it.
    missing = sorted({f for t in targets.values() for f in t["sources"]
                      if not os.path.isfile(os.path.join(source_dir, f))})
    if missing:
        print(f"include_graph: the build's code model names sources that are gone ({', '.join(missing[:3])}"
              f"{' ...' if len(missing) > 3 else ''}): configure {build_dir} again", file=sys.stderr)
        return 2
    owners, folder_libraries = owners_of_headers(targets)

    faults = []
    lines = []
    for name in sorted(targets):
        target = targets[name]
        if target["type"] not in BUILDING:
            continue
        mine = own_headers(target["sources"])
        # The headers that the target's own sources stand for are its code too.
        files = set(target["sources"]) | {h for h in mine if os.path.isfile(os.path.join(source_dir, h))}
        included = set()
        for path in sorted(files):
            for header in includes_of(path, source_dir):
                if header in mine:
                    continue
                belongs = owner(header, owners, folder_libraries)
                if belongs is None or name in belongs:
                    continue
                if not belongs:
                    faults.append(f"{name}: {path} includes {header}, which no library owns "
                                  f"(list it in the sources of its library)")
                    continue
                linked = belongs & target["needs"]
                if not linked:
                    faults.append(f"{name} -> {' or '.join(sorted(belongs))}: {path} includes {header}, "
                                  f"but {name} does not link {' or '.join(sorted(belongs))}")
                    continue
                included |= {b for b in linked if targets[b]["type"] in LIBRARIES}
        product = not target["folder"].startswith(NOT_PRODUCT) and target["folder"] not in ("tests", "bench", "fuzz")
        if show_all or product:
            lines.append(f"{name} -> {' '.join(sorted(included))}".rstrip())
    for line in lines:
        print(line)
    for fault in faults:
        print(f"undeclared: {fault}", file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

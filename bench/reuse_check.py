#!/usr/bin/env python3
"""Benchmarks of the metadata reuse check (talvik pack --reuse-check metadata).

Corpora:
  big   the corpus of bench.py (about 62 MB in 777 files).
  many  the demo app's orrin.exe (first entry) and the first MANY_FILES files, by path, of
        /usr/share/doc, /usr/share/man and /usr/share/locale whose names Windows takes as
        they are (plain ASCII letters, digits and ._+-, no two alike but for case).

Figures, each in rounds that run the launcher and its floor side by side (alternating
which goes first); ratios per round; median, min and max over the rounds:
  1. warm start with metadata, against the spawn-with-SHELL32 floor (outside time) plus the
     listing floor (bench-list-floor: every directory of the same tree listed once with
     FindFirstFileExW, inside time). Target <= 1.15.
  2. warm start with crc over the same tree, against the warm start with metadata
     (information).
  3. cold start with metadata against the cold start with crc of the same corpus, each into
     a folder of its own ({TIME} in the template): the cost of recording and writing the
     stamp. Target <= 1.03.
"""

import argparse
import json
import os
import re
import statistics
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import Bench, command_line, log, print_table, remove_tree, tree_size, windows_path  # noqa: E402

MANY_FILES = 6000
MANY_SOURCES = [Path("/usr/share/doc"), Path("/usr/share/man"), Path("/usr/share/locale")]
SAFE_NAME = re.compile(r"^[A-Za-z0-9_+-][A-Za-z0-9._+-]*$")
TARGET_WARM_RATIO = 1.15
TARGET_COLD_COST = 1.03


def many_file_corpus(bench):
    demo = bench.win / "demo-app"
    files = [("orrin.exe", demo / "orrin.exe")]
    seen = {"orrin.exe"}
    for source in MANY_SOURCES:
        for folder, subfolders, names in os.walk(source):
            subfolders[:] = sorted((d for d in subfolders if SAFE_NAME.match(d) and not d.endswith(".")),
                                   key=os.fsencode)
            for name in sorted(names, key=os.fsencode):
                path = Path(folder) / name
                if len(files) > MANY_FILES:
                    break
                if not SAFE_NAME.match(name) or name.endswith(".") or path.is_symlink() or not path.is_file():
                    continue
                relative = source.name + "/" + str(path.relative_to(source))
                if relative.lower() in seen:
                    continue
                seen.add(relative.lower())
                files.append((relative, path))
    return bench.materialise("many", files)


def pack(bench, corpus, image, template, reuse_check):
    import subprocess
    subprocess.run([str(bench.host / "talvik"), "pack", str(corpus), "-o", str(image), "--exe", "orrin.exe",
                    "--template", template, "--reuse-check", reuse_check, "--level", "3", "--old-trees", "keep",
                    "--quiet"], check=True)


def run(bench, args):
    bench.work.mkdir(parents=True, exist_ok=True)
    log("reuse check: corpora")
    corpora = {"big": bench.build_corpus()["big"], "many": many_file_corpus(bench)}
    cache_windows, cache_linux = bench.cache_dir()
    root_windows = cache_windows + "\\TalvikReuse"
    root_linux = cache_linux / "TalvikReuse"
    remove_tree(root_linux)
    images = bench.work / "reuse-images"
    images.mkdir(parents=True, exist_ok=True)
    programs = bench.programs
    spawn = windows_path(programs / "bench-spawn-shell32-floor.exe")
    lister = windows_path(programs / "bench-list-floor.exe")

    for name, corpus in corpora.items():
        log(f"reuse check: {name}: {corpus['files']} files, {corpus['bytes'] / (1 << 20):.1f} MiB; packing")
        for check in ("metadata", "crc"):
            pack(bench, corpus["folder"], images / f"{name}-{check}.exe",
                 "{CACHE_DIR}\\TalvikReuse\\" + f"{name}-{check}", check)
            pack(bench, corpus["folder"], images / f"{name}-{check}-cold.exe",
                 "{CACHE_DIR}\\TalvikReuse\\" + f"{name}-{check}-cold-" + "{TIME}", check)
        # The warm trees, and the stamp of the metadata one.
        for check in ("metadata", "crc"):
            bench.wine_run(windows_path(images / f"{name}-{check}.exe"))
        files, _ = tree_size(root_linux / f"{name}-metadata")
        if not (root_linux / f"{name}-metadata" / ".talvik-stamp").is_file():
            raise SystemExit(f"bench: no stamp after the first start of {name}-metadata")
        tree = root_windows + f"\\{name}-metadata"
        orrin = tree + "\\orrin.exe"
        lines = {
            "metadata": windows_path(images / f"{name}-metadata.exe"),
            "crc": windows_path(images / f"{name}-crc.exe"),
            "metadata_cold": windows_path(images / f"{name}-metadata-cold.exe"),
            "crc_cold": windows_path(images / f"{name}-crc-cold.exe"),
            "spawn": command_line(spawn, orrin),
            "list": command_line(lister, tree),
        }
        pairs = [("metadata", "spawn", "list"), ("crc", "metadata"), ("metadata_cold", "crc_cold")]
        samples = []
        for round_index in range(bench.runs):
            log(f"reuse check: {name}: round {round_index + 1}/{bench.runs}")
            sample = {}
            for group in pairs:
                for step in group if round_index % 2 == 0 else reversed(group):
                    os.sync()
                    sample.setdefault(step, bench.wine_run(lines[step]))
            if sample["list"]["child_files"] != files:
                raise SystemExit(f"bench: the listing floor saw {sample['list']['child_files']} files of {files}")
            samples.append(sample)

        ms = 1e-3

        def outside(s, step):
            return s[step]["outside_us"] * ms

        def floor(s):
            return outside(s, "spawn") + s["list"]["child_work_us"] * ms

        label = f"{name} ({corpus['files']} files)"
        bench.add(1, f"warm start, metadata, {label}", "ms", [outside(s, "metadata") for s in samples])
        bench.add(1, f"  floor: spawn-with-SHELL32 + listing, {label}", "ms", [floor(s) for s in samples])
        bench.add(1, f"  listing floor alone (inside), {label}", "ms",
                  [s["list"]["child_work_us"] * ms for s in samples])
        bench.add(1, f"  ratio to the floor, {label}", "ratio", [outside(s, "metadata") / floor(s) for s in samples],
                  TARGET_WARM_RATIO)
        bench.add(2, f"warm start, crc, {label}", "ms", [outside(s, "crc") for s in samples])
        bench.add(2, f"  crc warm / metadata warm, {label}", "ratio",
                  [outside(s, "crc") / outside(s, "metadata") for s in samples])
        bench.add(3, f"cold start, metadata, {label}", "ms", [outside(s, "metadata_cold") for s in samples])
        bench.add(3, f"cold start, crc, {label}", "ms", [outside(s, "crc_cold") for s in samples])
        bench.add(3, f"  metadata cold / crc cold, {label}", "ratio",
                  [outside(s, "metadata_cold") / outside(s, "crc_cold") for s in samples], TARGET_COLD_COST)
    log("reuse check: removing the unpacked trees")
    remove_tree(root_linux)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    bench = Bench(args.build, args.runs, 1)
    run(bench, args)
    print_table(bench, f"Reuse check benchmarks ({bench.runs} rounds)")
    result_file = bench.work / "reuse-check.json"
    result_file.write_text(json.dumps({"rows": bench.rows}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Benchmarks of the stamp that every launcher leaves and of old-tree removal
(talvik pack --old-trees).

Figures, in rounds that alternate which case runs first; median, min and max:
  1. cold start of a crc image, which leaves its stamp, against the cold start of the same
     corpus packed by a talvik whose launcher leaves none (--unstamped TALVIK: a build of
     the tree before every launcher stamped; the figure is skipped without it), each into a
     folder of its own ({TIME}), on the big corpus and the many-file one of reuse_check.py.
     Target <= 1.03.
  2. the start of an image (a clock child and one file) beside a 2,001-file tree that
     another version of its product left, which it removes, against the same start with no
     such tree: the time from the launcher's creation to its child's start (bench-runner
     stamped, bench-clock-child), target <= 1.03, and the removal itself: the launcher's
     whole run with the tree to remove, less the one without.
"""

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import Bench, log, parse_values, print_table, remove_tree, tree_size, windows_path  # noqa: E402
from reuse_check import many_file_corpus  # noqa: E402

TARGET_COLD_COST = 1.03
TARGET_CHILD_START = 1.03
SIBLING_FILES = 2000
COMPANY = "Talvik Bench"
PRODUCT = "BenchOldTrees"


def pack(tool, corpus, image, template, exe, old_trees, product=PRODUCT):
    subprocess.run([str(tool), "pack", str(corpus), "-o", str(image), "--exe", exe, "--template", template,
                    "--company", COMPANY, "--product", product, "--old-trees", old_trees, "--level", "3",
                    "--quiet"], check=True)


def stamped_start(bench, image):
    """A start through bench-runner stamped: outside time, and the child's start from the
    launcher's creation."""
    figures, child_text = bench.runner_figures("stamped", [windows_path(image)], str(image))
    child = parse_values(child_text)
    if figures["exit_code"] != 0 or "started_unix_us" not in child:
        raise SystemExit(f"bench: {image} ended with {figures['exit_code']:#x}:\n{child_text}")
    return {"outside_ms": figures["outside_us"] * 1e-3,
            "to_child_ms": (child["started_unix_us"] - figures["created_unix_us"]) * 1e-3}


def cold_cost(bench, args, root_windows, root_linux, images):
    if not args.unstamped:
        log("old trees: no --unstamped talvik given, figure 1 skipped")
        return
    corpora = {"big": bench.build_corpus()["big"], "many": many_file_corpus(bench)}
    tools = {"stamped": bench.host / "talvik", "unstamped": Path(args.unstamped)}
    for name, corpus in corpora.items():
        lines = {}
        for kind, tool in tools.items():
            image = images / f"cold-{name}-{kind}.exe"
            # keep: the cold trees are siblings of one product, and this figure is the stamp's.
            pack(tool, corpus["folder"], image, root_windows + f"\\cold-{name}-{kind}-" + "{TIME}", "orrin.exe",
                 "keep", product=f"Cold{name}")
            lines[kind] = windows_path(image)
        samples = []
        for round_index in range(bench.runs):
            log(f"old trees: cold {name}: round {round_index + 1}/{bench.runs}")
            sample = {}
            order = ("stamped", "unstamped") if round_index % 2 == 0 else ("unstamped", "stamped")
            for kind in order:
                os.sync()
                sample[kind] = bench.wine_run(lines[kind])["outside_us"] * 1e-3
                for folder in root_linux.glob(f"cold-{name}-*"):
                    remove_tree(folder)
            samples.append(sample)
        label = f"{name} ({corpus['files']} files)"
        bench.add(1, f"cold start, crc, leaves its stamp, {label}", "ms", [s["stamped"] for s in samples])
        bench.add(1, f"cold start, crc, unstamped launcher, {label}", "ms", [s["unstamped"] for s in samples])
        bench.add(1, f"  with stamp / without, {label}", "ratio", [s["stamped"] / s["unstamped"] for s in samples],
                  TARGET_COLD_COST)


def removal(bench, root_windows, root_linux, images):
    clock = bench.programs / "bench-clock-child.exe"
    many = many_file_corpus(bench)
    sibling_files = [("clock.exe", clock)]
    for path in sorted(p for p in Path(many["folder"]).rglob("*") if p.is_file() and p.name != "orrin.exe"):
        if len(sibling_files) > SIBLING_FILES:
            break
        sibling_files.append((str(path.relative_to(many["folder"])), path))
    sibling = bench.materialise("old-trees-sibling", sibling_files)
    version_file = bench.work / "old-trees-version.txt"
    version_file.write_text("the version that removes\n")
    remover = bench.materialise("old-trees-remover", [("clock.exe", clock), ("version.txt", version_file)])
    pack(bench.host / "talvik", sibling["folder"], images / "sibling.exe", root_windows + "\\old", "clock.exe", "keep")
    pack(bench.host / "talvik", remover["folder"], images / "remover.exe", root_windows + "\\new", "clock.exe",
         "remove")
    old_tree = root_linux / "old"
    # The remover's own tree, so that both cases are warm starts.
    stamped_start(bench, images / "remover.exe")
    samples = []
    for round_index in range(bench.runs):
        log(f"old trees: removal: round {round_index + 1}/{bench.runs}")
        sample = {}
        for case in ("beside", "alone") if round_index % 2 == 0 else ("alone", "beside"):
            if case == "beside":
                bench.wine_run(windows_path(images / "sibling.exe"))
                files, _ = tree_size(old_tree)
                if files != sibling["files"] + 2:
                    raise SystemExit(f"bench: the sibling tree holds {files} files, not {sibling['files'] + 2}")
            os.sync()
            sample[case] = stamped_start(bench, images / "remover.exe")
            if old_tree.exists():
                raise SystemExit("bench: the sibling tree was not removed" if case == "beside"
                                 else "bench: a sibling tree was left")
        samples.append(sample)
    label = f"beside a {sibling['files']}-file tree"
    bench.add(2, f"launcher created to child started, {label}", "ms", [s["beside"]["to_child_ms"] for s in samples])
    bench.add(2, "launcher created to child started, nothing to remove", "ms",
              [s["alone"]["to_child_ms"] for s in samples])
    bench.add(2, "  removing / nothing to remove", "ratio",
              [s["beside"]["to_child_ms"] / s["alone"]["to_child_ms"] for s in samples], TARGET_CHILD_START)
    bench.add(2, f"whole run, {label}", "ms", [s["beside"]["outside_ms"] for s in samples])
    bench.add(2, "whole run, nothing to remove", "ms", [s["alone"]["outside_ms"] for s in samples])
    bench.add(2, f"  the removal ({sibling['files'] + 2} files and their folders)", "ms",
              [s["beside"]["outside_ms"] - s["alone"]["outside_ms"] for s in samples])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--unstamped", help="a talvik whose launcher leaves no stamp (figure 1)")
    parser.add_argument("--only", choices=["cold", "removal"], help="only one of the figures")
    args = parser.parse_args()
    bench = Bench(args.build, args.runs, 1)
    bench.work.mkdir(parents=True, exist_ok=True)
    cache_windows, cache_linux = bench.cache_dir()
    root_windows = cache_windows + "\\TalvikOldTrees"
    root_linux = cache_linux / "TalvikOldTrees"
    remove_tree(root_linux)
    images = bench.work / "old-trees-images"
    images.mkdir(parents=True, exist_ok=True)
    if args.only != "removal":
        cold_cost(bench, args, root_windows, root_linux, images)
    if args.only != "cold":
        removal(bench, root_windows, root_linux, images)
    remove_tree(root_linux)
    print_table(bench, f"Stamp and old-tree benchmarks ({bench.runs} rounds)")
    result_file = bench.work / "old-trees.json"
    result_file.write_text(json.dumps({"rows": bench.rows}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")


if __name__ == "__main__":
    main()

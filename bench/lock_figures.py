#!/usr/bin/env python3
"""Figures of the unpack lock (payload/extraction_lock.cpp), over the big corpus of bench.py
packed at talvik's defaults; every start unpacks into a folder of its own.

  1. The writer's longest silence: a cold start watched by bench-runner watch-lock, which
     reads the progress record of the tree's lock file every millisecond. The longest time
     the record stayed the same while the writer worked is what a launcher waiting for it
     would have seen; target: at most a tenth of the patience of those waiting (30 s).
  2. With --against OTHER_TALVIK (the talvik tool of another revision): images written by
     both tools around the same attached data, run side by side in rounds (alternating which
     goes first): one cold start, and CROWD_SIZE simultaneous cold starts into one folder.
     Ratios this / other per round; target: at most 1.05 for both.
"""

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import CROWD_SIZE, Bench, log, print_table, remove_tree, windows_path  # noqa: E402

LOCK_PATIENCE_MS = 30000
TARGET_SILENCE_MS = LOCK_PATIENCE_MS / 10
TARGET_AGAINST = 1.05


def write_around(tool, block, image, template):
    subprocess.run([str(tool), "pack", "--attached-data", str(block), "-o", str(image), "--template", template,
                    "--product", "big", "--old-trees", "keep", "--quiet"], check=True)


def run(bench, args):
    bench.work.mkdir(parents=True, exist_ok=True)
    log("lock figures: corpus and image")
    corpus = bench.build_corpus()["big"]
    cache_windows, cache_linux = bench.cache_dir()
    root_windows = cache_windows + "\\TalvikLock"
    root_linux = cache_linux / "TalvikLock"
    remove_tree(root_linux)
    images = bench.work / "lock-images"
    images.mkdir(parents=True, exist_ok=True)
    bench.pack(corpus["folder"], images / "big.exe", "{CACHE_DIR}\\TalvikLock\\big")
    block = bench.extract(images / "big.exe", "lock-big")["block"]

    def template(name):
        return "{CACHE_DIR}\\TalvikLock\\" + name

    tools = {"this": bench.host / "talvik"}
    if args.against:
        tools["other"] = Path(args.against).resolve()
    for name, tool in tools.items():
        write_around(tool, block, images / f"cold-{name}.exe", template(f"cold-{name}-" + "{TIME}"))
        # An image per round (and one for the warm-up) for a folder that no start has seen.
        for round_index in range(bench.runs + 1):
            write_around(tool, block, images / f"crowd-{name}-{round_index}.exe",
                         template(f"crowd-{name}-{round_index}"))
    for round_index in range(bench.runs + 1):
        write_around(tools["this"], block, images / f"watch-{round_index}.exe", template(f"watch-{round_index}"))

    def watch(round_index):
        lock_file = root_windows + f"\\watch-{round_index}\\.talvik-lock"
        figures, _ = bench.runner_figures("watch-lock", [lock_file, windows_path(images / f"watch-{round_index}.exe")],
                                          "watched cold start")
        if figures["exit_code"] != 0:
            raise SystemExit(f"bench: the watched cold start ended with {figures['exit_code']:#x}")
        return figures

    crowds = {name: 0 for name in tools}

    def step(name):
        os.sync()
        kind, tool = name.split("_")
        if kind == "cold":
            return bench.wine_run(windows_path(images / f"cold-{tool}.exe"))
        image = images / f"crowd-{tool}-{crowds[tool]}.exe"
        crowds[tool] += 1
        return bench.wine_together(windows_path(image), CROWD_SIZE)

    pairs = [tuple(f"{kind}_{tool}" for tool in tools) for kind in ("cold", "crowd")]
    log("lock figures: warm-up")
    watch(0)
    for pair in pairs:
        for name in pair:
            step(name)
    samples = []
    for round_index in range(bench.runs):
        log(f"lock figures: round {round_index + 1}/{bench.runs}")
        sample = {"watch": watch(round_index + 1)}
        for pair in pairs:
            for name in pair if round_index % 2 == 0 else reversed(pair):
                sample[name] = step(name)
        samples.append(sample)
    log("lock figures: removing the unpacked trees")
    remove_tree(root_linux)

    ms = 1e-3
    bench.add(1, "writer's longest silence in a cold start", "ms",
              [s["watch"]["longest_silence_us"] * ms for s in samples], TARGET_SILENCE_MS)
    bench.add(1, "  progress records written", "count", [s["watch"]["record_changes"] for s in samples])
    bench.add(1, "  the watched cold start", "ms", [s["watch"]["outside_us"] * ms for s in samples])
    for name in tools:
        bench.add(2, f"cold start, {name} tool's image", "ms", [s[f"cold_{name}"]["outside_us"] * ms for s in samples])
        bench.add(2, f"{CROWD_SIZE} simultaneous cold starts, {name} tool's image", "ms",
                  [s[f"crowd_{name}"]["outside_us"] * ms for s in samples])
        bench.add(2, f"  launchers of the {CROWD_SIZE} that failed, {name} tool's image", "count",
                  [s[f"crowd_{name}"]["failed"] for s in samples])
    if "other" in tools:
        for kind, label in (("cold", "cold start"), ("crowd", f"{CROWD_SIZE} simultaneous cold starts")):
            bench.add(2, f"{label}, this / other", "ratio",
                      [s[f"{kind}_this"]["outside_us"] / s[f"{kind}_other"]["outside_us"] for s in samples],
                      TARGET_AGAINST)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--against", help="the talvik tool of another revision, to compare its launcher with")
    args = parser.parse_args()
    bench = Bench(args.build, args.runs, 1)
    run(bench, args)
    print_table(bench, f"Unpack lock benchmarks ({bench.runs} rounds)")
    result_file = bench.work / "lock-figures.json"
    result_file.write_text(json.dumps({"rows": bench.rows}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""What the child's job costs a start: the small corpus (the demo app) packed twice, by
default (the child runs in a job that ends it with the launcher) and with
--child-outlives-launcher (no job), both started warm (intact tree) in rounds that run the
two side by side, alternating which goes first; the spawn floor (bench-spawn-floor: a
KERNEL32-only program that starts the same demo app as the launcher does, without a job)
runs beside them for scale. Ratios per round; median, min and max over the rounds.

The outside times of process starts under Wine vary far more than the job could cost, so
the job floor (bench-job-floor) measures the cost itself, inside one process: it starts
the demo app JOB_FLOOR_ROUNDS times each way, plainly and as the launcher does by default
(job made, child created suspended, put in the job, resumed), alternating, and times each
start up to the moment the child runs.

Figures (information, no target):
  1. warm start with the job, without it, and the spawn floor (outside time).
  2. with the job / without it: per round, and of the medians; the difference of the best
     starts in milliseconds.
  3. the job floor: the median start each way, and the median of the rounds' differences.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import Bench, command_line, log, print_table, remove_tree, windows_path  # noqa: E402

JOB_FLOOR_ROUNDS = 201


def pack(bench, image, template, extra):
    subprocess.run([str(bench.host / "talvik"), "pack", str(bench.win / "demo-app"), "-o", str(image), "--exe",
                    "orrin.exe", "--template", template, "--old-trees", "keep", "--quiet"] + extra, check=True)


def run(bench):
    bench.work.mkdir(parents=True, exist_ok=True)
    cache_windows, cache_linux = bench.cache_dir()
    root_linux = cache_linux / "TalvikJob"
    remove_tree(root_linux)
    images = bench.work / "job-images"
    images.mkdir(parents=True, exist_ok=True)
    log("child job: packing")
    pack(bench, images / "job.exe", "{CACHE_DIR}\\TalvikJob\\job", [])
    pack(bench, images / "no-job.exe", "{CACHE_DIR}\\TalvikJob\\no-job", ["--child-outlives-launcher"])
    lines = {
        "job": windows_path(images / "job.exe"),
        "no_job": windows_path(images / "no-job.exe"),
        "spawn": command_line(windows_path(bench.programs / "bench-spawn-floor.exe"),
                              cache_windows + "\\TalvikJob\\no-job\\orrin.exe"),
        "job_floor": command_line(windows_path(bench.programs / "bench-job-floor.exe"),
                                  cache_windows + "\\TalvikJob\\no-job\\orrin.exe", str(JOB_FLOOR_ROUNDS)),
    }
    # The first starts unpack the trees; every measured start is warm.
    for step in ("job", "no_job", "spawn"):
        bench.wine_run(lines[step])
    samples = []
    order = ("job", "no_job", "spawn")
    for round_index in range(bench.runs):
        log(f"child job: round {round_index + 1}/{bench.runs}")
        sample = {}
        for step in order if round_index % 2 == 0 else reversed(order):
            os.sync()
            sample[step] = bench.wine_run(lines[step])["outside_us"] * 1e-3
        samples.append(sample)
    log(f"child job: job floor, {JOB_FLOOR_ROUNDS} starts each way")
    floor = bench.wine_run(lines["job_floor"])
    log("child job: removing the unpacked trees")
    remove_tree(root_linux)

    bench.add(1, "warm start, child in a job (default)", "ms", [s["job"] for s in samples])
    bench.add(1, "warm start, no job (--child-outlives-launcher)", "ms", [s["no_job"] for s in samples])
    bench.add(1, "spawn floor (no job)", "ms", [s["spawn"] for s in samples])
    # Wine's process starts here fall into two groups (about 35 and about 200 ms), so a round's
    # pair often mixes the two: the medians and the best starts compare like with like.
    job = [s["job"] for s in samples]
    no_job = [s["no_job"] for s in samples]
    bench.add(2, "with the job / without it, per round", "ratio", [a / b for a, b in zip(job, no_job)])
    bench.add(2, "with the job / without it, medians", "ratio", [statistics.median(job) / statistics.median(no_job)])
    bench.add(2, "with the job - without it, best starts", "ms", [min(job) - min(no_job)])
    bench.add(3, "job floor: start without a job (inside, median)", "ms", [floor["child_plain_us"] * 1e-3])
    bench.add(3, "job floor: start in a job (inside, median)", "ms", [floor["child_job_us"] * 1e-3])
    bench.add(3, "job floor: what the job adds (median of the rounds)", "ms", [floor["child_job_extra_us"] * 1e-3])
    return samples


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    bench = Bench(args.build, args.runs, 1)
    samples = run(bench)
    print_table(bench, f"Child job benchmarks ({bench.runs} rounds)")
    result_file = bench.work / "child-job.json"
    result_file.write_text(json.dumps({"rows": bench.rows, "samples_ms": samples}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")


if __name__ == "__main__":
    main()

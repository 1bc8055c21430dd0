#!/usr/bin/env python3
"""Benchmarks of the progress window of a slow windowed start, on an X server of its own
(Xvfb, started here on a free display number and ended afterwards), inside a Wine virtual
desktop (explorer /desktop=NAME,SIZE), where Wine draws every window's frame itself: a framed
window that goes waits up to two seconds for a window manager's answer otherwise, and Xvfb
has none.

Corpus:
  modules  the demo's card table orrin-table.exe (first entry: a windowed app that opens
           its window and closes it by itself) and 16,000 files of 6,400 bytes that do not
           compress, in 160 folders: 100 MB in the shape of a node app's modules, whose cold
           start under Wine takes seconds. Packed --windowed at level 3, once as it is and once
           with --no-progress, each start into a folder of its own ({TIME} in the template).

Figures, in rounds (a watched start of the image with the window, then one start of each image,
unwatched, alternating which goes first); median, min and max:
  1. from the launcher's creation (the runner's clock, stamped just before CreateProcessW)
     to its progress window on the screen (the first look that finds it). Target <= 1,500 ms.
  2. the hand-over: from the app's own window on the screen to the progress window gone
     (information; above 0 both were up together for that long, below 0 the screen was
     without either for that long).
  3. the cold start with the window against the one without (--no-progress), until the
     app has closed its window and ended (information: what showing it costs the start).
The screen is looked at in a loop (xwininfo); each look takes a few milliseconds, which is
the resolution of figures 1 and 2.
"""

import argparse
import json
import os
import random
import subprocess
import time
from pathlib import Path
import sys

sys.path.insert(0, str(Path(__file__).resolve().parent))
from bench import WINE, Bench, log, parse_values, print_table, remove_tree, windows_path  # noqa: E402

FOLDERS = 160
FILES_PER_FOLDER = 100
FILE_BYTES = 6400
PRODUCT = "Progress bench"
# The card table's own window.
APP_TITLE = "Orrin Deck"
APP_CLOSES_AFTER_MS = 1500
TARGET_WINDOW_MS = 1500
# A generous bound on Xvfb's start and on one start of the image.
XVFB_START_S = 30
RUN_BOUND_S = 600
VIRTUAL_DESKTOP_SIZE = "1280x800"


def modules_corpus(bench):
    folder = bench.work / "corpus" / "modules"
    marker = folder / ".complete"
    if not marker.exists():
        remove_tree(folder)
        generator = random.Random(25)
        for index in range(FOLDERS):
            (folder / "modules" / str(index)).mkdir(parents=True)
            for file in range(FILES_PER_FOLDER):
                (folder / "modules" / str(index) / f"{file}.bin").write_bytes(generator.randbytes(FILE_BYTES))
        marker.write_text("")
    (folder / "orrin-table.exe").write_bytes((bench.win / "demo-table-app" / "orrin-table.exe").read_bytes())
    return folder


class VirtualDisplay:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                                         "-nolisten", "tcp"], pass_fds=(write_end,),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + XVFB_START_S
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            self.close()
            raise SystemExit("bench: Xvfb did not start (scripts/setup.sh installs it)")
        self.name = ":" + number.decode().strip()

    def titles_on_screen(self):
        """The titles of the windows that are mapped and viewable."""
        tree = subprocess.run(["xwininfo", "-display", self.name, "-root", "-tree"], capture_output=True,
                              text=True).stdout
        titles = set()
        for line in tree.splitlines():
            words = line.split()
            if not words or not words[0].startswith("0x") or '": (' not in line:
                continue
            title = line[line.index(' "') + 2:line.index('": (')]
            if title in (PRODUCT, APP_TITLE):
                details = subprocess.run(["xwininfo", "-display", self.name, "-id", words[0]], capture_output=True,
                                         text=True).stdout
                if "Map State: IsViewable" in details:
                    titles.add(title)
        return titles

    def close(self):
        self.process.terminate()
        self.process.wait()


def start(bench, display, image, watch):
    """One start through bench-runner stamped: the runner's figures and, when watched, the
    times (Linux clock) at which each window was first seen and the progress window first
    missed. The watch costs a core's worth of xwininfo runs, so cold starts that are compared
    are not watched."""
    capture = bench.work / "progress-runner.txt"
    output = bench.work / "progress-run-output.txt"
    env = dict(bench.env, DISPLAY=display.name)
    seen = {}
    with open(capture, "w") as sink:
        # A desktop of its own for every start: one that the last start left may still be closing.
        desktop = f"/desktop=talvik-bench-{os.getpid()}-{time.monotonic_ns()},{VIRTUAL_DESKTOP_SIZE}"
        runner = subprocess.Popen([WINE, "explorer", desktop, windows_path(bench.programs / "bench-runner.exe"),
                                   "stamped", windows_path(output),
                                   f"{windows_path(image)} --close-after {APP_CLOSES_AFTER_MS}"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + RUN_BOUND_S
        while watch and runner.poll() is None and time.monotonic() < deadline:
            titles = display.titles_on_screen()
            now = time.time()
            for title in titles:
                seen.setdefault(title, now)
            if PRODUCT in seen and PRODUCT not in titles:
                seen.setdefault("progress gone", now)
        try:
            runner.wait(timeout=max(deadline - time.monotonic(), 0))
        except subprocess.TimeoutExpired:
            runner.kill()
            raise SystemExit(f"bench: {image.name} did not end within {RUN_BOUND_S} s")
    figures = parse_values(capture.read_text(errors="replace"))
    if figures.get("exit_code") != 0 or "created_unix_us" not in figures:
        raise SystemExit(f"bench: {image.name} failed:\n{capture.read_text(errors='replace')}")
    return figures, seen


def run(bench, args):
    bench.work.mkdir(parents=True, exist_ok=True)
    log("progress window: corpus")
    corpus = modules_corpus(bench)
    cache_windows, cache_linux = bench.cache_dir()
    root_linux = cache_linux / "TalvikProgress"
    remove_tree(root_linux)
    images = bench.work / "progress-images"
    images.mkdir(parents=True, exist_ok=True)
    kinds = {"window": [], "none": ["--no-progress"]}
    for kind, extra in kinds.items():
        log(f"progress window: packing ({kind})")
        subprocess.run([str(bench.host / "talvik"), "pack", str(corpus), "-o", str(images / f"{kind}.exe"),
                        "--exe", "orrin-table.exe", "--windowed", "--product", PRODUCT, "--level", "3",
                        "--template", "{CACHE_DIR}\\TalvikProgress\\" + kind + "-{TIME}", "--old-trees", "keep",
                        "--quiet"] + extra,
                       check=True)
    display = VirtualDisplay()
    try:
        samples = []
        for round_index in range(bench.runs):
            log(f"progress window: round {round_index + 1}/{bench.runs}")
            os.sync()
            sample = {"watched": start(bench, display, images / "window.exe", True)}
            for kind in kinds if round_index % 2 == 0 else reversed(list(kinds)):
                os.sync()
                sample[kind] = start(bench, display, images / f"{kind}.exe", False)[0]
            samples.append(sample)
    finally:
        display.close()
    for sample in samples:
        seen = sample["watched"][1]
        if PRODUCT not in seen or APP_TITLE not in seen or "progress gone" not in seen:
            raise SystemExit(f"bench: a slow start did not show and close its window as it should: {seen}")

    def created(figures):
        return figures["created_unix_us"] * 1e-6

    watched = [s["watched"] for s in samples]
    bench.add(1, "launcher created to progress window on the screen", "ms",
              [(seen[PRODUCT] - created(figures)) * 1e3 for figures, seen in watched], TARGET_WINDOW_MS)
    bench.add(2, "hand-over: app window on the screen to progress window gone", "ms",
              [(seen["progress gone"] - seen[APP_TITLE]) * 1e3 for _, seen in watched])
    bench.add(3, "cold start with the window, until the app has ended", "ms",
              [s["window"]["outside_us"] * 1e-3 for s in samples])
    bench.add(3, "cold start without (--no-progress)", "ms", [s["none"]["outside_us"] * 1e-3 for s in samples])
    bench.add(3, "  with / without", "ratio", [s["window"]["outside_us"] / s["none"]["outside_us"] for s in samples])
    log("progress window: removing the unpacked trees")
    remove_tree(root_linux)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    bench = Bench(args.build, args.runs, 1)
    run(bench, args)
    print_table(bench, f"Progress window benchmarks ({bench.runs} rounds)")
    result_file = bench.work / "progress-window.json"
    result_file.write_text(json.dumps({"rows": bench.rows}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")


if __name__ == "__main__":
    main()

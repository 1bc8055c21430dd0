#!/usr/bin/env python3
"""Driver of `make bench`: builds the corpus, packs it, runs the launcher and the floor
programs side by side under Wine, prints one table and writes it as JSON.

Figures are taken in rounds: a round runs the launcher and the floors it is compared with
one after the other (alternating which goes first), and the ratio of a round uses that
round's numbers only; the table shows median, min and max over the rounds.

Corpus (copied again only when a source file changes):
  big   the demo app's orrin.exe (first entry), the first 40 files by name of Wine's
        x86_64-windows folder under dlls\\, and Debian's Python 3.11 standard library under
        lib\\, without __pycache__ folders and symbolic links. The .pyc files are left out
        because Python writes new ones whenever root imports a module that has none, so
        their set differs between machines; the links point elsewhere (one into /etc).
  small the demo app folder alone (orrin.exe, its README and data files).

Floors (bench/*.cpp, Windows programs run under Wine):
  decode  the frame through ZSTD_decompressStream into a 131,072-byte window, output
          dropped, linked with the launcher's decoder library (zstd_decoder); its time
          counts reading the attached data into memory and decoding it.
  write   the entry stream from memory into an empty tree: one CreateDirectoryW per
          directory, CREATE_ALWAYS, WriteFile in 32,768-byte pieces; "opening write" opens
          each file for reading first, as the reuse test does.
  check   open, map and crc32 every file of an intact tree.
  spawn   a CRT-free, KERNEL32-only program that starts the demo app and waits; a second
          build first makes the SHELL32 calls of a launcher start.
Decode, write and check are timed inside the process (QueryPerformanceCounter); the
launcher and the spawn floor from outside (bench-runner: CreateProcessW to end of wait).
So the floor of a start is decode + write (or check) + spawn: the spawn floor adds the one
process start and the child's run that every start of the launcher includes. Warm start and
launch overhead are judged against the spawn floor that makes the SHELL32 calls, which
every start must make; the bare floor is shown for information.

Simultaneous starts (figure 7): 8 launchers of one image created suspended and resumed
together (bench-runner together), timed until the last has ended, into a folder of their
own that is new in every round; compared with the single cold start of the same round, and
with 8 warm starts of an intact tree at once, which is what the followers of one writer
cannot avoid (each decodes the whole stream and checks every file).

Host figures (6, 8): talvik pack at its defaults (jobs on every core) and with --threads 1
against zstd's own tool, one job, on the same entry stream (time from wait4, peak resident
memory from GNU time; --pack-only runs these alone), and the image-writing step alone (talvik pack
--attached-data around the big corpus's ready block) against copying the image once (cp).
"""

import argparse
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time
from pathlib import Path

WINE = "/usr/lib/wine/wine64"
WINE_DLLS = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")
WINE_DLL_COUNT = 40
PYTHON_LIB = Path("/usr/lib/python3.11")
# talvik pack's default level, used for the zstd tool too.
PACK_LEVEL = 19
SMALL_WINDOW_LOG = 23
# Memory counters are sampled this often while a launcher runs (milliseconds).
MEMORY_POLL_MS = 1
# Best of this many decodes inside one decode floor process, to take the decoder's speed.
DECODE_REPEAT = 3
MIB = 1 << 20
PAGE = 4096

TARGET_START_RATIO = 1.10
# Simultaneous cold starts of one image into one folder, against one cold start.
CROWD_SIZE = 8
TARGET_CROWD_RATIO = 1.5
# An image less its attached data; 96 KiB until the progress window of a slow windowed start
# added about 4.5 KB of code, 100 KiB until the stamp of every tree, its in-use mark and the
# removal of old trees added as much again.
TARGET_STUB_BYTES = 104 * 1024
TARGET_DECODE_SPEED = 0.95
TARGET_MEMORY_SLACK = 4 * MIB
# talvik pack at its defaults (jobs on every core) against the zstd tool's one job.
TARGET_PACK_TIME = 0.65
TARGET_PACK_MEMORY_SLACK = 64 * MIB
TARGET_WRITE_TIME = 2.0
TARGET_PACK_SIZE = 0.01

DECODER_BUILDS = ["full", "o3-x1", "o3-short", "o3-x1-short", "o2", "o2-x1-short", "o2-x1-short-cold-os",
                  "o3-x1-short-cold-os", "o2-x1-short-nobmi2", "o3-x1-short-nobmi2-cold-os", "os-x1-short",
                  "o2-noinline"]


def log(text):
    print(text, file=sys.stderr, flush=True)


def windows_path(path):
    """Wine's drive Z: shows the whole Linux tree."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def command_line(*arguments):
    return " ".join('"' + a + '"' if " " in a or not a else a for a in arguments)


def parse_values(text, as_text=False):
    values = {}
    for line in text.splitlines():
        key, sep, value = line.strip().partition("=")
        if not sep or not key.replace("_", "").isalnum():
            continue
        if as_text:
            values[key] = value
            continue
        try:
            values[key] = int(value)
        except ValueError:
            pass
    return values


def pe_sections(path):
    """(name, raw data offset, raw data size) of each section of a PE image."""
    with open(path, "rb") as image:
        head = image.read(4096)
    pe = struct.unpack_from("<I", head, 0x3C)[0]
    count, = struct.unpack_from("<H", head, pe + 6)
    optional_size, = struct.unpack_from("<H", head, pe + 20)
    sections = []
    for index in range(count):
        at = pe + 24 + optional_size + 40 * index
        raw_size, raw_offset = struct.unpack_from("<II", head, at + 16)
        sections.append((head[at:at + 8].rstrip(b"\0").decode(), raw_offset, raw_size))
    return sections


def file_offset_in_page(image, offset):
    """How far into a 4096-byte page of the file the section holding offset begins."""
    for _, raw_offset, raw_size in pe_sections(image):
        if raw_offset <= offset < raw_offset + raw_size:
            return raw_offset % PAGE
    raise SystemExit(f"bench: no section of {image} holds offset {offset}")


def timed(command, report):
    """Wall and CPU seconds (user + system, all threads) and peak resident memory (MiB) of one
    host command. GNU time starts it and reports its peak: a process forked from this Python
    one would count, in its peak, the pages of the parent it started as before its exec."""
    start = time.perf_counter()
    process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", str(report)] + command)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"bench: {command[0]} failed with status {process.returncode}")
    peak_kib = int(Path(report).read_text().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak_kib / 1024


def misalign_attached_data(image, output):
    """A copy of a packed image whose .talvik section (the attached data, first in it) starts
    512 bytes past a page of the file: every section from it on moves 512 bytes further into
    the file, a move the 512-byte file alignment allows. Only file offsets change, so the
    image runs the same; it shows what Wine does with a section that is not page-aligned."""
    data = bytearray(Path(image).read_bytes())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    table = pe + 24 + optional_size
    moved_from = None
    for index in range(count):
        header = table + 40 * index
        if data[header:header + 8].rstrip(b"\0") == b".talvik":
            moved_from, = struct.unpack_from("<I", data, header + 20)
    if moved_from is None:
        raise SystemExit(f"bench: no .talvik section in {image}")
    for index in range(count):
        header = table + 40 * index
        raw_size, raw_offset = struct.unpack_from("<II", data, header + 16)
        if raw_size and raw_offset >= moved_from:
            struct.pack_into("<I", data, header + 20, raw_offset + 512)
    Path(output).write_bytes(data[:moved_from] + bytes(512) + data[moved_from:])


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
    if path.exists():
        raise SystemExit(f"bench: cannot remove {path}")


def tree_size(path):
    files = 0
    size = 0
    for folder, _, names in os.walk(path):
        for name in names:
            files += 1
            size += os.stat(os.path.join(folder, name)).st_size
    return files, size


class Bench:
    def __init__(self, build, runs, pack_runs):
        self.build = Path(build).resolve()
        self.win = self.build / "win"
        self.host = self.build / "host"
        self.work = self.build / "bench"
        self.programs = self.win / "bench"
        self.runs = runs
        self.pack_runs = pack_runs
        self.env = dict(os.environ)
        self.env.setdefault("WINEPREFIX", str(self.build / "wine-prefix"))
        self.env.setdefault("WINEDEBUG", "-all")
        self.env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        self.threads = os.cpu_count() or 1
        self.rows = []
        self.facts = {}

    # ----- Windows-side runs -----

    def wine(self, arguments):
        """bench-runner under Wine. Its output goes through a file, not a pipe: Wine's own
        service processes, started with the first program of a session, inherit the
        standard handles and would hold a pipe open long after the runner has ended."""
        capture = self.work / "runner-output.txt"
        with open(capture, "w") as sink:
            status = subprocess.run([WINE, str(self.programs / "bench-runner.exe")] + arguments, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT).returncode
        return status, capture.read_text(errors="replace")

    def runner_figures(self, mode, arguments, what):
        """bench-runner MODE OUTPUT_FILE ARGUMENTS...: its "key=value" figures and the text
        its children wrote to OUTPUT_FILE."""
        output = self.work / "run-output.txt"
        output.unlink(missing_ok=True)
        status, text = self.wine([mode, windows_path(output)] + arguments)
        figures = parse_values(text)
        if status != 0 or "outside_us" not in figures:
            raise SystemExit(f"bench: the runner failed on {what}:\n{text}")
        return figures, output.read_text(errors="replace") if output.exists() else ""

    def wine_run(self, line, poll_ms=0):
        """One command line through bench-runner: its outside time, exit code and memory
        samples, plus the "key=value" lines the program itself printed (prefixed child_)."""
        figures, child_text = self.runner_figures("run", [str(poll_ms), line], line)
        figures.update({"child_" + key: value for key, value in parse_values(child_text).items()})
        if figures["exit_code"] != 0:
            raise SystemExit(f"bench: {line} ended with {figures['exit_code']:#x}:\n{child_text}")
        return figures

    def wine_together(self, line, count):
        """COUNT processes of one command line started together: the time until the last
        has ended, and the first non-zero exit code among them."""
        figures, child_text = self.runner_figures("together", [str(count), line], f"{count} x {line}")
        if figures["exit_code"] != 0:
            # Counted in the table: a start that fails here is what the figure is about.
            log(f"bench: {figures['failed']} of {count} x {line} failed, first with {figures['exit_code']:#x}: "
                f"{child_text.strip()[:300]}")
        return figures

    def cache_dir(self):
        status, text = self.wine(["where"])
        folder = parse_values(text, as_text=True).get("local_appdata", "")
        if status != 0 or len(folder) < 3 or folder[1:3] != ":\\":
            raise SystemExit(f"bench: no local application-data folder from Wine:\n{text}")
        drive = Path(self.env["WINEPREFIX"]) / "dosdevices" / (folder[0].lower() + ":")
        return folder, Path(os.path.realpath(drive)) / folder[3:].replace("\\", "/")

    # ----- corpus, images and what they carry -----

    def build_corpus(self):
        demo = self.win / "demo-app"
        big = [("orrin.exe", demo / "orrin.exe")]
        dlls = sorted((p for p in WINE_DLLS.iterdir() if p.is_file() and not p.is_symlink()),
                      key=lambda p: os.fsencode(p.name))[:WINE_DLL_COUNT]
        big += [("dlls/" + p.name, p) for p in dlls]
        for folder, subfolders, names in os.walk(PYTHON_LIB):
            subfolders[:] = sorted((d for d in subfolders if d != "__pycache__"), key=os.fsencode)
            for name in sorted(names, key=os.fsencode):
                path = Path(folder) / name
                if path.is_symlink() or not path.is_file():
                    continue
                big.append(("lib/" + str(path.relative_to(PYTHON_LIB)), path))
        small = [(str(p.relative_to(demo)), p) for p in sorted(demo.rglob("*")) if p.is_file()]
        return {"big": self.materialise("big", big), "small": self.materialise("small", small)}

    def materialise(self, name, files):
        folder = self.work / "corpus" / name
        manifest = [[rel, os.stat(src).st_size, os.stat(src).st_mtime_ns] for rel, src in files]
        manifest_file = self.work / "corpus" / (name + ".manifest.json")
        if not (folder.is_dir() and manifest_file.exists() and json.loads(manifest_file.read_text()) == manifest):
            remove_tree(folder)
            for rel, src in files:
                (folder / rel).parent.mkdir(parents=True, exist_ok=True)
                shutil.copyfile(src, folder / rel)
            manifest_file.parent.mkdir(parents=True, exist_ok=True)
            manifest_file.write_text(json.dumps(manifest))
        return {"folder": folder, "files": len(files), "bytes": sum(entry[1] for entry in manifest)}

    def pack(self, corpus, image, template, window_log=None, threads=None):
        command = [str(self.host / "talvik"), "pack", str(corpus), "-o", str(image), "--exe", "orrin.exe",
                   "--template", template, "--product", Path(corpus).name, "--old-trees", "keep", "--quiet"]
        if window_log:
            command += ["--window-log", str(window_log)]
        if threads:
            command += ["--threads", str(threads)]
        return timed(command, self.work / "time-report.txt")

    def pack_on_windows(self, corpus, image, template):
        """talvik.exe under Wine with the options of pack(); wall and CPU time of the Wine
        process (the Wine server, already running, is not counted)."""
        def windows_path(path):
            return "Z:" + str(Path(path).resolve()).replace("/", "\\")
        command = ["/usr/lib/wine/wine64", str(self.win / "talvik.exe"), "pack", windows_path(corpus),
                   "-o", windows_path(image), "--exe", "orrin.exe", "--template", template,
                   "--product", Path(corpus).name, "--quiet"]
        return timed(command, self.work / "time-report.txt")

    def extract(self, image, stem):
        data = self.work / "data"
        data.mkdir(parents=True, exist_ok=True)
        block = data / (stem + ".block")
        stream = data / (stem + ".stream")
        result = subprocess.run([str(self.host / "bench" / "bench-frame"), str(image), str(block), str(stream)],
                                check=True, capture_output=True, text=True)
        info = json.loads(result.stdout)
        info.update(block=block, stream=stream)
        return info

    def zstd_tool(self, stream, output, window_log):
        command = [str(self.host / "bench" / "bench-zstd"), f"-{PACK_LEVEL}", f"-T{self.threads}",
                   f"--zstd=wlog={window_log}", "--no-check", "-q", "-f", str(stream), "-o", str(output)]
        return timed(command, self.work / "time-report.txt")

    # ----- the table -----

    def add(self, figure, name, unit, values, target=None, upper=True):
        row = {"figure": figure, "name": name, "unit": unit, "runs": values,
               "median": statistics.median(values), "min": min(values), "max": max(values)}
        if target is not None:
            row["target"] = target
            row["target_is"] = "at most" if upper else "at least"
            row["met"] = row["median"] <= target if upper else row["median"] >= target
        self.rows.append(row)


def pack_figures(bench, corpora, image, template, on_windows=False):
    """6. talvik pack at its defaults and with --threads 1 against zstd's tool (one job over the
    whole stream) on the same entry stream, round by round in alternating order; the first
    pack's image serves every later figure."""
    pack_times = []
    single_times = []
    zstd_times = []
    big = None
    zstd_output = bench.work / "data" / "big.zst"
    folder = corpora["big"]["folder"]
    for round_index in range(bench.pack_runs):
        log(f"bench: pack round {round_index + 1}/{bench.pack_runs}")
        if big is None:
            pack_times.append(bench.pack(folder, image, template))
            big = bench.extract(image, "big")
            order = ("zstd", "single")
        else:
            order = ("pack", "zstd", "single") if round_index % 2 == 0 else ("single", "zstd", "pack")
        for which in order:
            if which == "pack":
                pack_times.append(bench.pack(folder, image, template))
            elif which == "single":
                single_times.append(bench.pack(folder, bench.work / "images" / "big-threads-1.exe", template,
                                               threads=1))
            else:
                zstd_times.append(bench.zstd_tool(big["stream"], zstd_output, big["window_log"]))
    # talvik.exe on the same corpus under Wine, for information: Wine's file and thread calls
    # are in the way. Its image must be the Linux tool's, byte for byte.
    windows_pack_times = []
    windows_image_same = None
    if on_windows:
        for round_index in range(min(bench.pack_runs, 2)):
            log(f"bench: talvik.exe pack round {round_index + 1}")
            windows_pack_times.append(bench.pack_on_windows(folder, image.parent / "big-windows.exe", template))
        windows_image_same = (image.parent / "big-windows.exe").read_bytes() == image.read_bytes()
    return {"big": big, "pack": pack_times, "single": single_times, "zstd": zstd_times,
            "windows": windows_pack_times, "windows_image_same": windows_image_same,
            "zstd_size": zstd_output.stat().st_size,
            "single_size": bench.extract(bench.work / "images" / "big-threads-1.exe", "big-threads-1")[
                "attached_data_length"]}


def add_pack_rows(bench, pack):
    big, pack_times, single_times, zstd_times = pack["big"], pack["pack"], pack["single"], pack["zstd"]
    bench.add(6, f"talvik pack (level {PACK_LEVEL}, window 2^{big['window_log']}, {bench.threads} threads)", "s",
              [p[0] for p in pack_times])
    if pack["windows"]:
        bench.add(6, "talvik.exe pack under Wine, the same corpus and options", "s", [p[0] for p in pack["windows"]])
        bench.add(6, "  talvik.exe under Wine / talvik on Linux", "ratio",
                  [w[0] / statistics.median(p[0] for p in pack_times) for w in pack["windows"]])
    bench.add(6, "zstd 1.5.7 tool on the same entry stream (one job)", "s", [z[0] for z in zstd_times])
    bench.add(6, "pack time / zstd tool time", "ratio",
              [p[0] / z[0] for p, z in zip(pack_times, zstd_times)], TARGET_PACK_TIME)
    bench.add(6, "the same in CPU time (user + system)", "ratio", [p[1] / z[1] for p, z in zip(pack_times, zstd_times)])
    bench.add(6, "talvik pack --threads 1", "s", [p[0] for p in single_times])
    bench.add(6, "--threads 1 / zstd tool time", "ratio", [p[0] / z[0] for p, z in zip(single_times, zstd_times)])
    bench.add(6, "talvik pack peak resident memory", "MiB", [p[2] for p in pack_times])
    bench.add(6, "talvik pack --threads 1 peak resident memory", "MiB", [p[2] for p in single_times])
    bench.add(6, "zstd tool peak resident memory, same level and window", "MiB", [z[2] for z in zstd_times])
    bench.add(6, "talvik pack --threads 1 peak memory above the zstd tool's", "MiB",
              [p[2] - z[2] for p, z in zip(single_times, zstd_times)], TARGET_PACK_MEMORY_SLACK / MIB)
    bench.add(6, "attached data", "bytes", [big["attached_data_length"]])
    bench.add(6, "attached data, --threads 1", "bytes", [pack["single_size"]])
    bench.add(6, "zstd tool output", "bytes", [pack["zstd_size"]])
    bench.add(6, "attached data / zstd output - 1", "ratio", [big["attached_data_length"] / pack["zstd_size"] - 1],
              TARGET_PACK_SIZE)


def run_pack_figures(bench, args):
    """--pack-only: figure 6 alone."""
    bench.work.mkdir(parents=True, exist_ok=True)
    log("bench: corpus")
    corpora = bench.build_corpus()
    images = bench.work / "images"
    images.mkdir(parents=True, exist_ok=True)
    pack = pack_figures(bench, corpora, images / "big.exe", "{CACHE_DIR}\\TalvikBench\\big")
    add_pack_rows(bench, pack)
    bench.facts = {"pack_rounds": bench.pack_runs,
                   "corpus": {name: {"files": c["files"], "bytes": c["bytes"]} for name, c in corpora.items()},
                   "images": {"big": {k: v for k, v in pack["big"].items() if k not in ("block", "stream")}}}


def run_figures(bench, args):
    bench.work.mkdir(parents=True, exist_ok=True)
    log("bench: corpus")
    corpora = bench.build_corpus()
    cache_windows, cache_linux = bench.cache_dir()
    # Every tree lives below this folder, removed before and after the run. Cold runs never
    # delete a tree: each unpacks into a folder of its own ({TIME} in the template, a number
    # for the write floors), since the file system here discards freed blocks and a deletion
    # just before a timed run would slow it.
    root_windows = cache_windows + "\\TalvikBench"
    root_linux = cache_linux / "TalvikBench"
    remove_tree(root_linux)
    images = bench.work / "images"
    images.mkdir(parents=True, exist_ok=True)

    def template(name):
        return "{CACHE_DIR}\\TalvikBench\\" + name

    pack = pack_figures(bench, corpora, images / "big.exe", template("big"), on_windows=True)
    big = pack["big"]

    log("bench: small, window-log 23 and cold-start images")
    bench.pack(corpora["small"]["folder"], images / "small.exe", template("small"))
    small = bench.extract(images / "small.exe", "small")
    w23_pack_time = bench.pack(corpora["big"]["folder"], images / "big-w23.exe", template("big-w23"),
                               SMALL_WINDOW_LOG)[0]
    w23 = bench.extract(images / "big-w23.exe", "big-w23")

    def write_around(block, image, name):
        command = [str(bench.host / "talvik"), "pack", "--attached-data", str(block), "-o", str(image),
                   "--template", template(name), "--product", "big", "--old-trees", "keep", "--quiet"]
        return timed(command, bench.work / "time-report.txt")

    write_around(big["block"], images / "big-cold.exe", "cold-big-{TIME}")
    write_around(w23["block"], images / "big-w23-cold.exe", "cold-w23-{TIME}")
    # Wine maps a section of an image from the file only when the section begins at a page
    # boundary of the file; any other it reads into private memory. talvik pack starts the
    # attached data's section on a page; copies whose section starts 512 bytes later show the
    # other case.
    in_page = file_offset_in_page(images / "big.exe", big["attached_data_offset"])
    other_case = "page-aligned" if in_page else "not page-aligned"
    misalign_attached_data(images / "big-cold.exe", images / "big-cold-other.exe")
    misalign_attached_data(images / "big-w23-cold.exe", images / "big-w23-cold-other.exe")
    other = bench.extract(images / "big-cold-other.exe", "big-other")
    if (file_offset_in_page(images / "big-cold-other.exe", other["attached_data_offset"]) == 0) == (in_page == 0):
        log("bench: the moved image did not change the alignment of its attached data section")
    other_stub_bytes = other["image_size"] - other["attached_data_length"]

    # 8. The image-writing step alone: talvik pack around the ready attached data of the big
    # corpus, against copying the finished image once (cp, which lets the kernel copy).
    log("bench: image writing")
    write_times = []
    copy_times = []
    for round_index in range(bench.runs):
        for which in (("write", "copy") if round_index % 2 == 0 else ("copy", "write")):
            os.sync()
            if which == "write":
                write_times.append(write_around(big["block"], images / "big-written.exe", "big"))
            else:
                copy_times.append(timed(["cp", str(images / "big.exe"), str(images / "big-copied.exe")],
                                        bench.work / "time-report.txt"))

    # Simultaneous cold starts need one empty folder shared by all of them, new in every
    # round: an image per round (the warm-up's included) with a fixed folder of its own.
    crowd_images = []
    for round_index in range(bench.runs + 1):
        crowd_images.append(images / f"big-crowd-{round_index}.exe")
        write_around(big["block"], crowd_images[-1], f"crowd-{round_index}")

    programs = bench.programs
    small_orrin = root_windows + "\\small\\orrin.exe"
    tree_floor = windows_path(programs / "bench-tree-floor.exe")
    stream = windows_path(big["stream"])
    lines = {
        "launcher_cold": windows_path(images / "big-cold.exe"),
        "launcher_warm": windows_path(images / "big.exe"),
        "launcher_small": windows_path(images / "small.exe"),
        "decode": command_line(windows_path(programs / "bench-decode-floor.exe"), windows_path(big["block"]),
                               str(DECODE_REPEAT)),
        "decode_full": command_line(windows_path(programs / "bench-decode-full.exe"), windows_path(big["block"]),
                                    str(DECODE_REPEAT)),
        "spawn": command_line(windows_path(programs / "bench-spawn-floor.exe"), small_orrin),
        "spawn_shell32": command_line(windows_path(programs / "bench-spawn-shell32-floor.exe"), small_orrin),
    }
    write_trees = []

    def tree_floor_run(mode):
        if mode != "check":
            write_trees.append(f"{root_windows}\\floor-write-{len(write_trees)}")
        return bench.wine_run(command_line(tree_floor, mode, stream, write_trees[-1]))

    crowd_runs = []

    def step(name):
        # Nothing written before stays dirty in the page cache to be flushed during a run.
        os.sync()
        if name in ("write", "probe_write", "check"):
            return tree_floor_run(name.replace("_", "-"))
        if name == "crowd_cold":
            crowd_runs.append(windows_path(crowd_images[len(crowd_runs)]))
            return bench.wine_together(crowd_runs[-1], CROWD_SIZE)
        if name == "crowd_warm":
            return bench.wine_together(lines["launcher_warm"], CROWD_SIZE)
        return bench.wine_run(lines[name])

    # Each launcher run stands next to the floor it is compared with most closely, so that a
    # drift of the machine touches both; the two swap places every other round. The check
    # floor runs on the tree the last write floor left, the warm launcher on big.exe's tree.
    pairs = [("launcher_cold", "probe_write"), ("decode", "write"), ("launcher_warm", "check"),
             ("launcher_small", "spawn"), ("spawn_shell32", "decode_full"), ("crowd_cold", "crowd_warm")]
    log("bench: warm-up")
    bench.wine_run(lines["launcher_small"])
    for pair in pairs:
        for name in pair:
            step(name)
    for folder in ("big", "crowd-0"):
        files, _ = tree_size(root_linux / folder)
        # Beside the entries: the lock file that the first start wrote them under, and the
        # stamp it left of them.
        files -= sum((root_linux / folder / name).is_file() for name in (".talvik-lock", ".talvik-stamp"))
        if files != big["entries"]:
            raise SystemExit(f"bench: the launcher unpacked {files} files into {folder}, the stream has "
                             f"{big['entries']}")

    samples = []
    for round_index in range(bench.runs):
        log(f"bench: start round {round_index + 1}/{bench.runs}")
        sample = {}
        for pair in pairs:
            for name in pair if round_index % 2 == 0 else reversed(pair):
                sample[name] = step(name)
        if sample["check"]["child_mismatches"] != 0:
            raise SystemExit("bench: the check floor found a damaged tree")
        samples.append(sample)

    log("bench: memory")
    memory = []
    memory_images = {"default": "big-cold", "w23": "big-w23-cold", "default_other": "big-cold-other",
                     "w23_other": "big-w23-cold-other"}
    for round_index in range(bench.runs):
        sample = {}
        for key, stem in memory_images.items():
            os.sync()
            sample[key] = bench.wine_run(windows_path(images / (stem + ".exe")), MEMORY_POLL_MS)
        sample["bare"] = bench.wine_run(lines["spawn"], MEMORY_POLL_MS)
        memory.append(sample)
    log("bench: removing the unpacked trees")
    remove_tree(root_linux)

    ms = 1e-3

    def inside(sample, step, key):
        return sample[step]["child_" + key] * ms

    def outside(sample, step):
        return sample[step]["outside_us"] * ms

    def decode_floor(s):
        return inside(s, "decode", "load_us") + inside(s, "decode", "first_us")

    # 1. Cold start.
    cold = [outside(s, "launcher_cold") for s in samples]
    bench.add(1, "launcher, cold start (empty target directory)", "ms", cold)
    bench.add(1, "decode floor: read attached data + decode once", "ms", [decode_floor(s) for s in samples])
    bench.add(1, "write floor (inside)", "ms", [inside(s, "write", "work_us") for s in samples])
    bench.add(1, "write floor opening each file first, as the reuse test does", "ms",
              [inside(s, "probe_write", "work_us") for s in samples])
    bench.add(1, "spawn floor (outside: own start + demo app run)", "ms", [outside(s, "spawn") for s in samples])
    bench.add(1, "cold / (decode + write + spawn floors)", "ratio",
              [outside(s, "launcher_cold") /
               (decode_floor(s) + inside(s, "write", "work_us") + outside(s, "spawn")) for s in samples],
              TARGET_START_RATIO)
    bench.add(1, "cold / (decode + opening write + spawn-with-SHELL32 floors)", "ratio",
              [outside(s, "launcher_cold") /
               (decode_floor(s) + inside(s, "probe_write", "work_us") + outside(s, "spawn_shell32"))
               for s in samples])
    bench.add(1, "cold / (decode + write floors, both outside)", "ratio",
              [outside(s, "launcher_cold") / (outside(s, "decode") + outside(s, "write")) for s in samples])
    # 2. Warm start.
    bench.add(2, "launcher, warm start (intact tree)", "ms", [outside(s, "launcher_warm") for s in samples])
    bench.add(2, "check floor (inside)", "ms", [inside(s, "check", "work_us") for s in samples])
    # Every start must make the SHELL32 calls (the command line's split and the folder
    # lookup), so warm start and launch overhead are judged against the floor that makes
    # them; the bare floor stays for information.
    bench.add(2, "warm / (decode + check + spawn floors)", "ratio",
              [outside(s, "launcher_warm") /
               (decode_floor(s) + inside(s, "check", "work_us") + outside(s, "spawn")) for s in samples])
    bench.add(2, "warm / (decode + check + spawn-with-SHELL32 floors)", "ratio",
              [outside(s, "launcher_warm") /
               (decode_floor(s) + inside(s, "check", "work_us") + outside(s, "spawn_shell32")) for s in samples],
              TARGET_START_RATIO)
    bench.add(2, "warm / (decode + check floors, both outside)", "ratio",
              [outside(s, "launcher_warm") / (outside(s, "decode") + outside(s, "check")) for s in samples])
    # 3. Launch overhead.
    bench.add(3, "launcher, small corpus, warm", "ms", [outside(s, "launcher_small") for s in samples])
    bench.add(3, "small launcher / spawn floor", "ratio",
              [outside(s, "launcher_small") / outside(s, "spawn") for s in samples])
    bench.add(3, "spawn floor that also calls SHELL32 as a launcher start does", "ms",
              [outside(s, "spawn_shell32") for s in samples])
    bench.add(3, "small launcher / spawn-with-SHELL32 floor", "ratio",
              [outside(s, "launcher_small") / outside(s, "spawn_shell32") for s in samples], TARGET_START_RATIO)
    # 4. Stub size and decoder speed.
    stub_bytes = big["image_size"] - big["attached_data_length"]
    bench.add(4, "launcher image less its attached data", "bytes", [stub_bytes], TARGET_STUB_BYTES)
    bench.add(4, f"the same, attached data's section {other_case} in the file", "bytes", [other_stub_bytes])
    stream_mb = big["stream_size"] / 1e6
    bench.add(4, "decode speed, launcher's decoder (best of 3)", "MB/s",
              [stream_mb / (s["decode"]["child_decode_us"] * 1e-6) for s in samples])
    bench.add(4, "decode speed, fully optimised decoder (best of 3)", "MB/s",
              [stream_mb / (s["decode_full"]["child_decode_us"] * 1e-6) for s in samples])
    bench.add(4, "launcher's decoder speed / fully optimised", "ratio",
              [s["decode_full"]["child_decode_us"] / s["decode"]["child_decode_us"] for s in samples],
              TARGET_DECODE_SPEED, upper=False)
    # 5. Peak memory. Wine answers PagefileUsage with the process's resident private memory
    # and PeakWorkingSetSize with its peak resident size; both are sampled while it runs.
    def commit_of(counters):
        return max(counters["pagefile"], counters["private_usage"], counters["peak_pagefile"]) / MIB

    bare_ws = [m["bare"]["peak_working_set"] / MIB for m in memory]
    bare_commit = [commit_of(m["bare"]) for m in memory]
    bench.add(5, "bare process (spawn floor): peak working set", "MiB", bare_ws)
    bench.add(5, "bare process (spawn floor): peak commit", "MiB", bare_commit)
    for key, info, label in (("default", big, f"window 2^{big['window_log']}"),
                             ("w23", w23, f"window 2^{SMALL_WINDOW_LOG}"),
                             ("default_other", big, f"window 2^{big['window_log']}, data {other_case}"),
                             ("w23_other", w23, f"window 2^{SMALL_WINDOW_LOG}, data {other_case}")):
        allowance = (min(info["stream_size"], 1 << info["window_log"]) + TARGET_MEMORY_SLACK) / MIB
        if not key.endswith("other"):
            peak_ws = [m[key]["peak_working_set"] / MIB for m in memory]
            bench.add(5, f"peak working set, {label}", "MiB", peak_ws)
            bench.add(5, f"  above the bare process", "MiB", [w - b for w, b in zip(peak_ws, bare_ws)])
            bench.add(5, f"peak commit, {label}", "MiB", [commit_of(m[key]) for m in memory])
        bench.add(5, f"peak commit above the bare process, {label}", "MiB",
                  [commit_of(m[key]) - b for m, b in zip(memory, bare_commit)], allowance)
    add_pack_rows(bench, pack)
    # 7. Simultaneous cold starts into one folder, against one cold start of the same round;
    # as many warm starts at once show what the followers of the one writer cannot avoid
    # (each decodes the whole stream and checks every file).
    bench.add(7, f"{CROWD_SIZE} simultaneous cold starts, until the last child has run", "ms",
              [outside(s, "crowd_cold") for s in samples])
    bench.add(7, f"{CROWD_SIZE} simultaneous cold / one cold start", "ratio",
              [outside(s, "crowd_cold") / outside(s, "launcher_cold") for s in samples], TARGET_CROWD_RATIO)
    bench.add(7, f"launchers of the {CROWD_SIZE} cold ones that failed", "count",
              [s["crowd_cold"]["failed"] for s in samples])
    bench.add(7, f"{CROWD_SIZE} simultaneous warm starts (intact tree)", "ms",
              [outside(s, "crowd_warm") for s in samples])
    bench.add(7, f"{CROWD_SIZE} simultaneous cold / {CROWD_SIZE} simultaneous warm", "ratio",
              [outside(s, "crowd_cold") / outside(s, "crowd_warm") for s in samples])
    # 8. Image writing.
    bench.add(8, "talvik pack --attached-data (big corpus's block)", "ms", [w[0] * 1e3 for w in write_times])
    bench.add(8, "cp of the finished image", "ms", [c[0] * 1e3 for c in copy_times])
    bench.add(8, "image writing / copying the image once", "ratio",
              [w[0] / c[0] for w, c in zip(write_times, copy_times)], TARGET_WRITE_TIME)
    bench.add(8, "talvik pack --attached-data peak resident memory", "MiB", [w[2] for w in write_times])

    bench.facts = {
        "rounds": bench.runs,
        "pack_rounds": bench.pack_runs,
        "wine_server": "kept running with wineserver -p; its start-up is not measured",
        "corpus": {name: {"files": c["files"], "bytes": c["bytes"]} for name, c in corpora.items()},
        "images": {name: {k: v for k, v in info.items() if k not in ("block", "stream")}
                   for name, info in (("big", big), ("small", small), ("big-w23", w23))},
        "w23_pack_seconds": w23_pack_time,
        "talvik_exe_image_same_bytes": pack["windows_image_same"],
        "attached_data_section_offset_in_page": in_page,
        "talvik_stub_exe_bytes": (bench.win / "talvik-stub.exe").stat().st_size,
        "unmapped_files_in_check": samples[0]["check"]["child_unmapped"],
        "memory_samples": [m["default"]["samples"] for m in memory],
        "memory_read_after_exit": [m["default"]["read_after_exit"] for m in memory],
    }


def run_decoder_options(bench, args):
    """Stub size and decode speed of each decoder build in bench/CMakeLists.txt."""
    subprocess.run(["cmake", "--build", str(bench.win), "-j", str(bench.threads), "--target",
                    "bench-decoder-options"], check=True)
    image = bench.work / "images" / "big.exe"
    if not image.exists():
        raise SystemExit("bench: run the figures first (images/big.exe is missing)")
    big = bench.extract(image, "big")
    block = windows_path(big["block"])
    builds = ["launcher"] + DECODER_BUILDS
    if args.decoder_builds:
        builds = ["launcher", "full"] + [name for name in args.decoder_builds.split(",") if name in DECODER_BUILDS
                                         and name != "full"]
    lines = {name: command_line(windows_path(bench.programs / ("bench-decode-floor.exe" if name == "launcher"
                                                             else f"bench-decode-{name}.exe")), block,
                                str(DECODE_REPEAT)) for name in builds}
    for name in builds:
        bench.wine_run(lines[name])
    times = {name: [] for name in builds}
    for round_index in range(bench.runs):
        log(f"bench: decoder round {round_index + 1}/{bench.runs}")
        shift = round_index % len(builds)
        for name in builds[shift:] + builds[:shift]:
            times[name].append(bench.wine_run(lines[name])["child_decode_us"])
    stream_mb = big["stream_size"] / 1e6
    for name in builds:
        stub = bench.win / "talvik-stub.exe" if name == "launcher" else bench.programs / f"stub-{name}.exe"
        ratios = [f / t for f, t in zip(times["full"], times[name])]
        bench.add(4, f"{name}: stub bytes", "bytes", [stub.stat().st_size], TARGET_STUB_BYTES)
        bench.add(4, f"{name}: decode speed", "MB/s", [stream_mb / (t * 1e-6) for t in times[name]])
        bench.add(4, f"{name}: speed / full", "ratio", ratios, TARGET_DECODE_SPEED, upper=False)
    bench.facts = {"rounds": bench.runs, "stream_bytes": big["stream_size"],
                   "note": "stub-<build>.exe: the bare launcher image linked with that decoder and a copy of "
                           "talvik_launcher compiled without -fdata-sections; launcher: talvik-stub.exe as built"}


def format_value(value, unit):
    if unit == "count":
        return f"{value:,.0f}"
    if unit == "bytes":
        return f"{value:,.0f}"
    if unit == "ratio":
        return f"{value:.3f}" if abs(value) >= 0.1 else f"{value:+.4f}"
    return f"{value:,.1f}"


def print_table(bench, title):
    print(title)
    for key, value in bench.facts.items():
        if key in ("wine_server",):
            print(f"  Wine server: {value}")
        if key == "talvik_exe_image_same_bytes":
            print(f"  talvik.exe's image of the big corpus: {'the same bytes as' if value else 'DIFFERENT from'} talvik's")
    corpus = bench.facts.get("corpus")
    if corpus:
        images = bench.facts["images"]
        print(f"  corpus big: {corpus['big']['bytes'] / 1e6:.1f} MB in {corpus['big']['files']} files; entry stream "
              f"{images['big']['stream_size']:,} bytes, attached data {images['big']['attached_data_length']:,} "
              f"bytes, window 2^{images['big']['window_log']}; small: {corpus['small']['files']} files, "
              f"{corpus['small']['bytes']:,} bytes")
    header = f"{'#':>2} {'measurement':<58} {'unit':>6} {'median':>12} {'min':>12} {'max':>12}  target"
    print(header)
    print("-" * len(header))
    for row in bench.rows:
        target = ""
        if "target" in row:
            mark = "met" if row["met"] else "MISSED"
            sign = "<=" if row["target_is"] == "at most" else ">="
            target = f"{sign} {format_value(row['target'], row['unit'])}  {mark}"
        print(f"{row['figure']:>2} {row['name']:<58} {row['unit']:>6} {format_value(row['median'], row['unit']):>12} "
              f"{format_value(row['min'], row['unit']):>12} {format_value(row['max'], row['unit']):>12}  {target}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="the build folder (host/, win/, wine-prefix/)")
    parser.add_argument("--runs", type=int, default=5, help="rounds of every launcher and floor figure")
    parser.add_argument("--pack-runs", type=int, default=5, help="rounds of talvik pack against the zstd tool")
    parser.add_argument("--pack-only", action="store_true", help="only the pack figures (6)")
    parser.add_argument("--decoder-options", action="store_true",
                        help="instead: stub size and decode speed of each decoder build")
    parser.add_argument("--decoder-builds", help="with --decoder-options: only these builds (comma-separated)")
    args = parser.parse_args()
    if args.runs < 1 or args.pack_runs < 1:
        parser.error("--runs and --pack-runs take at least 1")
    bench = Bench(args.build, args.runs, args.pack_runs)
    if args.decoder_options:
        run_decoder_options(bench, args)
        result_file = bench.work / "decoder-options.json"
        title = f"Decoder builds: stub size and decode speed ({bench.runs} rounds, best of {DECODE_REPEAT} each)"
    elif args.pack_only:
        run_pack_figures(bench, args)
        result_file = bench.work / "pack-results.json"
        title = f"Talvik pack benchmarks ({bench.pack_runs} rounds)"
    else:
        run_figures(bench, args)
        result_file = bench.work / "results.json"
        title = f"Talvik benchmarks ({bench.runs} rounds; pack: {bench.pack_runs} rounds)"
    print_table(bench, title)
    result_file.write_text(json.dumps({"facts": bench.facts, "rows": bench.rows}, indent=2, default=str) + "\n")
    print(f"written: {result_file}")
    missed = [row["name"] for row in bench.rows if row.get("met") is False]
    if missed:
        print(f"targets missed: {len(missed)} (see bench/README.md for the analysis)")


if __name__ == "__main__":
    main()

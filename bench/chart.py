#!/usr/bin/env python3
"""Draws the start and pack figures of `make bench` as one chart: each measured time beside
the floor it is judged against, so that how near a figure sits to its floor can be seen.

    /usr/bin/python3 bench/chart.py build/bench/results.json build/bench/reuse-check.json -o figures.svg

(Debian's interpreter: matplotlib is Debian's python3-matplotlib, which scripts/setup.sh
installs.)

Reads the JSON that bench.py and reuse_check.py write (any number of files; their rows are
taken together) and writes an SVG or PNG (by the output's extension). Nothing is measured,
so a saved results file can be drawn again. Rows are found by their names in those scripts;
a row a run did not take (--pack-only, --reuse-check) leaves its bar, ratio or panel out.

Bars are medians over the rounds, whiskers the min-max range: of a measured time, or of a
floor's per-round sum. A floor's bar is its parts' medians stacked. A dashed mark on a
measured bar is its target: the ratio's limit times the floor's stacked median (the table
judges the median of the per-round ratios, which the text beside the bar gives).
"""

import argparse
import json
import re
import statistics
import sys
from dataclasses import dataclass, field
from pathlib import Path


@dataclass
class Part:
    """One piece of a floor: a row, less the rows in minus (a total that holds them)."""
    label: str
    row: str
    minus: tuple = ()


@dataclass
class Bar:
    key: str
    label: str
    parts: list
    measured: bool = True


@dataclass
class Ratio:
    """The row holding numerator / denominator, two bars of the same panel."""
    row: str
    numerator: str
    denominator: str
    short: str


@dataclass
class Panel:
    title: str
    bars: list
    ratios: list = field(default_factory=list)


def measured(key, label, row):
    return Bar(key, label, [Part(label, row)])


def floor(key, label, *parts):
    return Bar(key, label, list(parts), measured=False)


# Row names, as regular expressions matched against the whole (stripped) name.
DECODE = Part("decode", r"decode floor: read attached data \+ decode once")
WRITE = Part("write", r"write floor \(inside\)")
OPENING_WRITE = Part("opening write", r"write floor opening each file first, as the reuse test does")
CHECK = Part("check", r"check floor \(inside\)")
SPAWN = Part("spawn", r"spawn floor \(outside: own start \+ demo app run\)")
SPAWN_SHELL32 = Part("spawn with SHELL32", r"spawn floor that also calls SHELL32 as a launcher start does")
COLD = r"launcher, cold start \(empty target directory\)"
# A launcher run that another is compared with, standing in for a floor.
REFERENCE = "launcher run as reference"

PANELS = [
    Panel("Cold start (big corpus, empty folder)",
          [measured("cold", "launcher, cold start", COLD),
           floor("floor", "floor", DECODE, WRITE, SPAWN),
           floor("shell32", "floor with SHELL32", DECODE, OPENING_WRITE, SPAWN_SHELL32)],
          [Ratio(r"cold / \(decode \+ write \+ spawn floors\)", "cold", "floor", "floor"),
           Ratio(r"cold / \(decode \+ opening write \+ spawn-with-SHELL32 floors\)", "cold", "shell32",
                 "floor with SHELL32")]),
    Panel("Warm start (big corpus, intact tree)",
          [measured("warm", "launcher, warm start", r"launcher, warm start \(intact tree\)"),
           floor("floor", "floor", DECODE, CHECK, SPAWN),
           floor("shell32", "floor with SHELL32", DECODE, CHECK, SPAWN_SHELL32)],
          [Ratio(r"warm / \(decode \+ check \+ spawn floors\)", "warm", "floor", "floor"),
           Ratio(r"warm / \(decode \+ check \+ spawn-with-SHELL32 floors\)", "warm", "shell32",
                 "floor with SHELL32")]),
    Panel("Launch overhead (small corpus, warm)",
          [measured("small", "launcher, small corpus", r"launcher, small corpus, warm"),
           floor("floor", "floor", SPAWN),
           floor("shell32", "floor with SHELL32", SPAWN_SHELL32)],
          [Ratio(r"small launcher / spawn floor", "small", "floor", "floor"),
           Ratio(r"small launcher / spawn-with-SHELL32 floor", "small", "shell32", "floor with SHELL32")]),
    Panel("Simultaneous starts (big corpus)",
          [measured("crowd", "{0} simultaneous cold starts",
                    r"(\d+) simultaneous cold starts, until the last child has run"),
           measured("crowd_warm", "{0} simultaneous warm starts", r"(\d+) simultaneous warm starts \(intact tree\)"),
           floor("one", "one cold start", Part(REFERENCE, COLD))],
          [Ratio(r"\d+ simultaneous cold / one cold start", "crowd", "one", "one cold start"),
           Ratio(r"\d+ simultaneous cold / \d+ simultaneous warm", "crowd", "crowd_warm", "the warm ones")]),
    Panel("Pack (big corpus)",
          [measured("pack", "talvik pack, {0} threads",
                    r"talvik pack \(level \d+, window 2\^\d+, (\d+) threads?\)"),
           measured("single", "talvik pack --threads 1", r"talvik pack --threads 1"),
           measured("windows", "talvik.exe pack under Wine",
                    r"talvik\.exe pack under Wine, the same corpus and options"),
           floor("zstd", "zstd tool, one job",
                 Part("zstd tool", r"zstd [\d.]+ tool on the same entry stream \(one job\)"))],
          [Ratio(r"pack time / zstd tool time", "pack", "zstd", "zstd tool"),
           Ratio(r"--threads 1 / zstd tool time", "single", "zstd", "zstd tool"),
           Ratio(r"talvik\.exe under Wine / talvik on Linux", "windows", "pack", "talvik on Linux")]),
    Panel("Image writing (big corpus's attached data)",
          [measured("write", "talvik pack --attached-data", r"talvik pack --attached-data \(big corpus's block\)"),
           floor("cp", "cp of the image", Part("cp", r"cp of the finished image"))],
          [Ratio(r"image writing / copying the image once", "write", "cp", "cp")]),
]


def reuse_panels(corpus):
    """The reuse check's figures for one corpus, as reuse_check.py labels it ("big (777 files)")."""
    c = re.escape(corpus)
    listing = rf"listing floor alone \(inside\), {c}"
    return [
        Panel(f"Metadata warm start, {corpus}",
              [measured("metadata", "warm start, metadata", rf"warm start, metadata, {c}"),
               floor("floor", "floor", Part("spawn with SHELL32", rf"floor: spawn-with-SHELL32 \+ listing, {c}",
                                            (listing,)),
                     Part("listing", listing)),
               measured("crc", "warm start, crc", rf"warm start, crc, {c}")],
              [Ratio(rf"ratio to the floor, {c}", "metadata", "floor", "floor"),
               Ratio(rf"crc warm / metadata warm, {c}", "crc", "metadata", "metadata warm")]),
        Panel(f"Metadata cold start, {corpus}",
              [measured("metadata", "cold start, metadata", rf"cold start, metadata, {c}"),
               floor("crc", "cold start, crc", Part(REFERENCE, rf"cold start, crc, {c}"))],
              [Ratio(rf"metadata cold / crc cold, {c}", "metadata", "crc", "crc cold")]),
    ]


PART_COLOURS = {
    "decode": "#4c72b0", "write": "#55a868", "opening write": "#8cc99b", "check": "#64b5cd",
    "spawn": "#8172b2", "spawn with SHELL32": "#b7a9df", "listing": "#ccb974", "zstd tool": "#937860",
    "cp": "#da8bc3", REFERENCE: "#a0a0a0",
}
MET, MISSED, NO_TARGET = "#3a923a", "#d0443e", "#5f7f9f"
FALLBACK_COLOUR = "#b0b0b0"


def load_rows(paths):
    rows = []
    for path in paths:
        try:
            data = json.loads(Path(path).read_text())
        except (OSError, ValueError) as error:
            raise SystemExit(f"chart: cannot read {path}: {error}")
        rows += data.get("rows", [])
    return rows


class Rows:
    def __init__(self, rows):
        self.by_name = {row["name"].strip(): row for row in rows}

    def find(self, pattern):
        return self.match(pattern)[0]

    def match(self, pattern):
        """The row whose name matches, and the groups of the match."""
        for name, row in self.by_name.items():
            found = re.fullmatch(pattern, name)
            if found:
                return row, found.groups()
        return None, ()

    def corpora(self):
        """The corpus labels of the reuse check's rows, in their order."""
        found = []
        for name in self.by_name:
            match = re.fullmatch(r"warm start, metadata, (.+)", name)
            if match:
                found.append(match.group(1))
        return found


@dataclass
class Drawn:
    """A bar with its numbers: parts as (label, median), and the range of its per-round totals."""
    bar: Bar
    label: str
    unit: str
    parts: list
    low: float
    high: float
    median: float
    rounds: int
    ratios: list = field(default_factory=list)


def part_runs(rows, part):
    row, _ = rows.match(part.row)
    if row is None:
        return None, None
    runs = list(row["runs"])
    for pattern in part.minus:
        other = rows.find(pattern)
        if other is None or len(other["runs"]) != len(runs):
            return None, None
        runs = [a - b for a, b in zip(runs, other["runs"])]
    return runs, row["unit"]


def resolve(rows, panel):
    """The panel's bars that its rows allow, and the ratios between them; None if no measured
    bar is left."""
    drawn = {}
    for bar in panel.bars:
        found = [part_runs(rows, part) for part in bar.parts]
        if any(runs is None for runs, _ in found):
            continue
        units = {unit for _, unit in found}
        if len(units) != 1:
            continue
        parts = [(part.label, statistics.median(runs)) for part, (runs, _) in zip(bar.parts, found)]
        lengths = {len(runs) for runs, _ in found}
        if len(lengths) == 1:
            totals = [sum(values) for values in zip(*(runs for runs, _ in found))]
        else:
            totals = [sum(median for _, median in parts)]
        label = bar.label.format(*rows.match(bar.parts[0].row)[1])
        drawn[bar.key] = Drawn(bar, label, units.pop(), parts, min(totals), max(totals),
                               sum(median for _, median in parts), max(lengths))
    if not any(d.bar.measured for d in drawn.values()):
        return None
    for ratio in panel.ratios:
        row = rows.find(ratio.row)
        if row is None or ratio.numerator not in drawn or ratio.denominator not in drawn:
            continue
        drawn[ratio.numerator].ratios.append((ratio, row, drawn[ratio.denominator]))
    return [drawn[bar.key] for bar in panel.bars if bar.key in drawn]


def ratio_text(ratio, row):
    text = f"{row['median']:.3f} \u00d7 {ratio.short}"
    if "target" in row:
        sign = "\u2264" if row.get("target_is", "at most") == "at most" else "\u2265"
        text += f" (target {sign} {row['target']:.2f}: {'met' if row.get('met') else 'MISSED'})"
    return text


def value_text(value, unit):
    if unit == "s":
        return f"{value:,.1f}"
    return f"{value:,.0f}"


def draw(panels, output):
    import matplotlib
    matplotlib.use("svg" if output.suffix == ".svg" else "agg")
    # Text stays text in the SVG (searchable, smaller), and ids and metadata do not change
    # from one drawing of the same numbers to the next.
    matplotlib.rcParams.update({"svg.fonttype": "none", "svg.hashsalt": "talvik-bench", "font.size": 8})
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch

    # Inches: a bar's row, a panel's title and axis, the legend above them all.
    row, frame, head = 0.36, 0.75, 1.0
    heights = [len(bars) * row for _, bars in panels]
    total = head + sum(heights) + frame * len(panels)
    figure = Figure(figsize=(11, total))
    # hspace is in units of the mean axes height.
    grid = figure.add_gridspec(len(panels), 1, height_ratios=heights, hspace=frame * len(panels) / sum(heights),
                               left=0.19, right=0.98, top=1 - head / total, bottom=0.45 / total)
    used_parts = []
    for index, (panel, bars) in enumerate(panels):
        axes = figure.add_subplot(grid[index])
        unit = next(d.unit for d in bars if d.bar.measured)
        def target_marks(d):
            return [row["target"] * denominator.median for _, row, denominator in d.ratios if "target" in row]

        widest = max(max([d.high, d.median] + target_marks(d)) for d in bars)
        for y, d in enumerate(bars):
            if d.bar.measured:
                targets = [row.get("met") for _, row, _ in d.ratios if "target" in row]
                colour = NO_TARGET if not targets else MET if all(targets) else MISSED
                axes.barh(y, d.median, height=0.6, color=colour)
            else:
                left = 0.0
                for label, median in d.parts:
                    axes.barh(y, median, left=left, height=0.6, color=PART_COLOURS.get(label, FALLBACK_COLOUR),
                              edgecolor="white", linewidth=0.5)
                    left += median
                    if label not in used_parts:
                        used_parts.append(label)
            # Centred on the range: a floor's stacked medians may lie outside its rounds' sums.
            if d.high > d.low:
                axes.errorbar((d.low + d.high) / 2, y, xerr=(d.high - d.low) / 2, fmt="none", ecolor="black",
                              elinewidth=0.8, capsize=3)
            for at in target_marks(d):
                axes.plot([at, at], [y - 0.42, y + 0.42], color="black", linestyle="--", linewidth=1.2)
            text = f"{value_text(d.median, unit)} {unit}"
            if d.high > d.low:
                text += f" ({value_text(d.low, unit)}\u2013{value_text(d.high, unit)})"
            notes = "; ".join(ratio_text(ratio, row) for ratio, row, _ in d.ratios)
            axes.text(max([d.high, d.median] + target_marks(d)) + widest * 0.015, y,
                      text + ("\n" + notes if notes else ""), va="center", fontsize=7, linespacing=1.1)
        axes.set_yticks(range(len(bars)), [d.label for d in bars])
        axes.set_xlim(0, widest * 1.75)
        axes.set_ylim(len(bars) - 0.5, -0.5)
        axes.set_xlabel(unit, labelpad=1)
        rounds = max(d.rounds for d in bars)
        axes.set_title(f"{panel.title}, {rounds} round{'s' if rounds > 1 else ''}", loc="left", fontsize=9,
                       fontweight="bold")
        axes.spines[["top", "right"]].set_visible(False)
        axes.grid(axis="x", linewidth=0.4, alpha=0.5)
        axes.set_axisbelow(True)

    handles = [Patch(color=MET, label="measured, target met"), Patch(color=MISSED, label="measured, target missed"),
               Patch(color=NO_TARGET, label="measured, no target")]
    handles += [Patch(color=PART_COLOURS.get(label, FALLBACK_COLOUR), label=label) for label in used_parts]
    handles.append(Line2D([], [], color="black", linestyle="--", label="target (limit \u00d7 floor)"))
    figure.legend(handles=handles, loc="upper center", ncol=min(len(handles), 7), fontsize=7.5, frameon=False,
                  bbox_to_anchor=(0.5, 1 - 0.3 / total))
    figure.suptitle("Talvik benchmarks: measured times beside their floors (bars: medians; whiskers: min-max)",
                    x=0.02, ha="left", y=1 - 0.1 / total, va="top", fontsize=10, fontweight="bold")
    figure.savefig(output, metadata={"Date": None} if output.suffix == ".svg" else None)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("results", nargs="+", help="results.json, pack-results.json, reuse-check.json")
    parser.add_argument("-o", "--output", required=True, help="the chart to write (.svg or .png)")
    args = parser.parse_args()
    output = Path(args.output)
    if output.suffix not in (".svg", ".png"):
        parser.error("the output must end in .svg or .png")
    rows = Rows(load_rows(args.results))
    wanted = PANELS + [panel for corpus in rows.corpora() for panel in reuse_panels(corpus)]
    panels = []
    left_out = []
    for panel in wanted:
        bars = resolve(rows, panel)
        if bars is None:
            left_out.append(panel.title)
        else:
            panels.append((panel, bars))
    if not panels:
        raise SystemExit(f"chart: no start or pack figures in {', '.join(args.results)}")
    draw(panels, output)
    if left_out:
        print(f"chart: not in the results, left out: {'; '.join(left_out)}", file=sys.stderr)
    print(f"written: {output}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Sums up bench/results/ (written by run-benchmarks.sh) as Markdown.

Times: min, median and max over the rounds. Ratios are taken pair by pair:
in each round the two contenders ran within the same rotation, so the ratio
of their two times is taken round by round, and its min, median and max
reported.
"""

import statistics
import sys
from collections import defaultdict
from pathlib import Path

# (numerator, denominator, what the ratio means, goal as (op, value) or None)
TIME_RATIOS = [
    ("window_none", "floor1_none", "window path / floor 1, filter None", ("<=", 1.10)),
    ("window_bilinear", "floor1_bilinear", "window path / floor 1, bilinear", ("<=", 1.10)),
    ("fast_none", "floor2_none", "--fast / floor 2, filter None", ("<=", 1.10)),
    ("fast_bilinear", "floor2_bilinear", "--fast / floor 2, bilinear", ("<=", 1.10)),
    ("vipsthumbnail", "fast_none", "vipsthumbnail / --fast (throughput of --fast over vips)", (">=", 1.7)),
    ("im_convert", "fast_none", "convert -thumbnail / --fast", (">=", 5.0)),
    ("im_mogrify", "fast_none", "mogrify -thumbnail / --fast", None),
    ("gm_mogrify", "fast_none", "gm mogrify -thumbnail / --fast", None),
    ("default", "vipsthumbnail", "pixquill-batch default / vipsthumbnail", None),
    ("vipsthumbnail", "floor2_none", "vipsthumbnail / floor 2", None),
    ("baseline_none", "floor1_none", "baseline window path / floor 1, filter None", None),
    ("baseline_bilinear", "floor1_bilinear", "baseline window path / floor 1, bilinear", None),
]
PEAK_RATIOS = [
    ("window_none", "floor1_none", "window path / floor 1, filter None", ("<=", 1.10)),
    ("window_bilinear", "floor1_bilinear", "window path / floor 1, bilinear", ("<=", 1.10)),
    ("baseline_none", "floor1_none", "baseline window path / floor 1, filter None", None),
    ("baseline_bilinear", "floor1_bilinear", "baseline window path / floor 1, bilinear", None),
]


def verdict(value, goal):
    if goal is None:
        return ""
    op, limit = goal
    ok = value <= limit if op == "<=" else value >= limit
    return f"{op} {limit:.2f}: {'met' if ok else 'MISSED'}"


def main(folder):
    folder = Path(folder)
    rows = [line.split("\t") for line in (folder / "raw.tsv").read_text().splitlines()[1:] if line]
    times = defaultdict(dict)  # (set, contender) -> {round: seconds}
    peaks = defaultdict(dict)
    counts = defaultdict(set)
    for set_name, contender, rnd, seconds, peak, files in rows:
        times[(set_name, contender)][int(rnd)] = float(seconds)
        peaks[(set_name, contender)][int(rnd)] = int(peak) / 1024.0
        counts[(set_name, contender)].add(int(files))
    sets = sorted({key[0] for key in times}, key=lambda s: (s != "jpeg", s))
    out = []
    print_ = out.append
    for set_name in sets:
        print_(f"### Set \"{set_name}\"\n")
        print_("| contender | min s | median s | max s | median peak MiB | files written |")
        print_("|---|---:|---:|---:|---:|---:|")
        for (s, contender), by_round in times.items():
            if s != set_name:
                continue
            values = list(by_round.values())
            print_(f"| {contender} | {min(values):.3f} | {statistics.median(values):.3f} | {max(values):.3f} "
                   f"| {statistics.median(peaks[(s, contender)].values()):.1f} "
                   f"| {'/'.join(str(c) for c in sorted(counts[(s, contender)]))} |")
        print_("")
        print_("| ratio (pair by pair) | min | median | max | goal |")
        print_("|---|---:|---:|---:|---|")
        for table, source in (("time", TIME_RATIOS), ("peak memory", PEAK_RATIOS)):
            data = times if table == "time" else peaks
            for a, b, what, goal in source:
                ta, tb = data.get((set_name, a)), data.get((set_name, b))
                if not ta or not tb:
                    continue
                ratios = [ta[r] / tb[r] for r in ta if r in tb and tb[r] > 0]
                med = statistics.median(ratios)
                print_(f"| {table}: {what} | {min(ratios):.2f} | {med:.2f} | {max(ratios):.2f} | {verdict(med, goal)} |")
        print_("")
    for name, title in (("psnr.txt", "--fast against the full decode (set filter format: sizes, PSNR dB)"),
                        ("soak.txt", "Resident memory over 1,000 images"),
                        ("startup.txt", "Start-up, launch to mapped window"),
                        ("machine.txt", "Machine")):
        path = folder / name
        if path.exists():
            print_(f"### {title}\n\n```\n{path.read_text().rstrip()}\n```\n")
    startup = folder / "startup.txt"
    if startup.exists():
        ms = [int(line.split()[2]) for line in startup.read_text().splitlines() if line.startswith("run ")]
        if ms:
            print_(f"start-up: min {min(ms)} ms, median {statistics.median(ms):.0f} ms, max {max(ms)} ms "
                   f"({verdict(statistics.median(ms), ('<=', 500))})\n")
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "bench/results")

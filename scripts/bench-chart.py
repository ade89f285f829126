#!/usr/bin/python3
"""Turns the FIGURE lines of bench-media-source and bench-sources into the
README's table (Markdown, on standard output) and chart (a PNG).

    bench-chart.py FIGURES_FILE CHART_PNG

A FIGURE line is FIGURE|round|source|name|value."""

import sys
from collections import defaultdict

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def read(path):
    figures = defaultdict(dict)
    with open(path) as f:
        for line in f:
            parts = line.strip().split("|")
            if len(parts) == 5 and parts[0] == "FIGURE":
                figures[(parts[1], parts[2])][parts[3]] = float(parts[4])
    return figures


def ms(v):
    return "%.2f" % v if v < 10 else "%.0f" % v


def comparison_rows(figures):
    """Round 'lowest' gives Ostrelin and the Media Source at its lowest
    latency; round 'defaults' the Media Source at its defaults."""
    rows = []
    for round_name, source in (
        ("lowest", "Ostrelin"),
        ("lowest", "Media Source, lowest latency"),
        ("defaults", "Media Source, defaults"),
    ):
        f = figures.get((round_name, source))
        if f:
            rows.append((source, f))
    return rows


def table(figures):
    out = [
        "| Source | Hand-off median / p90 / p99 (ms) | At OBS's tick median / p90 / p99 (ms) "
        "| First picture (ms) | Shown of sent | CPU (% of a core) |",
        "|---|---|---|---|---|---|",
    ]
    for source, f in comparison_rows(figures):
        out.append(
            "| %s | %s / %s / %s | %s / %s / %s | %.0f | %d of %d | %.1f |"
            % (
                source,
                ms(f["handoff_median_ms"]), ms(f["handoff_p90_ms"]), ms(f["handoff_p99_ms"]),
                ms(f["tick_median_ms"]), ms(f["tick_p90_ms"]), ms(f["tick_p99_ms"]),
                f["first_picture_ms"], f["shown"], f["sent"], f["cpu_percent"],
            )
        )
    out.append("")
    out.append("| Ostrelin sources at once | Hand-off median per source (ms) | Pictures handed over per source "
               "(fps) | Plug-in CPU, all sources (% of a core) |")
    out.append("|---|---|---|---|")
    for n in (1, 2, 4):
        per = [figures.get(("sources-%d" % n, "source %d" % (i + 1))) for i in range(n)]
        total = figures.get(("sources-%d" % n, "all"))
        if not total or not all(per):
            continue
        out.append("| %d | %s | %s | %.1f |" % (
            n,
            ", ".join(ms(p["handoff_median_ms"]) for p in per),
            ", ".join("%.1f" % p["fps"] for p in per),
            total["cpu_percent"],
        ))
    idle = figures.get(("idle", "unreachable"))
    if idle:
        out.append("")
        out.append("An enabled source that cannot reach its phone: %.3f %% of a core, %.1f wake-ups a second."
                   % (idle["cpu_percent"], idle["wakeups_per_s"]))
    return "\n".join(out)


def chart(figures, path):
    rows = comparison_rows(figures)
    fig, (left, middle, right) = plt.subplots(1, 3, figsize=(13, 4.2), gridspec_kw={"width_ratios": [3, 1.4, 1.6]})
    colours = ["#2a7ab0", "#d98c2b", "#a33b3b"]

    labels = ["hand-off\nmedian", "hand-off\np99", "at tick\nmedian", "at tick\np99"]
    keys = ["handoff_median_ms", "handoff_p99_ms", "tick_median_ms", "tick_p99_ms"]
    width = 0.8 / max(1, len(rows))
    for i, (source, f) in enumerate(rows):
        xs = [k + (i - (len(rows) - 1) / 2) * width for k in range(len(keys))]
        bars = left.bar(xs, [f[k] for k in keys], width, label=source, color=colours[i % 3])
        left.bar_label(bars, labels=[ms(f[k]) for k in keys], fontsize=7, padding=1)
    left.set_xticks(range(len(keys)), labels)
    left.set_yscale("log")
    top = max(f[k] for _, f in rows for k in keys)
    left.set_ylim(top=top * 40)  # room for the legend above the bars
    left.set_ylabel("ms from the sender's write (log scale)")
    left.set_title("Latency per picture, 720p30 live H.264")
    left.legend(fontsize=8, loc="upper left")

    names = [s.replace("Media Source, ", "Media Source\n") for s, _ in rows]
    firsts = [f["first_picture_ms"] for _, f in rows]
    bars = middle.bar(range(len(rows)), firsts, color=colours[: len(rows)])
    middle.bar_label(bars, labels=["%.0f" % v for v in firsts], fontsize=7, padding=1)
    middle.set_xticks(range(len(rows)), names, fontsize=7)
    middle.set_yscale("log")
    middle.set_ylim(top=max(firsts) * 3)
    middle.set_ylabel("ms (log scale)")
    middle.set_title("First picture after connecting")

    counts, cpus, fps = [], [], []
    for n in (1, 2, 4):
        total = figures.get(("sources-%d" % n, "all"))
        per = [figures.get(("sources-%d" % n, "source %d" % (i + 1))) for i in range(n)]
        if total and all(per):
            counts.append(n)
            cpus.append(total["cpu_percent"])
            fps.append(min(p["fps"] for p in per))
    if counts:
        right.plot(counts, cpus, "o-", color=colours[0], label="plug-in CPU, all sources")
        right.plot(counts, [cpus[0] * n for n in counts], ":", color="grey", label="1 source x n")
        right.set_xticks(counts)
        right.set_ylim(bottom=0, top=max(cpus + [cpus[0] * counts[-1]]) * 1.3)
        right.set_xlabel("Ostrelin sources at once")
        right.set_ylabel("% of one core")
        right.set_title("Several phones")
        twin = right.twinx()
        twin.plot(counts, fps, "s--", color=colours[1], label="slowest source, fps")
        twin.set_ylim(0, 35)
        twin.set_ylabel("fps handed over (slowest source)")
        lines = right.get_legend_handles_labels()
        more = twin.get_legend_handles_labels()
        right.legend(lines[0] + more[0], lines[1] + more[1], fontsize=7, loc="upper left")

    fig.text(0.5, 0.005, "One run, one libobs 29 on this machine: OBS renders with software OpenGL (llvmpipe) on the "
             "same 2 shared CPU cores as the senders and the sources.", ha="center", fontsize=8)
    fig.tight_layout(rect=(0, 0.03, 1, 1))
    fig.savefig(path, dpi=110)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    figures = read(sys.argv[1])
    if not comparison_rows(figures):
        sys.exit("bench-chart: no comparison figures in " + sys.argv[1])
    chart(figures, sys.argv[2])
    print(table(figures))


main()

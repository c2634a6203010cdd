#!/usr/bin/python3
"""Draws vs_compressors.png: bits per byte against compression speed for tav
and the compressors users compare it with, one panel per file.

It runs nothing: the figures below are copied from the table "The codec
beside the compressors users know" in docs/benchmarks.md, measured by
`bash bench/codec_bench.sh /tmp/corpus` (Release build, tav_e -6, every tool
on one core, whole-process times).  Change them only together with that
table.

  /usr/bin/python3 docs/images/vs_compressors.py [--out docs/images/vs_compressors.png]
"""
import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (after the backend is chosen)

# file -> [(tool, bits per byte, compress MB/s)], as in the table.
MEASURED = {
    "English 2.7 MB": [
        ("tav -6", 2.091, 1.18),
        ("xz -9e", 2.528, 1.29),
        ("zstd -19", 2.575, 1.51),
        ("bzip2 -9", 2.551, 13.6),
        ("7-Zip PPMd o8", 2.145, 4.38),
        ("zpaq m4", 2.066, 1.06),
    ],
    "C++ headers 4 MB": [
        ("tav -6", 0.843, 1.57),
        ("xz -9e", 0.842, 2.20),
        ("7-Zip PPMd o8", 0.861, 20.0),
        ("zpaq m4", 0.676, 1.60),
    ],
    "machine code 3 MB": [
        ("tav -6", 2.494, 0.88),
        ("xz -9e", 2.439, 1.73),
        ("7-Zip PPMd o8", 2.515, 5.08),
        ("zpaq m4", 2.309, 1.19),
    ],
}
STYLE = {
    "tav -6": ("C3", "o"),
    "xz -9e": ("C0", "s"),
    "zstd -19": ("C1", "^"),
    "bzip2 -9": ("C2", "v"),
    "7-Zip PPMd o8": ("C4", "D"),
    "zpaq m4": ("C5", "P"),
}
# Where a label goes, in points from its marker, where the default would
# overlap another.
LABEL_AT = {
    ("English 2.7 MB", "zpaq m4"): (-8, -13),
    ("English 2.7 MB", "tav -6"): (6, 5),
    ("C++ headers 4 MB", "tav -6"): (-10, 9),
    ("C++ headers 4 MB", "xz -9e"): (6, -12),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    here = pathlib.Path(__file__).resolve().parent
    parser.add_argument("--out", default=str(here / "vs_compressors.png"))
    args = parser.parse_args()

    fig, axes = plt.subplots(1, 3, figsize=(11, 3.8))
    for ax, (name, rows) in zip(axes, MEASURED.items()):
        for tool, bpb, speed in rows:
            colour, marker = STYLE[tool]
            ax.scatter([speed], [bpb], color=colour, marker=marker, s=90 if tool.startswith("tav") else 55,
                       label=tool, zorder=3)
            ax.annotate(tool, (speed, bpb), textcoords="offset points",
                        xytext=LABEL_AT.get((name, tool), (6, 4)), fontsize=8)
        ax.set_xscale("log")
        ax.set_title(name)
        ax.set_xlabel("compression MB/s (log scale)")
        ax.grid(True, alpha=0.3)
        low = min(r[1] for r in rows)
        high = max(r[1] for r in rows)
        pad = (high - low) * 0.15
        ax.set_ylim(low - pad, high + pad)
        ax.set_xlim(0.6, 40)
        ax.set_xticks([1, 2, 5, 10, 20])
        ax.set_xticklabels(["1", "2", "5", "10", "20"])
    axes[0].set_ylabel("bits per byte (lower is smaller)")
    fig.suptitle("tav beside the compressors users know (bench/codec_bench.sh, one core each)")
    fig.tight_layout()
    fig.savefig(args.out, dpi=100)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Draws the README's pictures from measured runs of the tav module, and
prints the figures it plots as tables.

  (a) bits per byte of the compressed file against the model order, for
      English, source code and machine code (the corpus of make_corpus.sh);
  (b) the code length of every byte along one text (default: the bundled
      sample) under the default model, as moving averages, with the starts
      of the licences it holds marked.

Run with Debian's interpreter, after building the module:
  /usr/bin/python3 bench/plots.py [--build build] [--corpus DIR] [--out docs/images]
"""
import argparse
import concurrent.futures
import os
import pathlib
import subprocess
import sys
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402  (after the backend is chosen)
import numpy  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[1]
CORPUS = {"English": "english.txt", "source code": "source.txt", "machine code": "binary.bin"}
ORDERS = [0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32]
# Titles of the licences in the bundled sample, to mark where each begins.
LICENCE_TITLES = [
    ("GPL-3", b"GNU GENERAL PUBLIC LICENSE\n                       Version 3"),
    ("GPL-2", b"GNU GENERAL PUBLIC LICENSE\n                       Version 2"),
    ("LGPL-2.1", b"GNU LESSER GENERAL PUBLIC LICENSE\n                       Version 2.1"),
    ("Apache-2.0", b"Apache License\n                           Version 2.0"),
    ("MPL-2.0", b"Mozilla Public License Version 2.0"),
    ("Artistic", b'The "Artistic License"'),
    ("LGPL-3", b"GNU LESSER GENERAL PUBLIC LICENSE\n                       Version 3"),
    ("MPL-1.1", b"MOZILLA PUBLIC LICENSE\n                                Version 1.1"),
]


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=str(ROOT / "build"), help="build tree holding python/tav*.so")
    parser.add_argument("--corpus", default=str(ROOT / "bench" / "corpus"),
                        help="corpus directory (made by bench/make_corpus.sh when missing)")
    parser.add_argument("--out", default=str(ROOT / "docs" / "images"), help="where the PNGs go")
    parser.add_argument("--text", default=str(ROOT / "samples" / "licenses.txt"), help="text of picture (b)")
    parser.add_argument("--orders", default=",".join(map(str, ORDERS)), help="orders of picture (a)")
    parser.add_argument("--memory-mb", type=int, default=4096,
                        help="node budget of every run of (a), large enough not to limit any order")
    parser.add_argument("--window", type=int, default=2000, help="moving average of (b), in bytes")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="runs side by side")
    return parser.parse_args()


def import_tav(build):
    sys.path.insert(0, str(pathlib.Path(build) / "python"))
    try:
        import tav
    except ImportError as error:
        sys.exit(f"plots.py: cannot import tav from {build}/python ({error}); build it first")
    return tav


def load_corpus(directory):
    directory = pathlib.Path(directory)
    if not all((directory / name).is_file() for name in CORPUS.values()):
        subprocess.run(["bash", str(ROOT / "bench" / "make_corpus.sh"), str(directory)], check=True,
                       stdout=subprocess.DEVNULL)
    return {kind: (directory / name).read_bytes() for kind, name in CORPUS.items()}


def bits_per_byte_by_order(tav, corpus, orders, memory_mb, jobs):
    """{kind: [bits per byte of the compressed file at each order]}: one
    thread per run, several runs side by side (the module releases the GIL)."""
    def run(kind, order):
        text = corpus[kind]
        return 8 * len(tav.compress(text, order=order, memory_mb=memory_mb, threads=1)) / len(text)

    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        futures = {kind: [pool.submit(run, kind, order) for order in orders] for kind in corpus}
        return {kind: [f.result() for f in runs] for kind, runs in futures.items()}


def print_order_table(corpus, orders, results, memory_mb):
    kinds = list(corpus)
    print(f"bits per byte by model order (budget {memory_mb} MB, one member per file)")
    print("| order | " + " | ".join(f"{k} ({len(corpus[k]) / 1e6:.1f} MB)" for k in kinds) + " |")
    print("|---|" + "---|" * len(kinds))
    for i, order in enumerate(orders):
        print(f"| {order} | " + " | ".join(f"{results[k][i]:.3f}" for k in kinds) + " |")


def plot_orders(orders, results, path):
    fig, ax = plt.subplots(figsize=(7, 4.2), dpi=100)
    for kind, values in results.items():
        ax.plot(orders, values, marker="o", label=kind)
    ax.set_xscale("symlog", linthresh=4)
    ax.set_xticks(orders)
    ax.set_xticklabels([str(o) for o in orders])
    ax.set_xlabel("model order (bytes of context)")
    ax.set_ylabel("bits per byte")
    ax.set_title("Compressed size against model order")
    ax.grid(True, alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def moving_average(values, window):
    window = max(1, min(window, len(values)))
    sums = numpy.cumsum(numpy.concatenate(([0.0], values)))
    return (sums[window:] - sums[:-window]) / window


def licence_starts(text):
    starts = []
    for name, title in LICENCE_TITLES:
        at = text.find(title)
        if at >= 0:
            # The title is indented: mark the start of its line.
            starts.append((text.rfind(b"\n", 0, at) + 1, name))
    return sorted(starts)


def print_cost_table(text, bits, starts, compressed_size):
    print(f"\nper-byte cost along the text ({len(text)} bytes, order 8, 1024 MB)")
    print(f"sum of the costs {bits.sum() / 8:.1f} bytes; compressed file {compressed_size} bytes")
    bounds = starts if starts and starts[0][0] == 0 else [(0, "start")] + starts
    print("| part | bytes | bits/byte |")
    print("|---|---|---|")
    for i, (begin, name) in enumerate(bounds):
        end = bounds[i + 1][0] if i + 1 < len(bounds) else len(text)
        print(f"| {name} | {end - begin} | {bits[begin:end].mean():.3f} |")
    print(f"| whole text | {len(text)} | {bits.mean():.3f} |")


def plot_costs(bits, window, starts, name, path):
    fig, ax = plt.subplots(figsize=(8, 4.2), dpi=100)
    short = max(1, window // 10)
    for width, colour, line in ((short, "0.7", 0.5), (window, "C0", 1.5)):
        width = min(width, len(bits))
        ax.plot(numpy.arange(len(bits) - width + 1) + width / 2, moving_average(bits, width),
                color=colour, linewidth=line)
    # Headroom above the curves for the names of the parts.
    top = ax.get_ylim()[1] * 1.2
    for begin, part in starts:
        ax.axvline(begin, color="C3", linewidth=0.8, alpha=0.6)
        ax.text(begin, top, " " + part, rotation=90, va="top", ha="left", fontsize=8, color="C3")
    ax.set_xlim(0, len(bits))
    ax.set_ylim(0, top)
    ax.set_xlabel("position in the text (bytes)")
    ax.set_ylabel("bits per byte")
    ax.set_title(f"Cost of each byte of {name} at order 8: {window}-byte (blue) and {short}-byte (grey) averages",
                 fontsize=10)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def main():
    args = parse_args()
    tav = import_tav(args.build)
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    orders = [int(o) for o in args.orders.split(",")]

    corpus = load_corpus(args.corpus)
    started = time.monotonic()
    results = bits_per_byte_by_order(tav, corpus, orders, args.memory_mb, args.jobs)
    print_order_table(corpus, orders, results, args.memory_mb)
    print(f"({time.monotonic() - started:.0f} s)")
    plot_orders(orders, results, out / "bits_by_order.png")

    text = pathlib.Path(args.text).read_bytes()
    bits = tav.costs(text, order=8, memory_mb=1024)
    starts = licence_starts(text)
    print_cost_table(text, bits, starts, len(tav.compress(text, order=8, memory_mb=1024)))
    plot_costs(bits, args.window, starts, pathlib.Path(args.text).name, out / "cost_along_text.png")
    print(f"\nwrote {out / 'bits_by_order.png'} and {out / 'cost_along_text.png'}")


if __name__ == "__main__":
    main()

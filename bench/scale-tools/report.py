#!/usr/bin/python3
"""The scale benchmark's table: per stage and corpus size the time, the
average busy cores and the peak memory, and how each stage grows.

  report.py SIZE:RUN:JSON...

Each argument names the training documents of a corpus, the run ("knn
train", "svm classify", ...) and the JSON that bench/pipeline-tools/timings.py
wrote for it. The growth exponent between two sizes is
log(t2/t1) / log(n2/n1) of the wall-clock times: 1 is linear, 2 quadratic.
"per doc" compares the time per document at the largest size with the
smallest; "cpu/doc" does the same with CPU time, which a busy machine
disturbs less.
"""

import json
import math
import sys


def load(arguments):
    runs = {}  # (run, stage) -> {size: cost}
    order = []
    sizes = set()
    for argument in arguments:
        size, run, path = argument.split(":", 2)
        size = int(size)
        sizes.add(size)
        with open(path) as f:
            figures = json.load(f)
        costs = figures.get("costs") or [{"stage": n, "seconds": s, "cpu": None, "cores": None, "peak_mb": None}
                                         for n, s in figures["stages"]]
        wall = figures.get("wall")
        peak = figures.get("peak_kib")
        costs = costs + [{"stage": "whole command", "seconds": wall, "cpu": None, "cores": None,
                          "peak_mb": peak * 1.024 / 1000 if peak else None}]
        for cost in costs:
            key = (run, cost["stage"])
            if key not in runs:
                runs[key] = {}
                order.append(key)
            runs[key][size] = cost
    return runs, order, sorted(sizes)


def short(n):
    """10000 -> '10k', 1000000 -> '1M'."""
    for unit, name in ((1_000_000, "M"), (1000, "k")):
        if n >= unit and n % unit == 0:
            return f"{n // unit}{name}"
    return str(n)


def exponent(t1, t2, n1, n2):
    if not t1 or not t2 or t1 <= 0 or t2 <= 0 or n1 == n2:
        return "-"
    return f"{math.log(t2 / t1) / math.log(n2 / n1):.2f}"


def cell(cost):
    if cost is None or cost["seconds"] is None:
        return f"{'-':>9} {'-':>8} {'-':>5} {'-':>8}"
    cpu = f"{cost['cpu']:.2f}" if cost.get("cpu") is not None else "-"
    cores = f"{cost['cores']:.2f}" if cost.get("cores") is not None else "-"
    peak = f"{cost['peak_mb']:.0f}" if cost.get("peak_mb") is not None else "-"
    return f"{cost['seconds']:9.2f} {cpu:>8} {cores:>5} {peak:>8}"


def per_doc_ratio(first, last, sizes):
    """Time per document at the largest size over that at the smallest."""
    return f"{(last / sizes[-1]) / (first / sizes[0]):7.2f}" if first and last else f"{'-':>7}"


def main(arguments):
    if not arguments:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    runs, order, sizes = load(arguments)
    head = f"{'run':<13} {'stage':<14}"
    for size in sizes:
        head += f" | {'s':>9} {'cpu s':>8} {'cores':>5} {'peak MB':>8}"
    growth = [f"exp {short(a)}-{short(b)}" for a, b in zip(sizes, sizes[1:])]
    head += " | " + " ".join(f"{g:>12}" for g in growth)
    if len(sizes) >= 2:
        head += f" | {'per doc':>7} {'cpu/doc':>7}"
    print("columns per size: " + ", ".join(f"{s:,} training documents" for s in sizes))
    print(head)
    print("-" * len(head))
    for key in order:
        run, stage = key
        line = f"{run:<13} {stage:<14}"
        figures = runs[key]
        for size in sizes:
            line += " | " + cell(figures.get(size))
        seconds = [figures[s]["seconds"] if s in figures else None for s in sizes]
        line += " | " + " ".join(f"{exponent(seconds[i], seconds[i + 1], sizes[i], sizes[i + 1]):>12}"
                                 for i in range(len(sizes) - 1))
        if len(sizes) >= 2:
            cpu = [figures[s].get("cpu") if s in figures else None for s in sizes]
            line += f" | {per_doc_ratio(seconds[0], seconds[-1], sizes)} {per_doc_ratio(cpu[0], cpu[-1], sizes)}"
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

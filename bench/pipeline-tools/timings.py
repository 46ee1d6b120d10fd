#!/usr/bin/python3
"""Stage timings and peak memory of one kestrel run, and the scaling table.

  timings.py run --stderr FILE --time FILE --json OUT
      reads the "time <stage> <seconds> s [cpu ...] [peak ...]" lines that
      kestrel prints with --timings and the report of /usr/bin/time -v; prints one line per stage
      and writes the figures as JSON. Without stage lines the whole command's
      wall-clock time is the only stage ("total").

  timings.py scaling JSON...
      one JSON per corpus size (written by "run" for the train command, with
      "documents" added): prints how index + vectors time grows with size.
"""

import json
import re
import sys

# "time index 1.500 s", optionally followed by the CPU time, the average busy
# cores and the stage's peak memory ("process peak" where the peak could not
# be reset for the stage).
NUMBER = r"([0-9]+(?:\.[0-9]*)?)"
STAGE = re.compile(r"^time\s+(\S+)\s+" + NUMBER + r"\s*s"
                   r"(?:\s+cpu\s+" + NUMBER + r"\s*s\s+\(" + NUMBER + r" cores\))?"
                   r"(?:\s+(?:process )?peak\s+" + NUMBER + r"\s*MB)?\s*$")


def wall_seconds(text):
    """'Elapsed (wall clock) time (h:mm:ss or m:ss): 1:02.35' in seconds."""
    value = text.rsplit(": ", 1)[-1].strip()
    seconds = 0.0
    for part in value.split(":"):
        seconds = seconds * 60 + float(part)
    return seconds


def parse_stage(line):
    """{"stage", "seconds", "cpu", "cores", "peak_mb"} of a stage line (None
    for figures the line lacks), or None for any other line."""
    match = STAGE.match(line.strip())
    if not match:
        return None
    number = lambda g: float(match.group(g)) if match.group(g) is not None else None  # noqa: E731
    return {"stage": match.group(1), "seconds": number(2), "cpu": number(3), "cores": number(4),
            "peak_mb": number(5)}


def parse_run(stderr_path, time_path):
    stages, costs = [], []
    with open(stderr_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            cost = parse_stage(line)
            if cost:
                stages.append((cost["stage"], cost["seconds"]))
                costs.append(cost)
    figures = {"stages": stages, "costs": costs, "peak_kib": None, "wall": None, "exit": None}
    with open(time_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.startswith("Maximum resident set size"):
                figures["peak_kib"] = int(line.rsplit(":", 1)[1])
            elif line.startswith("Elapsed (wall clock) time"):
                figures["wall"] = wall_seconds(line)
            elif line.startswith("Exit status"):
                figures["exit"] = int(line.rsplit(":", 1)[1])
            elif line.startswith("Command exited with non-zero status"):
                figures["exit"] = int(line.rsplit(" ", 1)[1])
    # With --timings each stage starts a new peak, which /usr/bin/time then
    # sees only for the last one: the run's peak is the largest of them all.
    stage_peaks = [c["peak_mb"] * 1000 / 1.024 for c in costs if c["peak_mb"] is not None]
    if stage_peaks:
        figures["peak_kib"] = round(max(stage_peaks + [figures["peak_kib"] or 0]))
    if not stages and figures["wall"] is not None:
        figures["stages"] = [("total", figures["wall"])]
        figures["timed_whole"] = True
    return figures


def stage_seconds(figures, *names):
    found = [s for n, s in figures["stages"] if n in names]
    return sum(found) if found else None


def cmd_run(args):
    opts = dict(zip(args[0::2], args[1::2]))
    figures = parse_run(opts["--stderr"], opts["--time"])
    for name, seconds in figures["stages"]:
        print(f"    {name:<12} {seconds:9.3f} s")
    if figures["wall"] is not None:
        print(f"    {'wall clock':<12} {figures['wall']:9.3f} s")
    if figures["peak_kib"] is not None:
        print(f"    {'peak memory':<12} {figures['peak_kib'] / 1024:9.1f} MiB")
    with open(opts["--json"], "w") as f:
        json.dump(figures, f, indent=1)
    return 0


def cmd_scaling(paths):
    rows = []
    for path in paths:
        with open(path) as f:
            figures = json.load(f)
        seconds = stage_seconds(figures, "index", "vectors")
        label = "index + vectors"
        if seconds is None:
            seconds, label = figures["wall"], "whole train command"
        rows.append((figures["documents"], seconds, figures.get("peak_kib"), label))
    rows.sort()
    print(f"  {'documents':>10} {'seconds':>9} {'ms/doc':>8} {'x prev':>7} {'peak MiB':>9}  measured")
    previous = None
    for docs, seconds, peak, label in rows:
        growth = f"{seconds / previous[1]:.2f}" if previous and previous[1] > 0 else "-"
        peak_text = f"{peak / 1024:.1f}" if peak else "-"
        print(f"  {docs:>10} {seconds:9.3f} {1000 * seconds / docs:8.3f} {growth:>7} {peak_text:>9}  {label}")
        previous = (docs, seconds)
    if len(rows) >= 2 and rows[0][1] > 0:
        (d0, s0, _, _), (d1, s1, _, _) = rows[0], rows[-1]
        import math
        exponent = math.log(s1 / s0) / math.log(d1 / d0) if s1 > 0 and d1 != d0 else float("nan")
        print(f"  growth exponent over {d0}-{d1} documents: {exponent:.2f} (1.0 = linear)")
    return 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "run":
        return cmd_run(argv[2:])
    if len(argv) >= 3 and argv[1] == "scaling":
        return cmd_scaling(argv[2:])
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))

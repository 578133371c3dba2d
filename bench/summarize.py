#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One ratio table from the benchmark programs' JSON output.

Usage: summarize.py RESULT.json...   (files written with
--benchmark_out=FILE --benchmark_out_format=json)

Rows are paired by name. Every benchmark is named Side_Row[_Variant], Side
being Qel (this library), Tirpc (libtirpc doing the same work) or Floor (raw
sockets without RPC machinery, shown for reference); Row has no underscore.
Each Tirpc row is set against the Qel row of the same Row (the one with the
same arguments when there are several); a Tirpc row whose variant names a
kept client (KeptClient) goes with the Qel row of argument Kept (a kept
connection, e.g. Qel_TcpNullCall/Kept), every other one with a Qel row
without it. The time of a row is the median of
its repetitions: real (wall-clock) time for benchmarks registered with
UseRealTime (their names end in /real_time: calls to servers in other
processes or threads), CPU time for the rest. The ratio is this library's
time divided by libtirpc's: below 1 this library is faster.
"""

import json
import statistics
import sys

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def fmt_time(ns):
    if ns is None:
        return "-"
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}" if ns / scale < 100 else f"{ns / scale:.0f} {unit}"
    return f"{ns:.3g} ns" if ns < 100 else f"{ns:.0f} ns"


def parse_name(run_name):
    """(side, row, variant, args, real) from a run name such as
    Tirpc_UdpNullCall_ClientPerCall/ownSocket:1/real_time."""
    parts = run_name.split("/")
    func, rest = parts[0], parts[1:]
    real = "real_time" in rest
    args = "/".join(p for p in rest if p != "real_time")
    side, _, tail = func.partition("_")
    row, _, variant = tail.partition("_")
    return side, row, variant, args, real


def load(paths):
    """run name -> {'ns': median time in ns or None, 'real': bool, 'error': text}"""
    runs = {}
    order = []
    for path in paths:
        try:
            with open(path, encoding="utf-8") as f:
                doc = json.load(f)
        except (OSError, ValueError) as e:
            print(f"summarize: {path}: {e}", file=sys.stderr)
            continue
        samples = {}
        medians = {}
        for b in doc.get("benchmarks", []):
            name = b.get("run_name", b.get("name", ""))
            if name not in runs:
                runs[name] = {"ns": None, "real": parse_name(name)[4], "error": None}
                order.append(name)
            if b.get("error_occurred"):
                runs[name]["error"] = b.get("error_message", "error")
                continue
            key = "real_time" if runs[name]["real"] else "cpu_time"
            if key not in b:
                continue
            ns = float(b[key]) * UNIT_NS.get(b.get("time_unit", "ns"), 1.0)
            if b.get("run_type") == "aggregate":
                if b.get("aggregate_name") == "median":
                    medians[name] = ns
            else:
                samples.setdefault(name, []).append(ns)
        for name in set(samples) | set(medians):
            runs[name]["ns"] = medians[name] if name in medians else statistics.median(samples[name])
    return runs, order


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    runs, order = load(argv[1:])

    qel = {}  # row -> [(args, run name)]
    for name in order:
        side, row, _, args, _ = parse_name(name)
        if side == "Qel":
            qel.setdefault(row, []).append((args, name))

    lines = []  # (label, clock, qelrpc, libtirpc, ratio)
    paired_qel = set()
    others = []
    for name in order:
        side, row, variant, args, real = parse_name(name)
        if side != "Tirpc":
            if side != "Qel":
                others.append(name)
            continue
        kept = "Kept" in variant
        candidates = [(a, n) for a, n in qel.get(row, []) if ("Kept" in a.split("/")) == kept]
        match = next((n for a, n in candidates if a == args), None)
        if match is None and len(candidates) == 1:
            match = candidates[0][1]
        detail = "/".join(p for p in (variant, args) if p)
        label = f"{row} ({detail})" if detail else row
        q = runs[match] if match else None
        t = runs[name]
        if match:
            paired_qel.add(match)
        q_ns = q["ns"] if q and not q["error"] else None
        t_ns = t["ns"] if not t["error"] else None
        ratio = f"{q_ns / t_ns:.2f}" if q_ns and t_ns else ("error" if (q and q["error"]) or t["error"] else "-")
        clock = "real" if real or (q and q["real"]) else "cpu"
        lines.append((label, clock, fmt_time(q_ns), fmt_time(t_ns), ratio))
    for name in order:
        side, row, variant, args, real = parse_name(name)
        if side == "Qel" and name not in paired_qel:
            detail = "/".join(p for p in (variant, args) if p)
            label = f"{row} ({detail})" if detail else row
            r = runs[name]
            lines.append((label, "real" if real else "cpu", fmt_time(None if r["error"] else r["ns"]), "-",
                          "error" if r["error"] else "-"))

    header = ("row", "time", "qelrpc", "libtirpc", "qelrpc/libtirpc")
    widths = [max(len(str(l[i])) for l in lines + [header]) for i in range(len(header))]
    def show(cols):
        print("  ".join(str(c).ljust(w) if i == 0 else str(c).rjust(w) for i, (c, w) in enumerate(zip(cols, widths))))
    show(header)
    show(tuple("-" * w for w in widths))
    for l in lines:
        show(l)
    print()
    print("Median of the repetitions. time: real = wall-clock time (calls to servers in other processes")
    print("or threads), cpu = CPU time of the benchmark thread. Ratio below 1: this library is faster.")
    if others:
        print()
        print("For reference, without a counterpart:")
        for name in others:
            side, row, variant, args, real = parse_name(name)
            detail = "/".join(p for p in (side, variant, args) if p)
            r = runs[name]
            print(f"  {row} ({detail}): {r['error'] or fmt_time(r['ns'])} ({'real' if real else 'cpu'})")
    errors = [n for n in order if runs[n]["error"]]
    if errors:
        print()
        print("Benchmarks that reported an error:")
        for n in errors:
            print(f"  {n}: {runs[n]['error']}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

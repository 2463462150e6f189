"""Shared timing helpers for the benchmarks: medians over repeats, ratios
against a baseline measured in the same run."""
import os
import statistics
import time

# NumPy's BLAS threads spin between calls and steal the core being measured.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")


def median_ns(fn, *, repeat=15, number=None, min_time=0.02):
    """Median time of one call of fn, in nanoseconds."""
    if number is None:
        number = 1
        while True:
            start = time.perf_counter_ns()
            for _ in range(number):
                fn()
            if time.perf_counter_ns() - start >= min_time * 1e9 or number >= 1 << 20:
                break
            number *= 2
    samples = []
    for _ in range(repeat):
        start = time.perf_counter_ns()
        for _ in range(number):
            fn()
        samples.append((time.perf_counter_ns() - start) / number)
    return statistics.median(samples)


def fmt_ns(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def report(title, rows):
    """rows: (name, module_ns, baseline_name, baseline_ns). Prints a table
    with module/baseline ratios (below 1 means the module is faster)."""
    print(f"\n{title}")
    print(f"  {'case':38} {'module':>10} {'baseline':>10} {'ratio':>8}  baseline")
    for name, ours, base_name, base in rows:
        print(f"  {name:38} {fmt_ns(ours):>10} {fmt_ns(base):>10} {ours / base:>7.3f}x  {base_name}")

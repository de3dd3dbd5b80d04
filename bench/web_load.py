#!/usr/bin/env python3
"""Loads a running qmhost's web API at a steady rate and reports the latency.

usage: web_load.py URL [--rate 50] [--seconds 30] [--no-snapshot]

Requests cycle through what the page asks for (live records, phasors, values
report, events, intervals; a snapshot every 5 s), one connection per request
as a browser without keep-alive would. --no-snapshot leaves the snapshots out
(each one re-arms the chip's waveform capture, which the module then reads). Prints the latency per path and over
all requests (median, 99th percentile, maximum) and the failures.
"""
import argparse
import statistics
import time
import urllib.request

PATHS = ["api/records/10", "api/records/2", "api/events", "api/values", "api/intervals",
         "api/records/0", "api/scaled", "api/records/5", "api/registers", "api/events?limit=10"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--rate", type=float, default=50)
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--no-snapshot", action="store_true")
    args = parser.parse_args()
    base = args.url.rstrip("/") + "/"
    latencies, failures = {}, 0
    start = time.monotonic()
    next_snapshot = start + 5
    n = 0
    while time.monotonic() - start < args.seconds:
        due = start + n / args.rate
        time.sleep(max(0.0, due - time.monotonic()))
        path = PATHS[n % len(PATHS)]
        if not args.no_snapshot and time.monotonic() >= next_snapshot:
            path, next_snapshot = "api/snapshot", next_snapshot + 5
        began = time.monotonic()
        try:
            with urllib.request.urlopen(base + path, timeout=5) as response:
                response.read()
            latencies.setdefault(path, []).append((time.monotonic() - began) * 1000)
        except Exception as error:  # a refusal or a timeout counts as a failure
            failures += 1
            print(f"{path}: {error}")
        n += 1
    every = sorted(x for values in latencies.values() for x in values)

    def line(name, values):
        values = sorted(values)
        p99 = values[min(len(values) - 1, int(len(values) * 0.99))]
        return f"{name:24} {len(values):6} {statistics.median(values):8.2f} {p99:8.2f} {values[-1]:8.2f}"

    print(f"{'path':24} {'count':>6} {'p50 ms':>8} {'p99 ms':>8} {'max ms':>8}")
    for path in sorted(latencies):
        print(line(path, latencies[path]))
    print(line("all", every))
    print(f"{n} requests in {time.monotonic() - start:.1f} s, {failures} failed")


if __name__ == "__main__":
    main()

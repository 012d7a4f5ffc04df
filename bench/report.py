#!/usr/bin/env python3
"""Turns the JSON output of the benchmark programs into the performance table.

Usage: report.py RESULTS_DIR

RESULTS_DIR holds future_bench.json, delivery_bench.json, host_evaluation_bench.json (runs with
repetitions, aggregates only) and allocation_bench.json (one run). A paired benchmark times ours
and its baselines side by side (bench/Paired.hpp) and reports each as a counter "<name>_ns";
every figure here is the median of such a counter over the repetitions, and every ratio is ours
over a baseline measured in the same benchmark of the same run.
Prints one row per line of the table, informational rows after them, and ends with the line
"N/M targets met". Python standard library only.
"""

import json
import os
import sys


def load(directory, name):
    with open(os.path.join(directory, name + ".json"), encoding="utf-8") as handle:
        return json.load(handle)


class Results:
    """Medians of one program's repetitions, by benchmark name."""

    def __init__(self, data):
        self.median = {}
        self.single = {}
        for entry in data["benchmarks"]:
            if entry.get("error_occurred"):
                raise SystemExit("benchmark %s failed: %s" % (entry["name"], entry.get("error_message")))
            if entry.get("run_type") == "aggregate":
                if entry.get("aggregate_name") == "median":
                    self.median[entry["run_name"]] = entry
            else:
                self.single[entry["run_name"]] = entry

    def entry(self, name):
        found = self.median.get(name) or self.single.get(name)
        if found is None:
            raise SystemExit("no result for benchmark %s" % name)
        return found

    def counter(self, name, counter):
        return self.entry(name)[counter]


def duration(seconds):
    if seconds >= 1e-3:
        return "%.2f ms" % (seconds * 1e3)
    if seconds >= 1e-6:
        return "%.2f us" % (seconds * 1e6)
    return "%.1f ns" % (seconds * 1e9)


def rate(per_second):
    return "%.2f M/s" % (per_second / 1e6)


class Table:
    def __init__(self):
        self.rows = []
        self.met = 0
        self.targets = 0

    def add(self, name, ours, baseline, ratio, target, met):
        """met: True / False for a target, None for a row that is only reported."""
        if met is not None:
            self.targets += 1
            self.met += 1 if met else 0
        status = "info" if met is None else ("met" if met else "MISSED")
        self.rows.append((name, ours, baseline, ratio, target, status))

    def at_most(self, name, ours, baseline, limit, show=duration):
        ratio = ours / baseline
        self.add(name, show(ours), show(baseline), "%.2fx" % ratio, "<= %.2fx" % limit,
                 ratio <= limit)

    def at_least(self, name, ours, baseline, limit, show=rate):
        ratio = ours / baseline
        self.add(name, show(ours), show(baseline), "%.2fx" % ratio, ">= %.2fx" % limit,
                 ratio >= limit)

    def info(self, name, ours, baseline, ratio):
        self.add(name, ours, baseline, ratio, "-", None)

    def print(self):
        header = ("row", "ours", "baseline", "ratio", "target", "status")
        widths = [max(len(str(row[i])) for row in self.rows + [header]) for i in range(6)]
        line = "  ".join("%-" + str(w) + "s" for w in widths)
        print(line % header)
        print("  ".join("-" * w for w in widths))
        for row in self.rows:
            print(line % row)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    directory = sys.argv[1]
    futures = Results(load(directory, "future_bench"))
    delivery = Results(load(directory, "delivery_bench"))
    evaluation = Results(load(directory, "host_evaluation_bench"))
    allocations = Results(load(directory, "allocation_bench"))
    table = Table()

    def ns(results, benchmark, variant):
        """Median over the repetitions of a paired variant's time per operation, in seconds."""
        return results.counter(benchmark, variant + "_ns") * 1e-9

    # Futures.
    ready = ns(futures, "Futures_Ready", "connector")
    table.at_most("ready future vs boost::make_ready_future", ready,
                  ns(futures, "Futures_Ready", "boost"), 1.0)
    table.at_most("ready future vs std::promise (well under: half)", ready,
                  ns(futures, "Futures_Ready", "std"), 0.5)
    table.at_most("chained future (then + get) vs ready future",
                  ns(futures, "Futures_Chained", "chained"),
                  ns(futures, "Futures_Chained", "ready"), 2.0)
    boost_handoff = ns(futures, "Futures_Handoff", "boost")
    std_handoff = ns(futures, "Futures_Handoff", "std")
    better = "boost" if boost_handoff <= std_handoff else "std"
    table.at_most("cross-thread handoff vs better peer (%s)" % better,
                  ns(futures, "Futures_Handoff", "connector"), min(boost_handoff, std_handoff),
                  1.1)

    # Delivery.
    table.at_most("delivery: deliver(GetUserHomeDir) vs typed handle",
                  ns(delivery, "Delivery", "deliver"), ns(delivery, "Delivery", "handle"), 1.3)

    # JSON end to end: the plug-in's path against the JSON library's floor.
    requests = [("EnabledFeatures", "EnabledFeatures (all flags)"),
                ("ServiceRegistry", "ServiceRegistry"),
                ("GetCurrentClientProperties", "GetCurrentClientProperties"),
                ("ClientTypeBatch", "ClientType batch")]
    for key, label in requests:
        table.at_most("JSON end to end: %s vs parse+stringify" % label,
                      ns(delivery, "Json/" + key, "plugin"), ns(delivery, "Json/" + key, "floor"),
                      1.5)

    # Host evaluation.
    feval = ns(evaluation, "HostEvaluation", "feval")
    table.at_most("host evaluation: fevalSync(version) vs bare boost::promise", feval,
                  ns(evaluation, "HostEvaluation", "bare"), 1.5)
    slice_seconds = 10e-3
    ratio = feval / slice_seconds
    table.add("host evaluation: median vs 10 ms wait slice (far below: a tenth)",
              duration(feval), duration(slice_seconds), "%.4fx" % ratio, "<= 0.10x",
              ratio <= 0.10)

    # Allocations per request through deliver.
    for name in ["GetUserHomeDir", "SetUserHomeDir", "ServiceRegistry",
                 "GetCurrentClientProperties", "EnabledFeatures", "ClientType",
                 "ClientType+GetUserHomeDir"]:
        count = allocations.counter("Allocations/" + name, "allocs_per_request")
        request = allocations.counter("Allocations/" + name, "request_allocs")
        label = "allocations per request: %s" % name
        ours = "%.1f" % count
        beside = "(+%.0f building the request)" % request
        if name == "GetUserHomeDir":
            table.add(label, ours, beside, "-", "<= 5", count <= 5)
        else:
            table.info(label, ours, beside, "-")

    # Scaling: throughput of 2 threads over 1 on one provider.
    for name in ["GetUserHomeDir", "ServiceRegistry"]:
        one = delivery.counter("Scaling_%s/real_time/threads:1" % name, "items_per_second")
        two = delivery.counter("Scaling_%s/real_time/threads:2" % name, "items_per_second")
        table.at_least("scaling: %s, 2 threads vs 1" % name, two, one, 1.6)

    # Informational: CPU per request with 2 threads vs 1 (contention), the same requests through
    # the typed handle (without delivery), connector-host's path.
    for name in ["GetUserHomeDir", "ServiceRegistry"]:
        one = delivery.entry("Scaling_%s/real_time/threads:1" % name)["cpu_time"]
        two = delivery.entry("Scaling_%s/real_time/threads:2" % name)["cpu_time"]
        unit = delivery.entry("Scaling_%s/real_time/threads:1" % name)["time_unit"]
        table.info("scaling: %s, CPU per request 2 threads vs 1" % name,
                   "%.1f %s" % (two, unit), "%.1f %s" % (one, unit), "%.2fx" % (two / one))
    for prefix, label in [("ScalingOfHandle", "typed handle, no delivery"),
                          ("ScalingOfOwnProvider", "a provider per thread")]:
        for name in ["GetUserHomeDir", "ServiceRegistry"]:
            one = delivery.counter("%s_%s/real_time/threads:1" % (prefix, name), "items_per_second")
            two = delivery.counter("%s_%s/real_time/threads:2" % (prefix, name), "items_per_second")
            table.info("scaling, %s: %s, 2 threads vs 1" % (label, name), rate(two), rate(one),
                       "%.2fx" % (two / one))
    # EnabledFeatures for all flags must ask the host three times, one after the other: its real
    # floor is the JSON library's share plus three bare round trips to a worker thread.
    bare = ns(evaluation, "HostEvaluation", "bare")
    floor = ns(delivery, "Json/EnabledFeatures", "floor") + 3 * bare
    ours = ns(delivery, "Json/EnabledFeatures", "plugin")
    table.info("JSON end to end: EnabledFeatures vs parse+stringify + 3 bare round trips",
               duration(ours), duration(floor), "%.2fx" % (ours / floor))
    for key, label in requests:
        ours = ns(delivery, "JsonHost/" + key, "host")
        floor = ns(delivery, "JsonHost/" + key, "floor")
        table.info("connector-host envelope: %s vs parse+stringify" % label, duration(ours),
                   duration(floor), "%.2fx" % (ours / floor))

    table.print()
    print()
    print("%d/%d targets met" % (table.met, table.targets))


if __name__ == "__main__":
    main()

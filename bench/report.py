#!/usr/bin/env python3
"""Turns the JSON output of the benchmark programs into the performance table.

Usage: report.py RESULTS_DIR

RESULTS_DIR holds same/ and split/, each with future_bench.json, delivery_bench.json and
host_evaluation_bench.json from runs with QCI_BENCH_PLACEMENT set to that placement (runs with
repetitions, aggregates only; bench/Placement.hpp) and http.json (bench/http_bench.py), and
allocation_bench.json (one run).

A paired benchmark times ours and its floor side by side (bench/Paired.hpp) and reports each as a
counter "<name>_ns"; every figure here is the median of such a counter over the repetitions, and
every ratio is ours over a floor measured in the same benchmark of the same run. A timed target is
met only if it is met in both placements. The scaling rows run two threads on CPUs 0 and 1 (what
they measure needs two CPUs) and come from the split run only.

Prints the placements, one row per line of the table, informational rows after them, and ends with
the line "N/M targets met". Python standard library only.
"""

import json
import os
import statistics
import sys

PLACEMENTS = ("same", "split")


def load(path):
    with open(path, encoding="utf-8") as handle:
        return json.load(handle)


class Results:
    """Medians of one program's repetitions, by benchmark name."""

    def __init__(self, data, expected_placement=None):
        placement = data.get("context", {}).get("placement")
        if expected_placement is not None and placement != expected_placement:
            raise SystemExit("results for placement %s were run with placement %s"
                             % (expected_placement, placement))
        self.median = {}
        self.spread = {}
        self.single = {}
        for entry in data["benchmarks"]:
            if entry.get("error_occurred"):
                raise SystemExit("benchmark %s failed: %s"
                                 % (entry["name"], entry.get("error_message")))
            if entry.get("run_type") == "aggregate":
                if entry.get("aggregate_name") == "median":
                    self.median[entry["run_name"]] = entry
                elif entry.get("aggregate_name") == "cv":
                    self.spread[entry["run_name"]] = entry
            else:
                self.single[entry["run_name"]] = entry

    def entry(self, name):
        found = self.median.get(name) or self.single.get(name)
        if found is None:
            raise SystemExit("no result for benchmark %s" % name)
        return found

    def counter(self, name, counter):
        return self.entry(name)[counter]

    def ns(self, benchmark, variant):
        """A paired variant's median time per operation, in seconds."""
        return self.counter(benchmark, variant + "_ns") * 1e-9

    def cv(self, benchmark, variant):
        """How much a variant's time varied over the repetitions (their coefficient of variation),
        0 when unknown."""
        return self.spread.get(benchmark, {}).get(variant + "_ns", 0.0)


def duration(seconds):
    if seconds >= 1e-3:
        return "%.2f ms" % (seconds * 1e3)
    if seconds >= 1e-6:
        return "%.2f us" % (seconds * 1e6)
    return "%.1f ns" % (seconds * 1e9)


def rate(per_second):
    return "%.3f M/s" % (per_second / 1e6)


class Table:
    HEADER = ("row", "target", "same CPU: ours / floor = ratio",
              "CPUs 0+1: ours / floor = ratio", "status")

    def __init__(self):
        self.rows = []
        self.met = 0
        self.targets = 0

    def add(self, name, target, cells, met):
        """cells: {placement: text}; met: True / False for a target, None for information."""
        if met is not None:
            self.targets += 1
            self.met += 1 if met else 0
        status = "info" if met is None else ("met" if met else "MISSED")
        self.rows.append((name, target, cells.get("same", "-"), cells.get("split", "-"), status))

    @staticmethod
    def cell(ours, floor, show, spread=None):
        """spread: how much the ratio varied over the repetitions, in per cent, where known."""
        text = "%s / %s = %.2fx" % (show(ours), show(floor), ours / floor)
        return text if spread is None else text + " (+-%.0f%%)" % spread

    def at_most(self, name, pairs, limit, show=duration, target=True):
        """pairs: {placement: (ours, floor)}; met when every ratio is at most limit."""
        cells = {p: self.cell(*pair[:2], show, *pair[2:]) for p, pair in pairs.items()}
        met = all(o / f <= limit for o, f, *_ in pairs.values()) if target else None
        self.add(name, "<= %.2fx" % limit if target else "-", cells, met)

    def at_least(self, name, pairs, limit, show=rate, target=True):
        cells = {p: self.cell(*pair[:2], show, *pair[2:]) for p, pair in pairs.items()}
        met = all(o / f >= limit for o, f, *_ in pairs.values()) if target else None
        self.add(name, ">= %.2fx" % limit if target else "-", cells, met)

    def info(self, name, pairs, show=duration):
        self.at_most(name, pairs, 0, show, target=False)

    def count(self, name, value, extra, limit=None):
        text = "%.1f %s" % (value, extra)
        met = None if limit is None else value <= limit
        self.add(name, "-" if limit is None else "<= %d" % limit, {"same": text, "split": "(same)"},
                 met)

    def print(self):
        widths = [max(len(str(row[i])) for row in self.rows + [self.HEADER]) for i in range(5)]
        line = "  ".join("%-" + str(w) + "s" for w in widths)
        print(line % self.HEADER)
        print("  ".join("-" * w for w in widths))
        for row in self.rows:
            print(line % row)


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    directory = sys.argv[1]
    runs = {}
    for placement in PLACEMENTS:
        runs[placement] = {
            program: Results(load(os.path.join(directory, placement, program + ".json")),
                             placement)
            for program in ("future_bench", "delivery_bench", "host_evaluation_bench",
                            "observability_bench")}
    allocations = Results(load(os.path.join(directory, "allocation_bench.json")))
    http = {p: load(os.path.join(directory, p, "http.json")) for p in PLACEMENTS}

    def http_pairs(connections, ours, floor, spread=False):
        """{placement: (ours, floor[, spread])} of the HTTP run; ours/floor pick from its figures;
        spread: that of the ratios of the pairs timed in turns, in per cent of their median."""
        def pair(figures):
            both = (ours(figures, connections), floor(figures, connections))
            ratios = figures["connections"][str(connections)].get("ratios", [])
            if not spread or len(ratios) < 2:
                return both
            return both + (100 * statistics.pstdev(ratios) / statistics.median(ratios),)
        return {p: pair(http[p]) for p in PLACEMENTS}

    def rate(server):
        """Requests per second of `server` ("host" or "floor") at a number of connections."""
        return lambda figures, connections: figures["connections"][str(connections)][server]

    def time_per_request(server):
        return lambda figures, connections: 1 / rate(server)(figures, connections)

    def stdin_line(figures, _):
        return figures["stdin_seconds_per_line"]

    def stdin_rate(figures, _):
        return 1 / stdin_line(figures, _)

    def both(program, benchmark, ours, floor):
        """{placement: (ours, floor, spread of the ratio in per cent)}."""
        def pair(results):
            spread = (results.cv(benchmark, ours) ** 2 + results.cv(benchmark, floor) ** 2) ** 0.5
            return (results.ns(benchmark, ours), results.ns(benchmark, floor), spread * 100)
        return {p: pair(runs[p][program]) for p in PLACEMENTS}

    for placement in PLACEMENTS:
        evaluation = runs[placement]["host_evaluation_bench"].entry("HostEvaluation")
        handoff = runs[placement]["future_bench"].entry("Futures_Handoff")
        print("placement %-5s: timing thread on CPU %d, engine worker on CPU %d, "
              "handoff worker on CPU %d" % (placement, evaluation["caller_cpu"],
                                            evaluation["worker_cpu"], handoff["worker_cpu"]))
    print()

    table = Table()
    # Host evaluation: the plug-in's path against the host functions it calls.
    table.at_most("EnabledFeatures (all flags), JSON end to end vs parse+stringify "
                  "+ 3 direct host calls",
                  both("delivery_bench", "Json/EnabledFeatures", "plugin", "floor"), 2.0)
    table.at_most("fevalSync(version) vs what its request protocol requires at least",
                  both("host_evaluation_bench", "HostEvaluation", "feval", "protocol"), 2.0)
    # JSON end to end: the plug-in's path against what the serializer contract asks at least
    # (POCO objects read into plain values and the answer's built afresh: ContractFloor.hpp).
    json_rows = [("ServiceRegistry", "ServiceRegistry"),
                 ("GetCurrentClientProperties", "GetCurrentClientProperties"),
                 ("ClientTypeBatch", "ClientType batch")]
    for key, label in json_rows:
        table.at_most("JSON end to end: %s vs the serializer contract's floor" % label,
                      both("delivery_bench", "Json/" + key, "plugin", "contract"), 1.5)
    # HTTP: connector-host under wrk against a minimal Beast server serving the same envelopes
    # through the host's core (the two differ in their HTTP edge only), and
    # against its own stdin path ("split" here: every process free on both CPUs).
    table.at_most("HTTP, 1 connection: time per request vs the floor server",
                  http_pairs(1, time_per_request("host"), time_per_request("floor"), True), 1.0)
    for connections in (8, 64):
        table.at_least("HTTP, %d connections: throughput vs the floor server" % connections,
                       http_pairs(connections, rate("host"), rate("floor"), True), 0.9)
    # What watching costs: an envelope counted in the metrics, and written to the access log too,
    # against the same envelope served alone.
    table.at_most("metrics: an envelope counted vs served alone",
                  both("observability_bench", "Observability", "counted", "bare"), 1.05)
    table.at_most("access log: an envelope counted and logged vs served alone",
                  both("observability_bench", "Observability", "logged", "bare"), 1.05)
    # Futures.
    table.at_most("ready future vs boost::make_ready_future",
                  both("future_bench", "Futures_Ready", "connector", "boost"), 1.0)
    table.at_most("chained future (then + get) vs ready future",
                  both("future_bench", "Futures_Chained", "chained", "ready"), 2.0)
    # Scaling of the JSON path: two threads on CPUs 0 and 1 against one.
    split_delivery = runs["split"]["delivery_bench"]

    def scaling(prefix, name):
        one = split_delivery.counter("%s_%s/real_time/threads:1" % (prefix, name),
                                     "items_per_second")
        two = split_delivery.counter("%s_%s/real_time/threads:2" % (prefix, name),
                                     "items_per_second")
        return {"split": (two, one)}

    for name in ["ServiceRegistry", "GetUserHomeDir"]:
        table.at_least("JSON path, 2 threads vs 1: %s" % name, scaling("JsonScaling", name), 1.6)
        table.at_least("deliver on one shared provider, 2 threads vs 1: %s" % name,
                       scaling("Scaling", name), 1.6)
    # Allocations per request through deliver: counts, the same in every placement.
    for name, limit in [("GetUserHomeDir", 5), ("EnabledFeatures", 120),
                        ("SetUserHomeDir", None), ("ServiceRegistry", None),
                        ("GetCurrentClientProperties", None), ("ClientType", None),
                        ("ClientType+GetUserHomeDir", None)]:
        count = allocations.counter("Allocations/" + name, "allocs_per_request")
        request = allocations.counter("Allocations/" + name, "request_allocs")
        table.count("allocations per request: %s" % name, count,
                    "(+%.0f building the request)" % request, limit)

    # Information.
    table.info("ready future vs std::promise + get_future + set_value",
               both("future_bench", "Futures_Ready", "connector", "std"))
    for peer in ("boost", "std"):
        table.info("cross-thread handoff: connector::Promise vs %s::promise" % peer,
                   both("future_bench", "Futures_Handoff", "connector", peer))
    table.info("fevalSync(version) vs a direct call of the same host function",
               both("host_evaluation_bench", "HostEvaluation", "feval", "direct"))
    table.info("fevalSync(version) vs a bare promise round trip through a worker thread",
               both("host_evaluation_bench", "HostEvaluation", "feval", "bare"))
    for key, label in json_rows:
        table.info("JSON end to end: %s vs parse+stringify" % label,
                   both("delivery_bench", "Json/" + key, "plugin", "floor"))
    table.info("delivery: deliver(GetUserHomeDir) vs typed handle",
               both("delivery_bench", "Delivery", "deliver", "handle"))
    for name in ["GetUserHomeDir", "ServiceRegistry"]:
        for prefix, label in [("ScalingOfHandle", "typed handle, no delivery"),
                              ("ScalingOfOwnProvider", "deliver, a provider per thread")]:
            table.at_least("%s, 2 threads vs 1: %s" % (label, name), scaling(prefix, name), 0,
                           target=False)
    for key, label in [("EnabledFeatures", "EnabledFeatures (all flags)"),
                       ("ServiceRegistry", "ServiceRegistry"),
                       ("GetCurrentClientProperties", "GetCurrentClientProperties"),
                       ("ClientTypeBatch", "ClientType batch")]:
        table.info("connector-host envelope: %s vs parse+stringify" % label,
                   both("delivery_bench", "JsonHost/" + key, "host", "floor"))

    table.at_most("HTTP, 1 connection: time per request vs a stdin line",
                  http_pairs(1, time_per_request("host"), stdin_line), 0, target=False)
    for connections in (8, 64):
        table.at_least("HTTP, %d connections: throughput vs the stdin rate" % connections,
                       http_pairs(connections, rate("host"), stdin_rate), 0, target=False)
    table.print()
    print()
    print("%d/%d targets met" % (table.met, table.targets))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Times connector-host's HTTP path against a floor server and against its own stdin path.

Usage: http_bench.py BUILD_DIR OUT_JSON PLACEMENT [SECONDS] [REPETITIONS]

PLACEMENT "same" runs every process (the server, wrk, the stdin host) on CPU 0; "split" leaves
them free on every CPU. For 1, 8 and 64 kept-alive connections, wrk (one thread) posts the same
ServiceRegistry envelope for SECONDS (default 2) to connector-host and to http_floor_server (a
minimal Beast server serving the envelope through the host's own core, so that the two differ
only in their HTTP edge; both must give the same answer), in turns, REPETITIONS
times (default 5); the figure is the median of the requests per second, and the ratios of the
pairs timed one after the other are kept to show the spread. The stdin path is
connector-host reading 50,000 such lines from a file, less its start-up (timed on an empty file).
Writes {"placement", "connections": {"1": {"host": rps, "floor": rps, "ratios": [...]}, ...},
"stdin_seconds_per_line"} to OUT_JSON. Needs wrk on the PATH; Python standard library only.
"""

import contextlib
import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

ENVELOPE = ('{"type": "connector/v1/ServiceRegistry", '
            '"message": {"uuid": "r1", "properties": {"service": "editor"}}}')
CONNECTIONS = (1, 8, 64)
STDIN_LINES = 50000
WRK_SCRIPT = """wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
wrk.body = %s
""" % json.dumps(ENVELOPE)


def pinned(placement, command):
    return (["taskset", "-c", "0"] + command) if placement == "same" else command


class Server:
    """A server process on a free loopback port, read from what it prints when it listens."""

    def __init__(self, command, port_pattern, from_stderr):
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        stream = self.process.stderr if from_stderr else self.process.stdout
        for line in stream:
            found = re.search(port_pattern, line)
            if found:
                self.port = int(found.group(1))
                return
        self.process.kill()
        raise SystemExit("%s did not start: %s" % (command[0], self.process.stderr.read()))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=30)


def answer_of(port):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    connection.request("POST", "/messages", ENVELOPE, {"Content-Type": "application/json"})
    response = connection.getresponse()
    body = response.read()
    connection.close()
    if response.status != 200:
        raise SystemExit("a server answered %d: %r" % (response.status, body))
    return body


def requests_per_second(placement, script, port, connections, seconds):
    done = subprocess.run(pinned(placement, ["wrk", "-t1", "-c%d" % connections,
                                             "-d%ds" % seconds, "-s", script,
                                             "http://127.0.0.1:%d/messages" % port]),
                          capture_output=True, text=True, check=True)
    if "Non-2xx" in done.stdout or "Socket errors" in done.stdout:
        raise SystemExit("wrk saw failed requests:\n" + done.stdout)
    return float(re.search(r"Requests/sec:\s+([\d.]+)", done.stdout).group(1))


def stdin_seconds_per_line(placement, host, directory, repetitions):
    lines = os.path.join(directory, "lines.jsonl")
    empty = os.path.join(directory, "empty.jsonl")
    with open(lines, "w") as out:
        out.write((ENVELOPE + "\n") * STDIN_LINES)
    open(empty, "w").close()

    def elapsed(path):
        started = time.perf_counter()
        subprocess.run(pinned(placement, [host, path]), stdout=subprocess.DEVNULL, check=True)
        return time.perf_counter() - started

    full = statistics.median(elapsed(lines) for _ in range(repetitions))
    start_up = statistics.median(elapsed(empty) for _ in range(repetitions))
    return (full - start_up) / STDIN_LINES


def main():
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    build, out, placement = sys.argv[1:4]
    seconds = int(sys.argv[4]) if len(sys.argv) > 4 else 2
    repetitions = int(sys.argv[5]) if len(sys.argv) > 5 else 5
    host = os.path.join(build, "tools", "connector-host", "connector-host")
    floor = os.path.join(build, "bench", "http_floor_server")
    with tempfile.TemporaryDirectory() as directory:
        script = os.path.join(directory, "post.lua")
        with open(script, "w") as handle:
            handle.write(WRK_SCRIPT)
        with contextlib.ExitStack() as servers:  # both stopped whatever happens
            served = Server(pinned(placement, [host, "--http", "0", "--log-level", "info"]),
                            r"127\.0\.0\.1:(\d+)/", True)
            servers.callback(served.stop)
            floored = Server(pinned(placement, [floor, "0", str(os.cpu_count() or 2)]),
                             r"^(\d+)$", False)
            servers.callback(floored.stop)
            if answer_of(served.port) != answer_of(floored.port):
                raise SystemExit("the floor server's answer differs from connector-host's")
            figures = {}
            for connections in CONNECTIONS:
                runs = {"host": [], "floor": []}
                for _ in range(repetitions):
                    for name, server in (("host", served), ("floor", floored)):
                        runs[name].append(requests_per_second(placement, script, server.port,
                                                              connections, seconds))
                figures[str(connections)] = {k: statistics.median(v) for k, v in runs.items()}
                figures[str(connections)]["ratios"] = [
                    host / floor for host, floor in zip(runs["host"], runs["floor"])]
        per_line = stdin_seconds_per_line(placement, host, directory, repetitions)
    with open(out, "w") as handle:
        json.dump({"placement": placement, "connections": figures,
                   "stdin_seconds_per_line": per_line}, handle, indent=1)


if __name__ == "__main__":
    main()

"""No single input within the default limits makes the host's memory or time run away.

The inputs that once built answers of hundreds of MiB (a batch re-reading a 1 MiB home directory,
a 4 MiB batch of empty messages, an id of a million empty objects, a feature list that repeats a
slow flag) are refused with their limit's error while the peak resident size stays under 256 MiB;
sessions are dropped when idle or over their memory budget, least recently used first.
"""
import json
import os
import subprocess
import sys
import time
import unittest

from harness import (HOST_BINARY, engine_file, envelope, measured_environment,
                         peak_resident_bytes)

VERBOSE = "-v" in sys.argv
MEMORY_GOAL = 256 * 2**20
# ThreadSanitizer multiplies a process's memory several times over (its shadow and history), so
# a figure of that build says nothing about the host's: there, only the refusals are checked.
MEASURED = "TSAN_OPTIONS" not in os.environ


class LineHost:
    """connector-host on stdin, asked one line at a time, so that its peak can be read between."""

    def __init__(self, *args):
        self.process = subprocess.Popen([HOST_BINARY, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        env=measured_environment())

    def ask(self, line):
        self.process.stdin.write((line if isinstance(line, bytes) else line.encode()) + b"\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def close(self):
        self.process.stdin.close()
        code = self.process.wait(timeout=60)
        self.process.stdout.close()
        return code


def batch(messages):
    return envelope("ContainerRequest", {"messages": messages})


class AmplificationTest(unittest.TestCase):
    def test_each_input_is_refused_with_memory_under_the_goal(self):
        slow = engine_file({"functions": {
            "version": {"": "1.0"}, "ver": {"vantrell": []},
            "which": {"vtr": {"delay_ms": 50, "value": "built-in"}}}})
        host = LineHost("--engine", slow)
        empty_objects = "[" + ",".join(["{}"] * 1_390_000) + "]"
        cases = [
            ("a batch of 200 GetUserHomeDir", batch({"GetUserHomeDir": [{}] * 200}),
             "too_many_messages", "A batch may hold at most 64 messages"),
            ("a batch of 60 GetUserHomeDir", batch({"GetUserHomeDir": [{}] * 60}),
             "answer_too_large", "The answer would exceed the limit of 8388608 bytes"),
            ("a 3.98 MiB batch of {} messages",
             '{"type":"connector/v1/ContainerRequest","message":{"messages":{"GetUserHomeDir":'
             + empty_objects + "}}}", "too_many_values", "JSON holds more than 50000 values"),
            ("an id of 1.39 M {}", '{"id":' + empty_objects + ',"type":"connector/v1/GetUserHomeDir"}',
             "too_many_values", "JSON holds more than 50000 values"),
            ("an id of 49,000 {} (within the value limit)",
             '{"id":[' + ",".join(["{}"] * 49000) + '],"type":"connector/v1/GetUserHomeDir"}',
             "invalid_envelope", '"id" must be a text, an integer or null'),
            ("200 repeats of a slow flag",
             envelope("EnabledFeatures", {"features": ["isVantrellCmdEnabled"] * 200}),
             "too_many_features", "one request may name at most 32"),
        ]
        try:
            home = "/h/" + "x" * (1 << 20)
            self.assertEqual(host.ask(envelope("SetUserHomeDir", {"userHomeDir": home}))["type"],
                             "connector/v1/SetUserHomeDirResponse")
            for label, line, kind, text in cases:
                with self.subTest(input=label):
                    started = time.monotonic()
                    error = host.ask(line)["error"]
                    self.assertEqual(error["kind"], kind)
                    self.assertIn(text, error["message"])
                    self.assertLess(time.monotonic() - started, 10)
                    peak = peak_resident_bytes(host.process.pid)
                    if VERBOSE:
                        print("\n  %-45s %-18s peak %6.1f MiB" % (label, kind, peak / 2**20),
                              file=sys.stderr)
                    if MEASURED:
                        self.assertLess(peak, MEMORY_GOAL)
            # Within the answer limit, the same batch is served.
            answer = host.ask(batch({"GetUserHomeDir": [{}] * 6}))
            self.assertEqual(len(answer["message"]["messages"]["GetUserHomeDirResponse"]), 6)
            if MEASURED:
                self.assertLess(peak_resident_bytes(host.process.pid), MEMORY_GOAL)
        finally:
            self.assertEqual(host.close(), 0)
            os.unlink(slow)


class SessionEvictionTest(unittest.TestCase):
    @staticmethod
    def properties_of(host, session):
        answer = host.ask(envelope("GetCurrentClientProperties", {}, session=session))
        return answer["message"]["properties"]

    def test_idle_and_least_recently_used_sessions_are_dropped(self):
        host = LineHost("--session-budget", "4000000", "--session-idle", "1")
        try:
            table = {"key%d" % n: "v" * 1000 for n in range(300)}  # about 300 kB a session
            for number in range(50):
                answer = host.ask(envelope("GetUserHomeDir", {}, session="s%d" % number,
                                           context={"clientProperties": table}))
                self.assertIn("type", answer)
            # Fifteen MB were written into a 4 MB budget: the oldest sessions are gone, the most
            # recent ones are whole.
            self.assertEqual(self.properties_of(host, "s0"), {})
            self.assertEqual(self.properties_of(host, "s49"), table)
            self.assertEqual(self.properties_of(host, "s48"), table)

            host.ask(envelope("GetUserHomeDir", {}, session="idle",
                              context={"clientProperties": {"a": "b"}}))
            self.assertEqual(self.properties_of(host, "idle"), {"a": "b"})
            time.sleep(1.5)
            self.assertEqual(self.properties_of(host, "idle"), {})
        finally:
            self.assertEqual(host.close(), 0)


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

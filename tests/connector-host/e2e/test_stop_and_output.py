"""connector-host stops cleanly under load and never loses an answer silently.

SIGTERM while a dozen clients keep EnabledFeatures requests in flight against a slow engine:
every request gets its answer or a refusal (503 "stopping", or the connection refused or closed
before the request was taken), no answer is wrong, and the host exits 0. A second signal during
the drain stops the host at once, deliberately: it says so, and exits 3. On stdin, an answer that
cannot be written (stdout full, or a reader that went away) is reported on stderr and the host
exits 1.
"""
import http.client
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

from harness import HOST_BINARY, HttpHost, engine_file, envelope, wait_until

SLOW_ENGINE = {"functions": {
    "version": {"": "4.2.0 build 1187"},
    "ver": {"vantrell": [{"Name": "Vantrell"}]},
    "which": {"vtr": {"delay_ms": 50, "value": "built-in (/opt/quorix/lib/vtr)"}},
    "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": 50, "value": "on"}}}}

VERBOSE = "-v" in sys.argv

# Failures that mean the host turned a request away before taking it, not that it lost one.
REFUSED = (ConnectionRefusedError, ConnectionResetError, BrokenPipeError,
           http.client.RemoteDisconnected)


class StopUnderLoadTest(unittest.TestCase):
    CLIENTS = 12

    def round(self, engine, *args, second_signal=None):
        outcomes = {"answered": 0, "stopping": 0, "refused": 0}
        wrong, lock, stop = [], threading.Lock(), threading.Event()
        request = envelope("EnabledFeatures", {"uuid": "u", "features": ["isQGGEnabled"]})

        def client(host):
            connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=60)
            while not stop.is_set():
                try:
                    connection.request("POST", "/messages", request,
                                       {"Content-Type": "application/json"})
                    response = connection.getresponse()
                    answer = response.read()
                except REFUSED:
                    with lock:
                        outcomes["refused"] += 1
                    connection.close()
                    time.sleep(0.01)
                    continue
                kind = "answered" if response.status == 200 else "stopping"
                expected = b'"features":{"isQGGEnabled":true}' if kind == "answered" \
                    else b'"kind":"stopping"'
                with lock:
                    outcomes[kind] += 1
                    if response.status not in (200, 503) or expected not in answer:
                        wrong.append((response.status, answer[:200]))

        with HttpHost("--engine", engine, *args) as host:
            threads = [threading.Thread(target=client, args=(host,)) for _ in range(self.CLIENTS)]
            for thread in threads:
                thread.start()
            wait_until(lambda: outcomes["answered"] > self.CLIENTS, 60, "answers under load")
            host.process.send_signal(signal.SIGTERM)
            started = time.monotonic()
            if second_signal:
                time.sleep(0.02)
                host.process.send_signal(second_signal)
            host.process.wait(timeout=30)
            stopped_after = time.monotonic() - started
            stop.set()
            for thread in threads:
                thread.join(60)
        self.assertEqual(host.process.returncode, 3 if second_signal else 0, host.stderr[-2000:])
        self.assertIn(b"connector-host: stopped", host.stderr)
        if second_signal:
            self.assertIn(b"connector-host: stopping at once on a second signal", host.stderr)
        self.assertEqual(wrong, [])
        self.assertGreater(outcomes["answered"], self.CLIENTS)
        if VERBOSE:
            print("\n  %s: stopped %.2f s after SIGTERM" % (outcomes, stopped_after), file=sys.stderr)
        return outcomes, stopped_after

    def test_sigterm_with_requests_in_flight(self):
        engine = engine_file(SLOW_ENGINE)
        try:
            for number in range(3):
                with self.subTest(round=number, drain="default"):
                    outcomes, stopped_after = self.round(engine)
                    # Everything in flight finishes well within the default drain time.
                    self.assertEqual(outcomes["stopping"], 0, outcomes)
                    self.assertLess(stopped_after, 5.0)
            for number in range(2):
                with self.subTest(round=number, drain="short"):
                    # Twelve requests queue for one engine that runs 150 ms per request: a 0.2 s
                    # drain cuts some off, and they are told so.
                    outcomes, stopped_after = self.round(engine, "--drain-timeout", "0.2")
                    self.assertGreater(outcomes["stopping"], 0, outcomes)
                    self.assertLess(stopped_after, 3.0)
        finally:
            os.unlink(engine)

    def test_a_second_signal_stops_at_once(self):
        engine = engine_file(SLOW_ENGINE)
        try:
            for second in (signal.SIGTERM, signal.SIGINT):
                with self.subTest(second=second):
                    # A long drain, cut short: what was in hand is told "stopping" at once.
                    outcomes, stopped_after = self.round(engine, "--drain-timeout", "60",
                                                         second_signal=second)
                    self.assertGreater(outcomes["stopping"], 0, outcomes)
                    self.assertLess(stopped_after, 10.0)
        finally:
            os.unlink(engine)


class OutputFailureTest(unittest.TestCase):
    LINES = b"".join(envelope("GetUserHomeDir", id=n).encode() + b"\n" for n in range(2000))

    def test_stdout_full(self):
        with open("/dev/full", "wb") as full:
            done = subprocess.run([HOST_BINARY], input=self.LINES, stdout=full,
                                  stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"cannot write an answer to stdout: No space left on device", done.stderr)

    def test_reader_goes_away(self):
        host = subprocess.Popen([HOST_BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        host.stdin.write(self.LINES[:200])
        host.stdin.flush()
        host.stdout.readline()
        host.stdout.close()  # like `| head -n1`
        try:
            host.stdin.write(self.LINES)
            host.stdin.close()
        except BrokenPipeError:
            pass  # the host stopped reading: what is asserted next
        finally:
            try:
                host.stdin.close()
            except BrokenPipeError:
                pass
        self.assertEqual(host.wait(timeout=60), 1)
        self.assertIn(b"cannot write an answer to stdout: Broken pipe", host.stderr.read())
        host.stderr.close()


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

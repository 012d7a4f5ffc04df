# connector-host stops cleanly under load and never loses an answer silently.
#
# A stop signal as soon as the host serves ends it with 0: every thread it starts must block SIGINT
# and SIGTERM, or the signal's default action would kill the host whenever it came before the wait.
# SIGTERM with a dozen clients in flight against a slow engine: each request gets its answer or a
# refusal (503 "stopping", or the connection refused or closed before it was taken), none a wrong
# one, and the host exits 0. A second signal during the drain stops it at once: it says so and
# exits 3. On stdin, an answer that cannot be written (stdout full, the reader gone) is reported on
# stderr and the host exits 1.
import http.client
import signal
import subprocess
import threading
import time
import unittest

from harness import HOST_BINARY, HttpHost, engine_file, envelope, main, say, wait_until

SLOW_ENGINE = {"functions": {
    "version": {"": "4.2.0 build 1187"}, "ver": {"vantrell": [{"Name": "Vantrell"}]},
    "which": {"vtr": {"delay_ms": 50, "value": "built-in (/opt/quorix/lib/vtr)"}},
    "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": 50, "value": "on"}}}}
# Failures that mean the host turned a request away before taking it, not that it lost one.
REFUSED = (ConnectionRefusedError, ConnectionResetError, BrokenPipeError,
           http.client.RemoteDisconnected)
ROUNDS = 60  # each early signal hits the window before the wait with some chance, not always


class StopTest(unittest.TestCase):
    def test_an_early_stop_signal_ends_the_host_cleanly(self):
        for stop in (signal.SIGTERM, signal.SIGINT):
            codes = []
            for _ in range(ROUNDS):
                with subprocess.Popen([HOST_BINARY, "--http", "0"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.PIPE) as host:
                    self.assertIn(b"serving POST", host.stderr.readline())
                    host.send_signal(stop)
                    codes.append(host.wait(timeout=60))
            self.assertEqual([code for code in codes if code != 0], [], stop)

    # One stop under load; `cut`: whether some requests must be told "stopping"; `within`: the
    # longest the stop may take.
    def round(self, *args, second_signal=None, cut, within):
        outcomes = {"answered": 0, "stopping": 0, "refused": 0}
        wrong, lock, done = [], threading.Lock(), threading.Event()

        def client(port, number):  # each with an id of its own, to be echoed in its answers
            request = envelope("EnabledFeatures", {"features": ["isQGGEnabled"]}, id=number)
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
            while not done.is_set():
                try:
                    connection.request("POST", "/messages", request,
                                       {"Content-Type": "application/json"})
                    response = connection.getresponse()
                    answer = response.read()
                except REFUSED:
                    with lock:
                        outcomes["refused"] += 1
                    connection.close()
                    done.wait(0.01)
                    continue
                kind = "answered" if response.status == 200 else "stopping"
                expected = b'{"error":{"kind":"stopping"' if kind == "stopping" else (
                    b'{"id":%d,"type":"connector/v1/EnabledFeaturesResponse","message":'
                    b'{"features":{"isQGGEnabled":true}' % number)
                with lock:
                    outcomes[kind] += 1
                    if response.status not in (200, 503) or not answer.startswith(expected):
                        wrong.append((response.status, answer[:200]))

        with HttpHost("--engine", engine_file(self, SLOW_ENGINE), *args, clean_exit=False) as host:
            threads = [threading.Thread(target=client, args=(host.port, n)) for n in range(12)]
            for thread in threads:
                thread.start()
            wait_until(lambda: outcomes["answered"] > 12, 60, "answers under load")
            host.process.send_signal(signal.SIGTERM)
            started = time.monotonic()
            if second_signal:
                wait_until(lambda: b"stopping on signal" in host.process.stderr.readline(), 10)
                host.process.send_signal(second_signal)
            host.process.wait(timeout=30)
            stopped_after = time.monotonic() - started
            done.set()
            for thread in threads:
                thread.join(60)
        self.assertEqual(host.process.returncode, 3 if second_signal else 0, host.stderr[-2000:])
        self.assertIn(b"connector-host: stopped", host.stderr)
        self.assertEqual(second_signal is not None,
                         b"connector-host: stopping at once on a second signal" in host.stderr)
        self.assertEqual(wrong, [])
        self.assertGreater(outcomes["answered"], 12)
        self.assertEqual(outcomes["stopping"] > 0, cut, outcomes)
        self.assertLess(stopped_after, within)
        say("%s: stopped %.2f s after SIGTERM" % (outcomes, stopped_after))

    def test_sigterm_with_requests_in_flight(self):
        for _ in range(3):  # everything in flight finishes well within the default drain time
            self.round(cut=False, within=5.0)
        for _ in range(2):
            # Twelve requests queue for one engine that takes 150 ms a request: a 0.2 s drain
            # cuts some off, and they are told so.
            self.round("--drain-timeout", "0.2", cut=True, within=3.0)

    def test_a_second_signal_stops_at_once(self):
        for second in (signal.SIGTERM, signal.SIGINT):
            # A long drain, cut short: what was in hand is told "stopping" at once.
            self.round("--drain-timeout", "60", second_signal=second, cut=True, within=10.0)


class OutputFailureTest(unittest.TestCase):
    LINES = b"".join(envelope("GetUserHomeDir", id=n).encode() + b"\n" for n in range(2000))

    def test_stdout_full(self):
        with open("/dev/full", "wb") as full:
            done = subprocess.run([HOST_BINARY], input=self.LINES, stdout=full,
                                  stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"cannot write an answer to stdout: No space left on device", done.stderr)

    def test_reader_goes_away(self):
        with subprocess.Popen([HOST_BINARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, bufsize=0) as host:
            host.stdin.write(self.LINES[:200])
            host.stdin.flush()
            host.stdout.readline()
            host.stdout.close()  # like `| head -n1`
            try:
                host.stdin.write(self.LINES)
                host.stdin.close()
            except BrokenPipeError:
                pass  # the host stopped reading: what is asserted next
            self.assertEqual(host.wait(timeout=60), 1)
            self.assertIn(b"cannot write an answer to stdout: Broken pipe", host.stderr.read())


if __name__ == "__main__":
    main()

# connector-host stops cleanly under load and never loses an answer silently.
#
# A stop signal as soon as the host serves ends it with 0: every thread it starts must block SIGINT
# and SIGTERM, or the signal's default action would kill the host whenever it came before the wait.
# SIGTERM with a dozen clients in flight against a slow engine: each request gets its answer or a
# refusal (503 "stopping" with the request's id, or the connection refused or closed before it
# was taken), none a wrong one, and the host exits 0. The same signal twice at once (as timeout(1)
# sends it) is one stop; a second stop during the drain (another signal, or the same one after a
# second) stops it at once: it says so and exits 3. On stdin, an answer that cannot be written (stdout full, the reader gone) is reported on
# stderr and the host exits 1.
import http.client
import json
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
                with subprocess.Popen([HOST_BINARY, "--http", "0", "--log-level", "info"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE) as host:
                    self.assertIn(b"serving the page at", host.stderr.readline())
                    host.send_signal(stop)
                    codes.append(host.wait(timeout=60))
            self.assertEqual([code for code in codes if code != 0], [], stop)

    # One stop under load; `second`: a signal sent `after` seconds into the drain, and whether it
    # is a second stop; `cut`: whether some requests must be told "stopping"; `within`: the
    # longest the stop may take.
    def round(self, *args, second=None, after=0.0, twice=False, cut, within, engine=SLOW_ENGINE):
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
                expected = b'{"id":%d,"error":{"kind":"stopping"' % number if kind == "stopping" else (
                    b'{"id":%d,"type":"connector/v1/EnabledFeaturesResponse","message":'
                    b'{"features":{"isQGGEnabled":true}' % number)
                with lock:
                    outcomes[kind] += 1
                    if response.status not in (200, 503) or not answer.startswith(expected):
                        wrong.append((response.status, answer[:200]))

        with HttpHost("--engine", engine_file(self, engine), "--log-level", "info", *args,
                      clean_exit=False) as host:
            threads = [threading.Thread(target=client, args=(host.port, n)) for n in range(12)]
            for thread in threads:
                thread.start()
            wait_until(lambda: outcomes["answered"] > 12, 60, "answers under load")
            host.process.send_signal(signal.SIGTERM)
            started = time.monotonic()
            if second:
                wait_until(lambda: b"stopping on signal" in host.process.stderr.readline(), 10)
                time.sleep(after)  # the window in which a repeat is the same stop is what counts
                host.process.send_signal(second)
            host.process.wait(timeout=30)
            stopped_after = time.monotonic() - started
            done.set()
            for thread in threads:
                thread.join(60)
        self.assertEqual(host.process.returncode, 3 if twice else 0, host.stderr[-2000:])
        self.assertIn(b"connector-host: stopped", host.stderr)
        self.assertEqual(twice, b"connector-host: stopping at once on a second signal" in host.stderr)
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

    def test_a_second_stop_stops_at_once_and_a_repeat_does_not(self):
        # A long drain, cut short: what was in hand is told "stopping" at once.
        self.round("--drain-timeout", "60", second=signal.SIGINT, twice=True, cut=True,
                   within=10.0)
        # The same signal later (past the window) is a second stop too: the requests in hand
        # take 250 ms each, so the drain is still going on.
        slower = json.loads(json.dumps(SLOW_ENGINE))
        slower["functions"]["qls.internal.feature"]["graphicsAndGuis"]["delay_ms"] = 250
        self.round("--drain-timeout", "60", second=signal.SIGTERM, after=1.2, twice=True,
                   cut=True, within=10.0, engine=slower)
        # The same signal again at once is the same stop: the drain goes on and ends well.
        self.round(second=signal.SIGTERM, cut=False, within=5.0)


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

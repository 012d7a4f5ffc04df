"""Connection floods never lock a good client out, and descriptors always come back.

At the connection cap, idle connections (none sent a byte, or kept alive between requests) are
reclaimed for newcomers, longest idle first, and so are requests that trickle in: a good request
is answered within a second or two beside 2,000 idle connections or 80 trickling ones. Under a
low open-files limit the host says so, reclaims idle connections, refuses a client it cannot
serve with 503 at once rather than leaving it hanging, burns no CPU waiting, and refuses to start
at all when not even one connection would fit.
"""
import contextlib
import os
import select
import socket
import subprocess
import sys
import threading
import time
import unittest

from harness import (HOST_BINARY, HttpHost, cpu_seconds, describe_descriptors, envelope,
                         open_descriptors, raise_own_open_files, request_bytes,
                         slow_feature_engine, wait_until)

VERBOSE = "-v" in sys.argv
GOOD = envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": "editor"}})


def say(text):
    if VERBOSE:
        print("\n  " + text, file=sys.stderr)


class FloodTest(unittest.TestCase):
    def good_request(self, host, bound):
        started = time.monotonic()
        status, _, answer, _ = host.exchange(request_bytes(GOOD, host.port))
        waited = time.monotonic() - started
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(answer["message"]["properties"]["service"], "editor")
        self.assertLess(waited, bound)
        return waited

    def test_idle_connections_are_reclaimed_for_a_good_client(self):
        wanted = 2000
        if raise_own_open_files(wanted + 100) < wanted + 100:
            self.skipTest("this process may not open %d descriptors" % wanted)
        with HttpHost() as host, contextlib.ExitStack() as stack:
            pid = host.process.pid
            level = open_descriptors(pid)
            idle = [stack.enter_context(contextlib.closing(socket.socket()))
                    for _ in range(wanted)]
            for connection in idle:
                connection.setblocking(False)
                connection.connect_ex(("127.0.0.1", host.port))
            waited = self.good_request(host, 2.0)
            say("good request beside %d idle connections: %.0f ms" % (wanted, waited * 1000))
            # Kept-alive connections left idle are reclaimed the same way.
            kept = []
            for _ in range(70):
                connection = stack.enter_context(contextlib.closing(
                    socket.create_connection(("127.0.0.1", host.port), 10)))
                connection.sendall(request_bytes(GOOD, host.port))
                self.assertIn(b"200 OK", connection.recv(65536))
                kept.append(connection)
            self.good_request(host, 2.0)
            stack.close()
            try:
                wait_until(lambda: open_descriptors(pid) <= level, 30, "the descriptors")
            except AssertionError:
                self.fail("%d descriptors open, %d before: %s" % (
                    open_descriptors(pid), level, describe_descriptors(pid)))
        self.assertEqual(host.process.returncode, 0)

    def test_trickling_requests_are_reclaimed_for_a_good_client(self):
        with HttpHost("--request-timeout", "30") as host, contextlib.ExitStack() as stack:
            trickling = [stack.enter_context(contextlib.closing(
                socket.create_connection(("127.0.0.1", host.port), 10))) for _ in range(80)]
            head = request_bytes(GOOD, host.port)
            stop = threading.Event()

            def trickle():
                step = 0
                while not stop.is_set() and step < len(head) - 1:
                    for connection in trickling:
                        try:
                            connection.sendall(head[step:step + 1])
                        except OSError:
                            pass  # reclaimed
                    step += 1
                    stop.wait(0.3)

            trickler = threading.Thread(target=trickle)
            trickler.start()
            try:
                time.sleep(1.0)  # let every trickling request grow older than the reclaim age
                for _ in range(3):
                    waited = self.good_request(host, 2.0)
                say("good request beside 80 trickling ones: %.0f ms" % (waited * 1000))
            finally:
                stop.set()
                trickler.join()
            # A reclaimed request was told why.
            told = b""
            for connection in trickling:
                connection.settimeout(0.5)
                with contextlib.suppress(OSError):
                    told += connection.recv(4096)
            self.assertIn(b'"kind":"overloaded"', told)
        self.assertEqual(host.process.returncode, 0)


class OpenFilesTest(unittest.TestCase):
    # UndefinedBehaviorSanitizer checks a vtable pointer by probing memory through a pipe: in a
    # process with no descriptor left the probe fails and it reports valid objects as broken
    # (its suppressions do not reach that report). The release and ThreadSanitizer runs cover
    # this test.
    @unittest.skipIf("UBSAN_OPTIONS" in os.environ,
                     "UBSan's vtable check needs file descriptors this test takes away")
    def test_out_of_descriptors_the_host_reclaims_refuses_and_keeps_calm(self):
        with HttpHost("--max-connections", "64", open_files=48) as host, \
                contextlib.ExitStack() as stack:
            idle = [stack.enter_context(contextlib.closing(
                socket.create_connection(("127.0.0.1", host.port), 10))) for _ in range(200)]
            self.assertEqual(len(idle), 200)
            FloodTest.good_request(self, host, 2.0)
            used = cpu_seconds(host.process.pid)
            time.sleep(1.0)  # the time over which it must not spin
            self.assertLess(cpu_seconds(host.process.pid) - used, 0.3)
        self.assertIn(b"out of file descriptors", host.stderr)
        # Said once, not once per accept that failed (an attacker could fill the log).
        self.assertLess(host.stderr.count(b"out of file descriptors"), 3, host.stderr[-2000:])

        slow = slow_feature_engine(2000)
        request = request_bytes(envelope("EnabledFeatures", {"features": ["isQGGEnabled"]}), 0)
        try:
            with HttpHost("--engine", slow, "--drain-timeout", "0.2", open_files=40) as host, \
                    contextlib.ExitStack() as stack:
                request = request.replace(b":0\r\n", b":%d\r\n" % host.port)
                clients = []
                for _ in range(60):  # more than the host has descriptors for
                    connection = stack.enter_context(contextlib.closing(
                        socket.create_connection(("127.0.0.1", host.port), 10)))
                    connection.sendall(request)
                    clients.append(connection)
                # Each busy request takes the slow engine two seconds; those the host has no
                # descriptor for are told so at once.
                refused = []
                deadline = time.monotonic() + 20
                while not refused and time.monotonic() < deadline:
                    readable, _, _ = select.select(clients, [], [], 0.1)
                    for connection in readable:
                        try:
                            reply = connection.recv(4096)
                        except ConnectionResetError:
                            reply = b""
                        if b" 503 " in reply.split(b"\r\n", 1)[0]:
                            refused.append(reply)
                        clients.remove(connection)
                self.assertTrue(refused, "no client was refused")
                self.assertIn(b'"kind":"overloaded"', refused[0])
        finally:
            os.unlink(slow)

    def test_too_few_descriptors_to_serve_at_all(self):
        def limit():
            import resource
            resource.setrlimit(resource.RLIMIT_NOFILE, (12, 12))
        done = subprocess.run([HOST_BINARY, "--http", "0"], capture_output=True, text=True,
                              timeout=30, preexec_fn=limit)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn("the open-files limit of 12 leaves no descriptor for a connection",
                      done.stderr)


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

"""Slow, idle and surplus connections never shut a good client out.

Beside 8 connections that send nothing, 8 that trickle a header byte every 0.3 s and 8 kept-alive
connections left idle, a good client is answered at once; the host closes each kind of slow
connection at its deadline. At the connection cap, the longest idle connection makes room for a
newcomer, and requests being processed are never cut off for one.
"""
import contextlib
import os
import socket
import sys
import time
import unittest

from harness import HttpHost, envelope, request_bytes, slow_feature_engine

VERBOSE = "-v" in sys.argv
GOOD = envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": "editor"}})


def closed_by_host(connection, within):
    """Whether the host closes `connection` within `within` seconds (reading what it sends)."""
    connection.settimeout(within)
    try:
        while connection.recv(4096):
            pass
        return True
    except ConnectionResetError:
        return True
    except socket.timeout:
        return False


class SlowClientsTest(unittest.TestCase):
    def good_request(self, host):
        """Sends a good request on a new connection; gives how long its answer took."""
        started = time.monotonic()
        status, _, answer, _ = host.exchange(request_bytes(GOOD, host.port))
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertEqual(answer["message"]["properties"]["service"], "editor")
        waited = time.monotonic() - started
        if VERBOSE:
            print("\n  good request answered in %.1f ms" % (waited * 1000), file=sys.stderr)
        return waited

    def test_slow_and_idle_connections_beside_a_good_client(self):
        with HttpHost("--request-timeout", "2", "--idle-timeout", "1") as host, \
                contextlib.ExitStack() as stack:
            def connect():
                return stack.enter_context(contextlib.closing(
                    socket.create_connection(("127.0.0.1", host.port), 10)))

            silent = [connect() for _ in range(8)]
            trickling = [connect() for _ in range(8)]
            kept_alive = [connect() for _ in range(8)]
            for connection in kept_alive:
                connection.sendall(request_bytes(GOOD, host.port))
                self.assertIn(b"200 OK", connection.recv(65536))
            head = request_bytes(GOOD, host.port)
            for step in range(4):  # one byte each 0.3 s: never a whole head
                for connection in trickling:
                    connection.sendall(head[step:step + 1])
                self.assertLess(self.good_request(host), 1.0)
                time.sleep(0.3)

            # Idle ones go at the idle time-out (1 s), trickling ones at the request one (2 s).
            self.assertTrue(all(closed_by_host(c, 3) for c in silent + kept_alive))
            self.assertTrue(all(closed_by_host(c, 3) for c in trickling))
            self.assertLess(self.good_request(host), 1.0)
        self.assertEqual(host.process.returncode, 0)

    def test_at_the_cap_the_longest_idle_connection_makes_room(self):
        with HttpHost("--max-connections", "4") as host, contextlib.ExitStack() as stack:
            idle = []
            for _ in range(4):  # kept alive, and so idle since their answer, in this order
                connection = stack.enter_context(contextlib.closing(
                    socket.create_connection(("127.0.0.1", host.port), 10)))
                connection.sendall(request_bytes(GOOD, host.port))
                self.assertIn(b"200 OK", connection.recv(65536))
                idle.append(connection)
            self.assertLess(self.good_request(host), 2.0)
            self.assertTrue(closed_by_host(idle[0], 5))
            for connection in idle[1:]:
                self.assertFalse(closed_by_host(connection, 0.2))
        self.assertEqual(host.process.returncode, 0)

    def test_requests_blocked_on_the_engine_hold_up_no_one_else(self):
        slow = slow_feature_engine(5000)
        self.addCleanup(os.unlink, slow)
        blocked = request_bytes(envelope("EnabledFeatures", {"features": ["isQGGEnabled"]}), 0)
        with HttpHost("--engine", slow, "--drain-timeout", "0.5") as host, \
                contextlib.ExitStack() as stack:
            # As many blocked requests as the host has threads of its own, or more.
            for _ in range(max(2, os.cpu_count() or 2)):
                connection = stack.enter_context(contextlib.closing(
                    socket.create_connection(("127.0.0.1", host.port), 10)))
                connection.sendall(blocked.replace(b":0\r\n", b":%d\r\n" % host.port))
            for _ in range(8):  # each on a connection of its own, beside the blocked ones
                self.assertLess(self.good_request(host), 2.0)
        self.assertEqual(host.process.returncode, 0)

    def test_requests_in_hand_are_never_reclaimed(self):
        slow = slow_feature_engine(300)
        self.addCleanup(os.unlink, slow)
        request = envelope("EnabledFeatures", {"features": ["isQGGEnabled"]})
        with HttpHost("--max-connections", "2", "--engine", slow) as host, \
                contextlib.ExitStack() as stack:
            busy = [stack.enter_context(contextlib.closing(
                socket.create_connection(("127.0.0.1", host.port), 10))) for _ in range(2)]
            for connection in busy:
                connection.sendall(request_bytes(request, host.port))
            self.good_request(host)  # waits for a slot
            for connection in busy:
                connection.settimeout(30)
                self.assertIn(b"200 OK", connection.recv(65536))
        self.assertEqual(host.process.returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

"""Slow, idle and surplus connections never shut a good client out.

Beside 8 connections that send nothing, 8 that trickle a header byte every 0.3 s and 8 kept-alive
connections left idle, a good client is answered at once; the host closes each kind of slow
connection at its deadline; and beyond the connection cap, a newcomer waits only until a slot
frees.
"""
import contextlib
import socket
import sys
import time
import unittest

from hostharness import HttpHost, envelope, request_bytes

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

    def test_a_newcomer_beyond_the_cap_waits_for_a_slot(self):
        with HttpHost("--max-connections", "4", "--idle-timeout", "1") as host, \
                contextlib.ExitStack() as stack:
            for _ in range(4):
                stack.enter_context(contextlib.closing(
                    socket.create_connection(("127.0.0.1", host.port), 10)))
            time.sleep(0.2)
            waited = self.good_request(host)
            # Queued until the idle time-out closes one of the four, then served at once.
            self.assertGreater(waited, 0.5)
            self.assertLess(waited, 3.0)
        self.assertEqual(host.process.returncode, 0)


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

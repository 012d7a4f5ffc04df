"""A stop signal sent as soon as connector-host --http says it serves ends it cleanly (exit 0).

Every thread the host starts, the engine's worker among them, must block SIGINT and SIGTERM so
that only the thread waiting for them receives them; a thread that did not would be killed by the
signal's default action, and the whole host with it, whenever the signal came before the wait.
"""
import subprocess
import unittest

from harness import HOST_BINARY

ROUNDS = 60  # each round hits the window before the wait with some chance, not always


class StopSignalTest(unittest.TestCase):
    def test_an_early_stop_signal_ends_the_host_cleanly(self):
        for signal_name, send in (("SIGTERM", subprocess.Popen.terminate),
                                  ("SIGINT", lambda p: p.send_signal(2))):
            outcomes = {}
            for _ in range(ROUNDS):
                host = subprocess.Popen([HOST_BINARY, "--http", "0"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
                with host:
                    self.assertIn(b"serving POST", host.stderr.readline())
                    send(host)
                    host.wait(timeout=60)
                    outcomes[host.returncode] = outcomes.get(host.returncode, 0) + 1
            with self.subTest(signal=signal_name):
                self.assertEqual(outcomes, {0: ROUNDS})


if __name__ == "__main__":
    unittest.main()

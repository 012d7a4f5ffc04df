"""HTTP framing as an attacker writes it: no request smuggled, no crash, no memory without bound.

A Transfer-Encoding the host does not implement, or any framing that two readers could take two
ways, is refused and its connection closed: a SetUserHomeDir hidden after the head is never run.
A trailer field of 64 KiB (which once ended the process), 64 MiB of small trailer fields and a
64 MiB chunk extension are refused with the host's memory barely moving, and the host goes on
serving.
"""
import contextlib
import socket
import sys
import unittest

from harness import HttpHost, envelope, peak_resident_bytes, request_bytes

VERBOSE = "-v" in sys.argv
HIDDEN = request_bytes(envelope("SetUserHomeDir", {"userHomeDir": "/smuggled"}), 0)
GOOD = envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": "editor"}})


def head(port, fields, version="1.1"):
    lines = ["POST /messages HTTP/%s" % version, "Host: 127.0.0.1:%d" % port,
             "Content-Type: application/json"] + fields
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


class SmugglingTest(unittest.TestCase):
    def test_nothing_after_a_framing_fault_runs_as_a_request(self):
        smuggled = HIDDEN.replace(b"Host: 127.0.0.1:0", b"Host: 127.0.0.1:%d")
        cases = [
            ("an unknown coding", ["Transfer-Encoding: xchunked"], "1.1", 400),
            ("chunked, then identity", ["Transfer-Encoding: chunked, identity"], "1.1", 400),
            ("gzip", ["Transfer-Encoding: gzip"], "1.1", 400),
            ("gzip before chunked", ["Transfer-Encoding: gzip, chunked"], "1.1", 501),
            ("two Transfer-Encoding fields",
             ["Transfer-Encoding: chunked", "Transfer-Encoding: chunked"], "1.1", 400),
            ("chunked in HTTP/1.0",
             ["Transfer-Encoding: chunked", "Connection: keep-alive"], "1.0", 400),
            ("a length beside a coding", ["Transfer-Encoding: gzip", "Content-Length: 0"], "1.1",
             400),
            ("a length beside chunked", ["Content-Length: 0", "Transfer-Encoding: chunked"], "1.1",
             400),
            ("two lengths", ["Content-Length: 0", "Content-Length: 0"], "1.1", 400),
            ("a length that is not plain digits", ["Content-Length: 0x0"], "1.1", 400),
        ]
        with HttpHost() as host:
            hidden = smuggled.replace(b"%d", str(host.port).encode())
            for label, fields, version, status in cases:
                with self.subTest(label):
                    # Read as chunked, the body would end at once; read as no body, it would
                    # not: either way the hidden request follows it.
                    body = b"0\r\n\r\n" if version == "1.0" else b""
                    line, headers, answer, closed = host.exchange(
                        head(host.port, fields, version) + body + hidden)
                    self.assertEqual(int(line.split()[1]), status, answer)
                    self.assertEqual(headers["Connection"], "close")
                    self.assertTrue(closed)
                    self.assertEqual(host.home_directory(), "")
            # A chunked body framed right is served, and so is what follows it.
            body = GOOD.encode()
            chunked = head(host.port, ["Transfer-Encoding: chunked"]) + \
                b"%x;ext=1\r\n%s\r\n0\r\n\r\n" % (len(body), body)
            line, headers, answer, _ = host.exchange(chunked)
            self.assertEqual(line, "HTTP/1.1 200 OK")
            self.assertEqual(answer["message"]["properties"]["service"], "editor")
        self.assertEqual(host.process.returncode, 0)


class TrailerAndExtensionTest(unittest.TestCase):
    def send_refused(self, host, start, filler, total):
        """Sends `start`, then `filler` until `total` bytes or the host closes; gives the
        status line (or None when the host closed before answering)."""
        with contextlib.closing(socket.create_connection(("127.0.0.1", host.port), 30)) as s:
            s.sendall(start)
            sent = len(start)
            try:
                while sent < total:
                    s.sendall(filler)
                    sent += len(filler)
            except (BrokenPipeError, ConnectionResetError):
                pass
            try:
                reply = s.recv(4096)
            except ConnectionResetError:
                reply = b""
            return reply.split(b"\r\n", 1)[0].decode() if reply else None

    def test_trailers_and_extensions_are_within_the_limits(self):
        with HttpHost(measured=True) as host:
            pid = host.process.pid
            before = peak_resident_bytes(pid)
            chunked = head(host.port, ["Transfer-Encoding: chunked"]) + b"2\r\n{}\r\n0\r\n"
            cases = [
                ("one 64 KiB trailer field", chunked + b"X-Big: ", b"a" * 65535, 70000,
                 "HTTP/1.1 431 Request Header Fields Too Large"),
                ("64 MiB of small trailer fields", chunked, b"X-T: v\r\n" * 8192, 64 << 20,
                 "HTTP/1.1 431 Request Header Fields Too Large"),
                ("a 64 MiB chunk extension",
                 head(host.port, ["Transfer-Encoding: chunked"]) + b"2;x=", b"a" * 65536,
                 64 << 20, "HTTP/1.1 400 Bad Request"),
            ]
            for label, start, filler, total, expected in cases:
                with self.subTest(label):
                    self.assertEqual(self.send_refused(host, start, filler, total), expected)
                    status, _, answer, _ = host.exchange(request_bytes(GOOD, host.port))
                    self.assertEqual(status, "HTTP/1.1 200 OK")
            grown = peak_resident_bytes(pid) - before
            if VERBOSE:
                print("\n  peak RSS %.1f MiB before, grew by %.1f MiB" %
                      (before / 2**20, grown / 2**20), file=sys.stderr)
            self.assertLess(grown, 16 << 20)
        self.assertEqual(host.process.returncode, 0, host.stderr[-2000:])


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

# The loopback port on the wire: bound alone, closed to web pages, framing read one way only.
#
# A second host (or a socket with SO_REUSEPORT) cannot share the port, and a token file others
# can read stops the host from starting. A request from a foreign Host or Origin or without the
# token is refused before it can change anything; an --allow-origin preflight is answered. A
# refused request, and any framing two readers could take two ways, is answered "Connection:
# close" and its connection closed: a SetUserHomeDir hidden after it never runs. Trailers and
# chunk extensions of 64 MiB are refused with the host's memory barely moving. The page and an
# envelope share a kept-alive connection, HEAD sending the page's head alone.
import contextlib
import http.client
import os
import socket
import subprocess
import tempfile
import unittest

from harness import GOOD, HOST_BINARY, HttpHost, envelope, main, peak_resident_bytes, say

SET_PWNED = envelope("SetUserHomeDir", {"userHomeDir": "/pwned"})
JSON = {"Content-Type": "application/json"}


def token_file(test, mode):
    with tempfile.NamedTemporaryFile("w", delete=False) as handle:
        handle.write("s3cret-token\n")
    test.addCleanup(os.unlink, handle.name)
    os.chmod(handle.name, mode)
    return handle.name


def home(host, headers=None):
    line, _, answer, _ = host.exchange(host.request(envelope("GetUserHomeDir"), headers=headers))
    return answer["message"]["userHomeDir"] if line == "HTTP/1.1 200 OK" else answer


def head(port, fields, version="1.1"):
    lines = ["POST /messages HTTP/" + version, "Host: 127.0.0.1:%d" % port,
             "Content-Type: application/json", *fields]
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


class GuardTest(unittest.TestCase):
    def test_a_port_in_use_or_a_token_file_others_can_read_stops_the_start(self):
        loose = token_file(self, 0o644)
        with HttpHost() as host:
            for args, said in ((["--http", str(host.port)],
                                "connector-host: 127.0.0.1:%d is already in use" % host.port),
                               (["--http", "0", "--token-file", loose], "token file %s is open to "
                                "other users (mode 0644): chmod 600" % loose)):
                done = subprocess.run([HOST_BINARY, *args], capture_output=True, text=True,
                                      timeout=30)
                self.assertEqual((done.returncode, said in done.stderr), (1, True), done.stderr)
            with socket.socket() as intruder:
                intruder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
                intruder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                self.assertRaises(OSError, intruder.bind, ("127.0.0.1", host.port))

    def test_foreign_pages_cannot_drive_the_host(self):
        allowed, bearer = "http://localhost:3000", {"Authorization": "Bearer s3cret-token"}
        with HttpHost("--allow-origin", allowed, "--token-file", token_file(self, 0o600)) as host:
            # Every refusal of a head takes one path, before the body is read: a foreign Host
            # stands for all. Which heads are refused is HttpPolicyTest's; a foreign Origin and a
            # wrong token reach the host in test_operability (metrics) and the browser tests.
            line, _, answer, closed = host.exchange(host.request(
                SET_PWNED, headers={**bearer, "Host": "evil.example:%d" % host.port}))
            self.assertEqual((line, answer.get("error", {}).get("kind"), closed),
                             ("HTTP/1.1 403 Forbidden", "forbidden_host", True))
            self.assertEqual(home(host, bearer), "")
            # The allowed origin: a preflight, then the request, both with CORS headers.
            line, headers, _, _ = host.exchange(host.request(
                b"", method="OPTIONS", headers={"Origin": allowed, "Content-Type": None}))
            self.assertEqual(line, "HTTP/1.1 204 No Content")
            self.assertEqual(headers["Access-Control-Allow-Origin"], allowed)
            self.assertIn("Content-Type", headers["Access-Control-Allow-Headers"])
            line, headers, _, _ = host.exchange(host.request(SET_PWNED, headers={
                **bearer, "Origin": allowed, "Host": "localhost:%d" % host.port}))
            self.assertEqual((line, headers["Access-Control-Allow-Origin"]),
                             ("HTTP/1.1 200 OK", allowed))
            self.assertEqual(home(host, bearer), "/pwned")


class FramingTest(unittest.TestCase):
    def test_nothing_after_a_refused_request_is_read_as_a_request(self):
        with HttpHost() as host:
            hidden = host.request(envelope("SetUserHomeDir", {"userHomeDir": "/smuggled"}))
            page = {"Content-Type": None}
            # (what, the request before the hidden one, its status, its Allow field)
            cases = [
                ("a body to another path", host.request(hidden, path="/other"), 404, None),
                ("PUT", host.request(hidden, method="PUT"), 405, "POST"),
                ("POST to the page", host.request(hidden, path="/", headers=page), 405,
                 "GET, HEAD"),
                ("GET of the page with a body",
                 host.request(hidden, method="GET", path="/", headers=page), 200, None),
                ("HTTP/1.0", host.request(envelope("GetUserHomeDir", {}), version="1.0") + hidden,
                 200, None),
            ]
            # Framing two readers could take two ways: read as chunked, the body would end at
            # once; read as no body, it would not. Which framings the parser refuses, and with
            # which status, is HttpRequestParserTest's; every such refusal (400 or 501) takes
            # the one path that answers and closes the connection.
            cases += [(fields, head(host.port, fields, version) + body + hidden, status, None)
                      for fields, version, body, status in [
                (["Transfer-Encoding: gzip, chunked"], "1.1", b"", 501),
                (["Transfer-Encoding: chunked", "Connection: keep-alive"], "1.0", b"0\r\n\r\n",
                 400),
                (["Content-Length: 0", "Transfer-Encoding: chunked"], "1.1", b"", 400),
                (["Content-Length: 0x0"], "1.1", b"", 400)]]
            for what, raw, status, allow in cases:
                with self.subTest(what):
                    line, headers, answer, closed = host.exchange(raw)
                    self.assertEqual(line.split()[:2], ["HTTP/1.1", str(status)], answer)
                    self.assertEqual((headers["Connection"], closed), ("close", True))
                    self.assertEqual(headers["Allow"], allow)
                    self.assertEqual(home(host), "")
            # A chunked body framed right is served, its extension ignored.
            chunks = b"%x;ext=1\r\n%s\r\n0\r\n\r\n" % (len(GOOD), GOOD.encode())
            line, _, answer, _ = host.exchange(
                head(host.port, ["Transfer-Encoding: chunked"]) + chunks)
            self.assertEqual((line, answer["message"]["properties"]["service"]),
                             ("HTTP/1.1 200 OK", "editor"))

    def test_trailers_and_extensions_of_64_mib_are_refused_in_bounded_memory(self):
        with HttpHost(measured=True) as host:
            before = peak_resident_bytes(host.process.pid)
            chunked = head(host.port, ["Transfer-Encoding: chunked"])
            for start, filler, total, expected in [
                    (chunked + b"2\r\n{}\r\n0\r\nX-Big: ", b"a" * 65535, 70000,
                     b"HTTP/1.1 431 Request Header Fields Too Large"),
                    (chunked + b"2\r\n{}\r\n0\r\n", b"X-T: v\r\n" * 8192, 64 << 20,
                     b"HTTP/1.1 431 Request Header Fields Too Large"),
                    (chunked + b"2;x=", b"a" * 65536, 64 << 20, b"HTTP/1.1 400 Bad Request")]:
                with self.subTest(expected), host.connect() as s:
                    s.sendall(start)
                    with contextlib.suppress(BrokenPipeError, ConnectionResetError):
                        for _ in range(total // len(filler)):  # until the host closes
                            s.sendall(filler)
                    reply = b""
                    with contextlib.suppress(ConnectionResetError):
                        reply = s.recv(4096)
                    self.assertEqual(reply.split(b"\r\n")[0], expected)
                host.served()
            grown = peak_resident_bytes(host.process.pid) - before
            say("peak RSS %.1f MiB before, grew by %.1f MiB" % (before / 2**20, grown / 2**20))
            self.assertLess(grown, 16 << 20)


class PageTest(unittest.TestCase):
    def test_page_head_and_envelope_share_one_kept_alive_connection(self):
        with HttpHost() as host:
            connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=30)
            responses, sockets = [], set()
            for method, path, body in (("GET", "/", None), ("HEAD", "/index.html", None),
                                       ("POST", "/messages", envelope("GetUserHomeDir", {}))):
                connection.request(method, path, body, JSON if body else {})
                response = connection.getresponse()
                responses.append((response.status, response.headers, response.read()))
                sockets.add(connection.sock)
            connection.close()
            (status, _, page), (head_status, _, nothing), (_, _, answer) = responses
            # The page's and the head's fields and bodies are HttpResponsesTest's; here: all
            # three on one connection, the head adding no body that would shift the answer.
            self.assertEqual((status, head_status, len(sockets)), (200, 200, 1))
            self.assertTrue(page.startswith(b"<!doctype html>"))
            self.assertEqual(nothing, b"")
            self.assertIn(b"GetUserHomeDirResponse", answer)


if __name__ == "__main__":
    main()

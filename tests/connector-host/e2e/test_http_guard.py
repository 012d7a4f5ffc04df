"""The loopback port: bound alone, closed to web pages, exact on the wire.

A second host (or a socket with SO_REUSEPORT) cannot share the port. A request from a foreign
Host (DNS rebinding), from an origin not allowed, without the JSON content type or without the
bearer token is refused before it can change anything. A refused request's body is never read
as another request. Status lines carry the right reason and the server's own HTTP version.
"""
import os
import socket
import subprocess
import tempfile
import unittest

from harness import HOST_BINARY, HttpHost, engine_file, envelope, request_bytes

SET_PWNED = envelope("SetUserHomeDir", {"userHomeDir": "/pwned"})
GET_HOME = envelope("GetUserHomeDir", {})


class PortTest(unittest.TestCase):
    def test_the_port_is_bound_exclusively(self):
        with HttpHost() as host:
            second = subprocess.run([HOST_BINARY, "--http", str(host.port)], capture_output=True,
                                    text=True, timeout=30)
            self.assertEqual(second.returncode, 1)
            self.assertEqual(second.stderr.strip(),
                             "connector-host: 127.0.0.1:%d is already in use" % host.port)
            with socket.socket() as intruder:
                intruder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
                intruder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                with self.assertRaises(OSError):
                    intruder.bind(("127.0.0.1", host.port))
        self.assertEqual(host.process.returncode, 0)


class GuardTest(unittest.TestCase):
    def test_foreign_pages_cannot_drive_the_host(self):
        with tempfile.NamedTemporaryFile("w", delete=False) as token_file:
            token_file.write("s3cret-token\n")
        allowed = "http://localhost:3000"
        try:
            with HttpHost("--allow-origin", allowed, "--token-file", token_file.name) as host:
                port = host.port
                bearer = {"Authorization": "Bearer s3cret-token"}
                refused = [
                    ("rebound Host", {"Host": "evil.example:%d" % port},
                     "403 Forbidden", "forbidden_host"),
                    ("Host on another port", {"Host": "127.0.0.1:%d" % (port + 1)},
                     "403 Forbidden", "forbidden_host"),
                    ("no Host", {"Host": None}, "400 Bad Request", "bad_request"),
                    ("foreign Origin", {"Origin": "http://evil.example"}, "403 Forbidden",
                     "forbidden_origin"),
                    ("text/plain, no preflight", {"Content-Type": "text/plain"},
                     "415 Unsupported Media Type", "unsupported_media_type"),
                    ("form, no preflight", {"Content-Type": "application/x-www-form-urlencoded"},
                     "415 Unsupported Media Type", "unsupported_media_type"),
                    ("no token", {"Authorization": None}, "401 Unauthorized", "unauthorized"),
                    ("wrong token", {"Authorization": "Bearer s3cret-tokeN"}, "401 Unauthorized",
                     "unauthorized"),
                ]
                for label, headers, status, kind in refused:
                    with self.subTest(request=label):
                        line, _, answer, closed = host.exchange(request_bytes(
                            SET_PWNED, port, headers={**bearer, **headers}))
                        self.assertEqual(line, "HTTP/1.1 " + status)
                        self.assertEqual(answer["error"]["kind"], kind)
                        self.assertTrue(closed)

                self.assertEqual(self.home_with(host, bearer), "")
                # The allowed origin: a preflight, then the request, both with CORS headers.
                line, headers, _, _ = host.exchange(request_bytes(
                    b"", port, method="OPTIONS", headers={"Origin": allowed,
                                                         "Content-Type": None}))
                self.assertEqual(line, "HTTP/1.1 204 No Content")
                self.assertEqual(headers["Access-Control-Allow-Origin"], allowed)
                self.assertIn("Content-Type", headers["Access-Control-Allow-Headers"])
                line, headers, _, _ = host.exchange(request_bytes(
                    SET_PWNED, port, headers={**bearer, "Origin": allowed,
                                              "Host": "localhost:%d" % port}))
                self.assertEqual((line, headers["Access-Control-Allow-Origin"]),
                                 ("HTTP/1.1 200 OK", allowed))
                self.assertEqual(self.home_with(host, bearer), "/pwned")
        finally:
            os.unlink(token_file.name)

    def home_with(self, host, headers):
        _, _, answer, _ = host.exchange(request_bytes(GET_HOME, host.port, headers=headers))
        return answer["message"]["userHomeDir"]

    def test_a_refused_body_is_never_read_as_a_request(self):
        with HttpHost() as host:
            smuggled = request_bytes(SET_PWNED, host.port)
            for path, method, status in (("/other", "POST", "404 Not Found"),
                                         ("/messages", "PUT", "405 Method Not Allowed")):
                with self.subTest(method=method, path=path):
                    line, headers, _, closed = host.exchange(
                        request_bytes(smuggled, host.port, path=path, method=method))
                    self.assertEqual(line, "HTTP/1.1 " + status)
                    self.assertTrue(closed)
                    if method == "PUT":
                        self.assertEqual(headers["Allow"], "POST")
            self.assertEqual(host.home_directory(), "")


class QuotedHeaderTest(unittest.TestCase):
    def test_a_refusal_quoting_a_header_is_valid_utf8(self):
        with HttpHost() as host:
            for field in (b"Origin: http://evil\xff\xfe.example", b"Host: \xc3(:%d" % host.port):
                with self.subTest(field=field):
                    raw = request_bytes(GET_HOME, host.port).replace(
                        b"\r\n\r\n", b"\r\n" + field + b"\r\n\r\n", 1)
                    if field.startswith(b"Host"):
                        raw = raw.replace(b"Host: 127.0.0.1:%d\r\n" % host.port, b"", 1)
                    line, _, answer, _ = host.exchange(raw)  # the answer parses as UTF-8 JSON
                    self.assertEqual(line, "HTTP/1.1 403 Forbidden")
                    self.assertRegex(answer["error"]["message"], r"\\x(FF|C3)")


class TokenFileTest(unittest.TestCase):
    def test_a_token_file_others_can_read_is_refused(self):
        with tempfile.NamedTemporaryFile("w", delete=False) as token_file:
            token_file.write("s3cret-token\n")
        self.addCleanup(os.unlink, token_file.name)
        os.chmod(token_file.name, 0o644)
        done = subprocess.run([HOST_BINARY, "--http", "0", "--token-file", token_file.name],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual(done.returncode, 1)
        self.assertIn("token file %s is open to other users (mode 0644): chmod 600" %
                      token_file.name, done.stderr)


class StatusLineTest(unittest.TestCase):
    def test_status_lines_and_lengths(self):
        failing = engine_file({"functions": {
            "version": {"": "1.0"},
            "qls.internal.feature": {"graphicsAndGuis": {"error": "license checkout failed"}}}})
        self.addCleanup(os.unlink, failing)
        with HttpHost("--max-bytes", "1000", "--engine", failing) as host:
            port = host.port
            cases = [
                ("HTTP/1.0 request", request_bytes(GET_HOME, port, version="1.0"), "200 OK"),
                ("body over the limit", request_bytes(b"{" + b" " * 1000 + b"}", port),
                 "413 Payload Too Large"),
                ("huge Content-Length, no body",
                 request_bytes(b"", port, headers={"Content-Length": "99999999999999999999999"}),
                 "400 Bad Request"),
                ("Content-Length not a number",
                 request_bytes(b"", port, headers={"Content-Length": "12x"}), "400 Bad Request"),
                ("two Content-Lengths", request_bytes(GET_HOME, port).replace(
                    b"\r\n\r\n", b"\r\nContent-Length: 3\r\n\r\n", 1), "400 Bad Request"),
                ("declared over the limit, body never sent",
                 request_bytes(b"", port, headers={"Content-Length": "5000"}),
                 "413 Payload Too Large"),
                ("context integer of 2^31", request_bytes(envelope(
                    "GetUserHomeDir", {}, context={"n": 2**31}), port), "400 Bad Request"),
                ("batch holding a response type", request_bytes(envelope(
                    "ContainerRequest", {"messages": {"GetUserHomeDirResponse": [{}]}}), port),
                 "400 Bad Request"),
                ("a service failure", request_bytes(envelope(
                    "EnabledFeatures", {"features": ["isQGGEnabled"]}), port),
                 "500 Internal Server Error"),
            ]
            for label, raw, status in cases:
                with self.subTest(request=label):
                    line, _, answer, _ = host.exchange(raw)
                    self.assertEqual(line, "HTTP/1.1 " + status)
                    if not status.startswith("200"):
                        self.assertTrue(answer["error"]["message"])
        self.assertEqual(host.process.returncode, 0)


if __name__ == "__main__":
    unittest.main()

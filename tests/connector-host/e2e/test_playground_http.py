"""The playground page on the wire: GET / and /index.html serve it, HEAD its head alone, on a
kept-alive connection like any answer; any other method on it is refused, closing the connection
without reading its body as a request; it is guarded by Host and Origin like /messages, and
served without the token (it carries none).
"""
import json
import os
import socket
import tempfile
import unittest

from harness import HttpHost, envelope, request_bytes

SET_PWNED = envelope("SetUserHomeDir", {"userHomeDir": "/pwned"})
GET_HOME = envelope("GetUserHomeDir", {})


def page_request(port, method="GET", path="/", headers=None, body=b""):
    fields = {"Content-Type": None, "Content-Length": str(len(body)) if body else None}
    fields.update(headers or {})
    return request_bytes(body, port, path=path, method=method, headers=fields)


def read_response(stream, head_only=False):
    """One response from a buffered socket file: (status, headers with lower-case names, body)."""
    status = int(stream.readline().split()[1])
    headers = {}
    while True:
        line = stream.readline().decode().rstrip("\r\n")
        if not line:
            break
        name, value = line.split(":", 1)
        headers[name.lower()] = value.strip()
    length = 0 if head_only else int(headers.get("content-length", "0"))
    return status, headers, stream.read(length)


def exchange(port, raw):
    """Sends raw bytes on a new connection; gives (status, headers, body, whether the host, having
    answered "Connection: close", closed it)."""
    with socket.create_connection(("127.0.0.1", port), 30) as s, s.makefile("rb") as f:
        s.sendall(raw)
        status, headers, body = read_response(f)
        closed = headers.get("connection") == "close" and f.read(1) == b""
        return status, headers, body, closed


class PlaygroundHttpTest(unittest.TestCase):
    def test_page_head_and_envelope_share_one_kept_alive_connection(self):
        with HttpHost() as host:
            with socket.create_connection(("127.0.0.1", host.port), 30) as s, s.makefile("rb") as f:
                s.sendall(page_request(host.port) + page_request(host.port, "HEAD", "/index.html") +
                          request_bytes(GET_HOME, host.port))
                status, headers, page = read_response(f)
                self.assertEqual(status, 200)
                self.assertEqual(headers["content-type"], "text/html; charset=utf-8")
                self.assertEqual(headers["cache-control"], "no-store")
                self.assertTrue(headers["content-security-policy"].startswith("default-src 'none'"))
                self.assertNotIn("connection", headers)
                self.assertTrue(page.startswith(b"<!doctype html>"))
                self.assertEqual(int(headers["content-length"]), len(page))

                status, head_headers, _ = read_response(f, head_only=True)
                self.assertEqual(status, 200)
                self.assertEqual(head_headers["content-length"], str(len(page)))
                # Had HEAD sent the page, its bytes would be read here as the next status line.
                status, _, answer = read_response(f)
                self.assertEqual(status, 200)
                self.assertIn(b"GetUserHomeDirResponse", answer)

    def test_refusals_on_the_page(self):
        with HttpHost() as host:
            port = host.port
            smuggled = request_bytes(SET_PWNED, port)
            cases = [
                ("POST /, a request as its body", page_request(port, "POST", body=smuggled),
                 405, "method_not_allowed"),
                ("PUT /index.html", page_request(port, "PUT", "/index.html", body=smuggled),
                 405, "method_not_allowed"),
                ("GET /, a request as its body", page_request(port, body=smuggled), 200, None),
                ("GET /other", page_request(port, path="/other"), 404, "not_found"),
                ("GET /, rebound Host",
                 page_request(port, headers={"Host": "evil.example:%d" % port}), 403,
                 "forbidden_host"),
                ("GET /, foreign Origin",
                 page_request(port, headers={"Origin": "http://evil.example"}), 403,
                 "forbidden_origin"),
            ]
            for label, raw, status, kind in cases:
                with self.subTest(request=label):
                    got, headers, body, closed = exchange(port, raw)
                    self.assertEqual(got, status)
                    self.assertTrue(closed)
                    if kind:
                        self.assertEqual(json.loads(body)["error"]["kind"], kind)
                    if kind == "method_not_allowed":
                        self.assertEqual(headers["allow"], "GET, HEAD")
            _, _, answer, _ = host.exchange(request_bytes(GET_HOME, port))
            self.assertEqual(answer["message"]["userHomeDir"], "")

    def test_the_page_is_served_without_the_token(self):
        with tempfile.NamedTemporaryFile("w", delete=False) as token_file:
            token_file.write("s3cret-token\n")
        try:
            with HttpHost("--token-file", token_file.name) as host:
                line, _, answer, _ = host.exchange(request_bytes(GET_HOME, host.port))
                self.assertEqual(line, "HTTP/1.1 401 Unauthorized")
                status, _, page, _ = exchange(host.port, page_request(host.port))
                self.assertEqual(status, 200)
                self.assertNotIn(b"s3cret-token", page)
        finally:
            os.unlink(token_file.name)


if __name__ == "__main__":
    unittest.main()

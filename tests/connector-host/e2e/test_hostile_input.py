"""Hostile input through connector-host: malformed JSON, broken UTF-8, deep nesting, oversized input.

Every file of JSONTestSuite's test_parsing goes to the host as an HTTP body and, when it is one
line, as a stdin line; every line of Markus Kuhn's UTF-8 stress test becomes a home directory.
Whatever arrives, the host answers each input with one JSON object (an error for anything that is
not a usable envelope), never crashes or hangs, answers the next good request, writes only valid
UTF-8, and keeps its memory bounded by its input limit rather than by the input.

With -v the outcome counts are printed (per file category and error kind).
"""
import collections
import contextlib
import http.client
import json
import os
import select
import socket
import subprocess
import sys
import threading
import unittest

from harness import (HOST_BINARY, TESTDATA_DIR, HttpHost, envelope, measured_environment,
                         peak_resident_bytes,
                         request_bytes)

PARSING_DIR = os.path.join(TESTDATA_DIR, "json-test-suite", "test_parsing")
UTF8_STRESS_FILE = os.path.join(TESTDATA_DIR, "utf8", "UTF-8-test.txt")
VERBOSE = "-v" in sys.argv

# Error kinds the host may give for input that is not a usable envelope.
INPUT_ERROR_KINDS = {"parse_error", "too_deep", "too_large", "too_many_values", "number_out_of_range",
                     "invalid_envelope", "decode_error"}


def good_request(tag):
    return envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": tag}}, id=tag)


def assert_good_answer(test, answer, tag):
    test.assertEqual(answer.get("id"), tag, answer)
    test.assertEqual(answer.get("type"), "connector/v1/ServiceRegistryResponse", answer)
    test.assertEqual(answer["message"]["properties"], {"service": tag, "endpoint": ""})


def assert_clear_error(test, answer, kinds=INPUT_ERROR_KINDS):
    test.assertIn("error", answer, answer)
    test.assertNotIn("type", answer, answer)
    error = answer["error"]
    test.assertIn(error.get("kind"), kinds, answer)
    test.assertIsInstance(error.get("message"), str)
    test.assertTrue(error["message"].strip(), answer)


def serve_lines(lines, *args, timeout=300):
    """Feeds byte lines to the host's stdin; gives its answers, checked to be valid UTF-8 JSON."""
    done = subprocess.run([HOST_BINARY, *args], input=b"".join(l + b"\n" for l in lines),
                          capture_output=True, timeout=timeout)
    if done.returncode != 0:
        raise AssertionError("connector-host exited with %d: %s"
                             % (done.returncode, done.stderr.decode("utf-8", "replace")[-2000:]))
    text = done.stdout.decode("utf-8")  # strict: the host must never write broken UTF-8
    return [json.loads(line) for line in text.splitlines()]


def post_raw(host, body, length=None):
    """POSTs `body` (bytes, or a file-like object of `length` bytes); gives (status, answer), the
    answer checked to be valid UTF-8 JSON."""
    headers = {"Content-Type": "application/json"}
    if length is not None:
        headers["Content-Length"] = str(length)
    connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=120)
    try:
        connection.request("POST", "/messages", body=body, headers=headers)
        response = connection.getresponse()
        return response.status, json.loads(response.read().decode("utf-8"))
    finally:
        connection.close()


def parsing_files():
    names = sorted(os.listdir(PARSING_DIR))
    for name in names:
        with open(os.path.join(PARSING_DIR, name), "rb") as handle:
            yield name, handle.read()


def is_blank(line):
    """What the host skips on stdin (spaces, tabs and carriage returns only)."""
    return line.strip(b" \t\r") == b""


def json_string(raw):
    """`raw` bytes as a JSON string literal, the bytes kept as they are except what JSON escapes."""
    out = bytearray(b'"')
    for byte in raw:
        if byte == 0x22:
            out += b'\\"'
        elif byte == 0x5C:
            out += b"\\\\"
        elif byte < 0x20:
            out += b"\\u%04x" % byte
        else:
            out.append(byte)
    return bytes(out + b'"')


def set_home_dir(raw, tag):
    return (b'{"id":"%s","type":"connector/v1/SetUserHomeDir","message":{"userHomeDir":'
            % tag.encode() + json_string(raw) + b"}}")


GET_HOME_DIR = envelope("GetUserHomeDir", id="get").encode()


def report(title, counts):
    if VERBOSE:
        print("\n%s" % title, file=sys.stderr)
        for key, count in sorted(counts.items()):
            print("  %-45s %d" % (" / ".join(key), count), file=sys.stderr)


class JsonTestSuiteTest(unittest.TestCase):
    """Every test_parsing file: y_ files are JSON but no envelope, n_ files are not JSON."""

    def check_outcome(self, name, body, answer, outcomes):
        category = name[0]
        assert_clear_error(self, answer)  # no file of the suite is an envelope
        kind = answer["error"]["kind"]
        outcomes[(category + "_", kind)] += 1
        if category == "y":
            # Valid JSON is parsed and then refused as an envelope; POCO's parser refuses a
            # scalar at the top level ("2", "null", "\"\"") as not JSON, which is no envelope
            # either.
            top_level_scalar = body.strip(b" \t\r\n")[:1] not in (b"[", b"{")
            expected = {"invalid_envelope", "parse_error"} if top_level_scalar else {
                "invalid_envelope"}
            self.assertIn(kind, expected, (name, answer))
        elif category == "n":
            self.assertIn(kind, {"parse_error", "too_deep", "invalid_envelope"}, (name, answer))

    def test_every_file_as_an_http_body(self):
        outcomes = collections.Counter()
        with HttpHost() as host:
            for index, (name, body) in enumerate(parsing_files()):
                with self.subTest(file=name):
                    status, answer = post_raw(host, body)
                    self.check_outcome(name, body, answer, outcomes)
                    self.assertEqual(status, 400, (name, answer))
                    tag = "after-%d" % index
                    status, answer = post_raw(host, good_request(tag).encode())
                    self.assertEqual(status, 200)
                    assert_good_answer(self, answer, tag)
        self.assertEqual(host.process.returncode, 0)
        self.assertEqual(sum(outcomes.values()), len(os.listdir(PARSING_DIR)))
        report("test_parsing over HTTP (category / kind: files)", outcomes)

    def test_every_one_line_file_as_a_stdin_line(self):
        lines, expected = [], []
        for index, (name, body) in enumerate(parsing_files()):
            line = body[:-1] if body.endswith(b"\n") else body
            if b"\n" in line:
                continue  # several lines: the host would read them as several envelopes
            tag = "after-%d" % index
            lines += [line, good_request(tag).encode()]
            expected.append((name, line, None if is_blank(line) else "hostile"))
            expected.append((name, line, tag))
        answers = iter(serve_lines(lines))
        outcomes = collections.Counter()
        for name, line, what in expected:
            if what is None:
                outcomes[(name[0] + "_", "blank line, skipped")] += 1
                continue
            answer = next(answers, None)
            self.assertIsNotNone(answer, "no answer for %s" % name)
            with self.subTest(file=name):
                if what == "hostile":
                    self.check_outcome(name, line, answer, outcomes)
                else:
                    assert_good_answer(self, answer, what)
        self.assertIsNone(next(answers, None), "more answers than lines")
        report("test_parsing one-line files on stdin (category / kind: files)", outcomes)


class Utf8StressTest(unittest.TestCase):
    """Each line of UTF-8-test.txt as a home directory: set it, then read it back."""

    def lines(self):
        with open(UTF8_STRESS_FILE, "rb") as handle:
            return handle.read().split(b"\n")

    def check(self, raw, set_answer, get_answer, last_valid, outcomes):
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            text = None
        if text is not None:
            outcomes[("valid UTF-8", "stored and read back identical")] += 1
            self.assertEqual(set_answer.get("type"), "connector/v1/SetUserHomeDirResponse",
                             set_answer)
            self.assertEqual(get_answer["message"]["userHomeDir"], text)
            return text
        assert_clear_error(self, set_answer, {"parse_error", "decode_error"})
        outcomes[("invalid UTF-8", set_answer["error"]["kind"] + ": "
                  + set_answer["error"]["message"].split(": ")[-1])] += 1
        # The refused text left the stored one alone.
        self.assertEqual(get_answer["message"]["userHomeDir"], last_valid)
        return last_valid

    def test_each_line_on_stdin(self):
        lines = self.lines()
        requests = []
        for index, raw in enumerate(lines):
            requests += [set_home_dir(raw, "set-%d" % index), GET_HOME_DIR]
        answers = serve_lines(requests)
        self.assertEqual(len(answers), 2 * len(lines))
        outcomes = collections.Counter()
        last_valid = ""
        for index, raw in enumerate(lines):
            with self.subTest(line=index + 1, raw=raw[:60]):
                last_valid = self.check(raw, answers[2 * index], answers[2 * index + 1],
                                        last_valid, outcomes)
        valid = outcomes[("valid UTF-8", "stored and read back identical")]
        self.assertGreater(valid, 0)
        self.assertGreater(len(lines) - valid, 0)
        report("UTF-8-test.txt lines on stdin (%d lines)" % len(lines), outcomes)

    def test_each_line_over_http(self):
        outcomes = collections.Counter()
        last_valid = ""
        with HttpHost() as host:
            for index, raw in enumerate(self.lines()):
                with self.subTest(line=index + 1, raw=raw[:60]):
                    set_status, set_answer = post_raw(host, set_home_dir(raw, "set-%d" % index))
                    get_status, get_answer = post_raw(host, GET_HOME_DIR)
                    self.assertEqual(get_status, 200)
                    self.assertEqual(set_status, 400 if "error" in set_answer else 200)
                    last_valid = self.check(raw, set_answer, get_answer, last_valid, outcomes)
        self.assertEqual(host.process.returncode, 0)


class DeepAndLargeInputTest(unittest.TestCase):
    """Nesting far beyond any limit and input far beyond the size limit: refused, memory bounded."""

    DEEP = [
        ("100,000 '['", b"[" * 100000),
        ("100,000 '{\"a\":'", b'{"a":' * 100000),
        ("balanced 100,000 '[' and ']'", b"[" * 100000 + b"]" * 100000),
        ("envelope whose message nests 100,000 deep",
         b'{"type":"connector/v1/GetUserHomeDir","message":' + b"[" * 100000 + b"]" * 100000
         + b"}"),
        ("nesting inside a string is only text", None),
    ]

    def deep_inputs(self):
        for label, raw in self.DEEP:
            if raw is None:  # the brackets are inside a string: a valid envelope
                raw = set_home_dir(b"[" * 100000, "deep-string")
            yield label, raw

    def check_deep(self, label, answer):
        if label.startswith("nesting inside a string"):
            self.assertEqual(answer.get("type"), "connector/v1/SetUserHomeDirResponse")
        else:
            assert_clear_error(self, answer, {"too_deep"})

    def test_deep_nesting_on_stdin_and_http(self):
        lines = []
        for index, (_, raw) in enumerate(self.deep_inputs()):
            lines += [raw, good_request("after-%d" % index).encode()]
        answers = serve_lines(lines)
        self.assertEqual(len(answers), len(lines))
        for index, (label, _) in enumerate(self.deep_inputs()):
            with self.subTest(input=label, path="stdin"):
                self.check_deep(label, answers[2 * index])
                assert_good_answer(self, answers[2 * index + 1], "after-%d" % index)
        with HttpHost() as host:
            for index, (label, raw) in enumerate(self.deep_inputs()):
                with self.subTest(input=label, path="http"):
                    status, answer = post_raw(host, raw)
                    self.check_deep(label, answer)
                    self.assertEqual(status, 200 if "type" in answer else 400)
                    status, answer = post_raw(host, good_request("after").encode())
                    assert_good_answer(self, answer, "after")
        self.assertEqual(host.process.returncode, 0)

    LIMIT = 65536
    HUGE = 256 * 1024 * 1024  # far beyond the limit, and far beyond the host's own footprint

    def padded(self, size):
        """A good request padded with spaces to exactly `size` bytes."""
        request = good_request("padded").encode()
        return request + b" " * (size - len(request))

    def check_oversized(self, answers, sizes):
        assert_good_answer(self, answers[0], "padded")  # exactly at the limit: served
        for answer, size in zip(answers[1:-1], sizes):
            assert_clear_error(self, answer, {"too_large"})
            self.assertIn(str(size), answer["error"]["message"])
        assert_good_answer(self, answers[-1], "after")

    def check_peak(self, pid, path, before):
        # The host kept at most one limit's worth of the input: its peak grew far less than what
        # it was sent (measured from its own footprint, which a sanitizer's build multiplies).
        peak = peak_resident_bytes(pid)
        if VERBOSE:
            print("\npeak resident size of the host after %d MiB on %s: %.1f MiB (%.1f MiB before)"
                  % (self.HUGE >> 20, path, peak / 2**20, before / 2**20), file=sys.stderr)
        self.assertLess(peak - before, self.HUGE // 8)

    def test_oversized_input_is_refused_without_being_kept(self):
        limit = ["--max-bytes", str(self.LIMIT)]
        sizes = (self.LIMIT + 1, self.HUGE)

        # stdin: the host stays up (waiting for more input) while its peak is read.
        host = subprocess.Popen([HOST_BINARY, *limit], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                env=measured_environment())

        def feed():
            host.stdin.write(self.padded(self.LIMIT + 1) + b"\n")
            for chunk in huge_body(self.HUGE):
                host.stdin.write(chunk)
            host.stdin.write(b"\n" + good_request("after").encode() + b"\n")
            host.stdin.flush()

        # The first answer says the host is up: its footprint from then on is what the input adds.
        host.stdin.write(self.padded(self.LIMIT) + b"\n")
        host.stdin.flush()
        answers = [json.loads(host.stdout.readline().decode("utf-8"))]
        before = peak_resident_bytes(host.pid)
        writer = threading.Thread(target=feed)
        writer.start()
        try:
            answers += [json.loads(host.stdout.readline().decode("utf-8")) for _ in range(3)]
            writer.join()
            self.check_oversized(answers, sizes)
            self.check_peak(host.pid, "stdin", before)
        finally:
            host.stdin.close()
            self.assertEqual(host.wait(timeout=60), 0)
            host.stdout.close()
            writer.join()

        with HttpHost(*limit, measured=True) as http_host:
            answers = [post_raw(http_host, self.padded(self.LIMIT))]
            before = peak_resident_bytes(http_host.process.pid)
            answers.append(post_raw(http_host, self.padded(self.LIMIT + 1)))
            # Declared too large: refused on the head alone, before any of the body is sent.
            status, _, answer, closed = http_host.exchange(request_bytes(
                b"", http_host.port, headers={"Content-Length": str(self.HUGE)}))
            self.assertEqual((status, closed), ("HTTP/1.1 413 Payload Too Large", True))
            answers.append((413, answer))
            answers.append(post_raw(http_host, good_request("after").encode()))
            self.assertEqual([status for status, _ in answers], [200, 413, 413, 200])
            self.check_oversized([answer for _, answer in answers], sizes)
            # Chunked, so that no length is declared: refused once the chunks pass the limit.
            status, answer = post_chunked(http_host, self.HUGE)
            self.assertEqual(status, 413)
            assert_clear_error(self, answer, {"too_large"})
            self.check_peak(http_host.process.pid, "HTTP", before)
        self.assertEqual(http_host.process.returncode, 0)


def post_chunked(host, size, chunk=1 << 16):
    """Streams up to `size` bytes of huge_body in chunked encoding until the host answers;
    gives (status, answer)."""
    with contextlib.closing(socket.create_connection(("127.0.0.1", host.port), 60)) as s:
        s.sendall(b"POST /messages HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                  b"Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
                  % host.port)
        for piece in huge_body(size, chunk):
            try:
                s.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
            except (BrokenPipeError, ConnectionResetError):
                break
            if select.select([s], [], [], 0)[0]:
                break  # the answer is there
        response = http.client.HTTPResponse(s)
        response.begin()
        return response.status, json.loads(response.read())


def huge_body(size, chunk=1 << 20):
    """`size` bytes of an unterminated JSON array, in chunks: "[" then spaces."""
    yield b"["
    left = size - 1
    while left > 0:
        step = min(chunk, left)
        yield b" " * step
        left -= step


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)

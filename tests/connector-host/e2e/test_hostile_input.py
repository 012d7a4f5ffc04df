# Hostile input through connector-host, on stdin lines and as HTTP bodies: whatever arrives, each
# input gets one JSON answer (an error for anything that is no usable envelope), the next good
# request is answered, the host writes only valid UTF-8 and exits 0, and its memory is bounded by
# its limits rather than by the input.
#
# Every file of JSONTestSuite's test_parsing (as a line when it is one) and nesting 100,000 deep,
# every line of Markus Kuhn's UTF-8 stress test as a home directory, input of 256 MiB, and the
# inputs that once built answers of hundreds of MiB (a batch re-reading a 1 MiB home directory,
# a 4 MiB batch of empty messages, an id of a million empty objects, a slow flag repeated).
# With -v the outcomes are counted per file category and error kind.
import collections
import contextlib
import http.client
import json
import os
import select
import time
import unittest

from harness import (MEASURED, TESTDATA_DIR, HttpHost, LineHost, engine_file, envelope, main,
                     peak_resident_bytes, run_lines, say)

PARSING_DIR = os.path.join(TESTDATA_DIR, "json-test-suite", "test_parsing")
UTF8_STRESS_FILE = os.path.join(TESTDATA_DIR, "utf8", "UTF-8-test.txt")
INPUT_ERRORS = {"parse_error", "too_deep", "too_large", "too_many_values", "number_out_of_range",
                "invalid_envelope", "decode_error"}
GET_HOME = envelope("GetUserHomeDir", id="get").encode()
HUGE = 256 << 20  # far beyond the input limit, and far beyond the host's own footprint


def good(tag):
    return envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": tag}}, id=tag)


# POSTs a body on a kept-alive connection (opened again after a refusal closed it); gives
# (status, answer), the answer strict UTF-8 JSON.
def post(connection, body):
    connection.request("POST", "/messages", body, {"Content-Type": "application/json"})
    response = connection.getresponse()
    return response.status, json.loads(response.read().decode("utf-8"))


def serve(path, requests, *args):
    # Each request through `path`, "stdin" or "http" (one kept-alive connection); gives the
    # answers. Over HTTP each status must be the answer's: 200, or its error kind's.
    if path == "stdin":
        answers, stderr, code = run_lines(requests, *args)
        assert code == 0, stderr[-2000:]
        return answers
    with HttpHost(*args) as host:
        connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=120)
        answers = []
        for request in requests:
            status, answer = post(connection, request)
            kind = answer.get("error", {}).get("kind")
            expected = 413 if kind == "too_large" else 400 if kind else 200
            assert status == expected, (status, answer)
            answers.append(answer)
        connection.close()
    return answers


# A SetUserHomeDir of `raw` bytes, kept as they are in the JSON text except what JSON escapes.
def set_home(raw):
    text = json.dumps(raw.decode("utf-8", "surrogateescape"), ensure_ascii=False)
    return b'{"type":"connector/v1/SetUserHomeDir","message":{"userHomeDir":%s}}' % text.encode(
        "utf-8", "surrogateescape")


class HostileInputTest(unittest.TestCase):
    def assert_error(self, answer, kinds=INPUT_ERRORS):
        self.assertNotIn("type", answer)
        self.assertIn(answer.get("error", {}).get("kind"), kinds, answer)
        self.assertTrue(answer["error"]["message"].strip(), answer)

    def assert_good(self, answer, tag):
        self.assertEqual((answer.get("id"), answer.get("type")),
                         (tag, "connector/v1/ServiceRegistryResponse"), answer)
        self.assertEqual(answer["message"]["properties"], {"service": tag, "endpoint": ""})

    def test_json_test_suite_and_deep_nesting(self):
        files = []
        for name in sorted(os.listdir(PARSING_DIR)):
            with open(os.path.join(PARSING_DIR, name), "rb") as handle:
                files.append((name, handle.read()))
        # Nesting 100,000 deep, balanced too and inside an envelope's message: refused as too
        # deep before any parser could recurse that far. (Brackets in a text are only text:
        # InputScanTest.)
        files += [("deep_%d" % n, raw) for n, raw in enumerate([
            b'{"a":' * 100000, b"[" * 100000 + b"]" * 100000,
            b'{"type":"connector/v1/GetUserHomeDir","message":' + b"[" * 100000 + b"]" * 100000
            + b"}"])]
        for path in ("stdin", "http"):
            # On stdin, blank lines are skipped and a file of several lines is several inputs.
            chosen = [(name, body) for name, body in files if path == "http" or
                      b"\n" not in body.rstrip(b"\n") and body.strip()]
            requests = [r for index, (_, body) in enumerate(chosen)
                        for r in (body, good("after-%d" % index).encode())]
            answers = serve(path, requests)
            self.assertEqual(len(answers), len(requests))
            outcomes = collections.Counter()
            for index, (name, body) in enumerate(chosen):
                with self.subTest(path=path, file=name):
                    self.assert_error(answers[2 * index])  # no file of the suite is an envelope
                    kind = answers[2 * index]["error"]["kind"]
                    outcomes[(name[:2], kind)] += 1
                    # Valid JSON is parsed, then refused as an envelope (POCO refuses a scalar at
                    # the top level as not JSON); invalid JSON is refused as such.
                    scalar = body.strip(b" \t\r\n")[:1] not in (b"[", b"{")
                    if name.startswith("y_"):
                        self.assertIn(kind, {"invalid_envelope", "parse_error"} if scalar
                                      else {"invalid_envelope"})
                    elif name.startswith("n_"):
                        self.assertIn(kind, {"parse_error", "too_deep", "invalid_envelope"})
                    elif name.startswith("deep_"):
                        self.assertEqual(kind, "too_deep")
                    self.assert_good(answers[2 * index + 1], "after-%d" % index)
            say("test_parsing on %s: %s" % (path, sorted(outcomes.items())))

    def test_each_line_of_the_utf8_stress_test_as_a_home_directory(self):
        with open(UTF8_STRESS_FILE, "rb") as handle:
            lines = handle.read().split(b"\n")
        for path in ("stdin", "http"):
            answers = serve(path, [r for raw in lines for r in (set_home(raw), GET_HOME)])
            self.assertEqual(len(answers), 2 * len(lines))
            stored, valid = "", 0
            for index, raw in enumerate(lines):
                with self.subTest(path=path, line=index + 1, raw=raw[:60]):
                    try:
                        stored, valid = raw.decode("utf-8"), valid + 1
                        self.assertEqual(answers[2 * index]["type"],
                                         "connector/v1/SetUserHomeDirResponse")
                    except UnicodeDecodeError:
                        self.assert_error(answers[2 * index], {"parse_error", "decode_error"})
                    # Read back identical, or (refused) the text stored before is left alone.
                    self.assertEqual(answers[2 * index + 1]["message"]["userHomeDir"], stored)
            self.assertTrue(0 < valid < len(lines))

    def assert_grew_less_than(self, pid, before, bound, what):
        peak = peak_resident_bytes(pid)
        say("peak resident size after %s: %.2f MiB (%.2f before)" % (what, peak / 2**20,
                                                                    before / 2**20))
        self.assertLess(peak - before, bound)

    def test_oversized_input_is_refused_without_being_kept(self):
        limit = 65536
        padded = lambda size: good("padded").encode().ljust(size)

        def huge_body(chunk=1 << 20):  # an unterminated JSON array: "[" then spaces
            yield b"["
            for _ in range(HUGE // chunk):
                yield b" " * chunk

        # stdin: the host waits for more input while its peak is read. The first answer says it
        # is up: its growth from then on is what the input adds. Its answers are small enough to
        # wait in the pipe while the rest is written.
        host = LineHost("--max-bytes", str(limit))
        self.assert_good(host.ask(padded(limit)), "padded")  # exactly at the limit: served
        before = peak_resident_bytes(host.process.pid)
        host.process.stdin.write(padded(limit + 1) + b"\n")
        for chunk in huge_body():
            host.process.stdin.write(chunk)
        host.process.stdin.write(b"\n" + good("after").encode() + b"\n")
        host.process.stdin.flush()
        answers = [json.loads(host.process.stdout.readline()) for _ in range(3)]
        for answer, size in zip(answers, (limit + 1, HUGE + 1)):
            self.assert_error(answer, {"too_large"})
            self.assertIn(str(size), answer["error"]["message"])
        self.assert_good(answers[2], "after")
        self.assert_grew_less_than(host.process.pid, before, HUGE // 8, "256 MiB on stdin")
        self.assertEqual(host.close(), 0)

        with HttpHost("--max-bytes", str(limit), measured=True) as host:
            connection = http.client.HTTPConnection("127.0.0.1", host.port, timeout=120)
            self.assertEqual(post(connection, padded(limit))[0], 200)
            before = peak_resident_bytes(host.process.pid)
            self.assertEqual(post(connection, padded(limit + 1))[0], 413)
            # Declared too large: refused on the head alone, before any of the body is sent.
            line, _, answer, closed = host.exchange(host.request(b"", headers={
                "Content-Length": str(HUGE)}))
            self.assertEqual((line, answer["error"]["kind"], closed),
                             ("HTTP/1.1 413 Payload Too Large", "too_large", True))
            # Chunked, so that no length is declared: refused once the chunks pass the limit.
            with host.connect(60) as s:
                s.sendall(host.request(b"", headers={"Content-Length": None,
                                                     "Transfer-Encoding": "chunked"}))
                with contextlib.suppress(BrokenPipeError, ConnectionResetError):
                    for piece in huge_body(1 << 16):
                        s.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
                        if select.select([s], [], [], 0)[0]:
                            break  # the answer is there
                response = http.client.HTTPResponse(s)
                response.begin()
                self.assertEqual((response.status, json.loads(response.read())["error"]["kind"]),
                                 (413, "too_large"))
            self.assertEqual(post(connection, good("after"))[0], 200)
            self.assert_grew_less_than(host.process.pid, before, HUGE // 8, "256 MiB over HTTP")

    def test_amplifying_input_is_refused_with_memory_under_256_mib(self):
        host = LineHost("--engine", engine_file(self, {"functions": {
            "version": {"": "1.0"}, "ver": {"vantrell": []},
            "which": {"vtr": {"delay_ms": 50, "value": "built-in"}}}}))
        batch = lambda messages: envelope("ContainerRequest", {"messages": messages})
        empty_objects = "[" + ",".join(["{}"] * 1_390_000) + "]"
        cases = [
            ("a batch of 200", batch({"GetUserHomeDir": [{}] * 200}), "too_many_messages",
             "A batch may hold at most 64 messages"),
            ("a batch of 60 re-reading 1 MiB", batch({"GetUserHomeDir": [{}] * 60}),
             "answer_too_large", "The answer would exceed the limit of 8388608 bytes"),
            ("a 3.98 MiB batch of {}",
             '{"type":"connector/v1/ContainerRequest","message":{"messages":{"GetUserHomeDir":'
             + empty_objects + "}}}", "too_many_values", "JSON holds more than 50000 values"),
            ("an id of 1.39 M {}", '{"id":%s,"type":"connector/v1/GetUserHomeDir"}' % empty_objects,
             "too_many_values", "JSON holds more than 50000 values"),
            ("an id of 49,000 {}", '{"id":[%s],"type":"connector/v1/GetUserHomeDir"}'
             % ",".join(["{}"] * 49000), "invalid_envelope", '"id" must be a text, an integer'),
            ("200 repeats of a slow flag",
             envelope("EnabledFeatures", {"features": ["isVantrellCmdEnabled"] * 200}),
             "too_many_features", "one request may name at most 32"),
        ]
        home = envelope("SetUserHomeDir", {"userHomeDir": "/h/" + "x" * (1 << 20)})
        self.assertEqual(host.ask(home)["type"], "connector/v1/SetUserHomeDirResponse")
        for label, line, kind, text in cases:
            with self.subTest(input=label):
                started = time.monotonic()
                error = host.ask(line)["error"]
                self.assertEqual((error["kind"], text in error["message"]), (kind, True), error)
                self.assertLess(time.monotonic() - started, 10)
                if MEASURED:
                    self.assert_grew_less_than(host.process.pid, 0, 256 << 20, label)
        # Within the answer limit, the same batch is served.
        answer = host.ask(batch({"GetUserHomeDir": [{}] * 6}))
        self.assertEqual(len(answer["message"]["messages"]["GetUserHomeDirResponse"]), 6)
        self.assertEqual(host.close(), 0)


if __name__ == "__main__":
    main()

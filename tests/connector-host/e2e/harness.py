# Runs the built connector-host for the end-to-end tests, on stdin lines or over HTTP on a free
# loopback port. CTest names the binary and the source tree: CONNECTOR_HOST, QCI_SOURCE_DIR.
import contextlib
import http.client
import json
import os
import resource
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HOST_BINARY = os.environ.get("CONNECTOR_HOST", "connector-host")
SOURCE_DIR = os.environ.get("QCI_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "../../.."))
TESTDATA_DIR = os.path.join(SOURCE_DIR, "tests", "data")
EXAMPLES_DIR = os.path.join(SOURCE_DIR, "examples")
VERBOSE = "-v" in sys.argv
# ThreadSanitizer multiplies a process's memory several times over (its shadow and history): a
# figure of that build says nothing about the host's, so there only the refusals are checked.
MEASURED = "TSAN_OPTIONS" not in os.environ


def main():
    unittest.main(argv=[a for a in sys.argv if a != "-v"], verbosity=2 if VERBOSE else 1)


def say(text):
    if VERBOSE:
        print("\n  " + text, file=sys.stderr)


def envelope(type_name, message=None, **fields):
    body = {"type": "connector/v1/" + type_name, **fields}
    if message is not None:
        body["message"] = message
    return json.dumps(body)


GOOD = envelope("ServiceRegistry", {"uuid": "g", "properties": {"service": "editor"}})
SLOW_FEATURE = envelope("EnabledFeatures", {"features": ["isQGGEnabled"]})


# Under AddressSanitizer freed memory waits in a quarantine (256 MiB by default) that would count
# as the host's own: it is kept small for a host whose memory is measured.
def measured_environment():
    environment = dict(os.environ)
    if "ASAN_OPTIONS" in environment:
        environment["ASAN_OPTIONS"] += ":quarantine_size_mb=16"
    return environment


# Feeds lines (str or bytes) to the host's stdin; gives (answers, stderr, exit status). What the
# host writes must be strict UTF-8, one JSON object a line.
def run_lines(lines, *args, timeout=300):
    payload = b"".join((l if isinstance(l, bytes) else l.encode()) + b"\n" for l in lines)
    done = subprocess.run([HOST_BINARY, *args], input=payload, capture_output=True, timeout=timeout)
    # Lines end at "\n" only: an answer may hold U+2028, which splitlines() would also split at.
    answers = [json.loads(line) for line in done.stdout.decode("utf-8").split("\n") if line]
    return answers, done.stderr.decode("utf-8", "replace"), done.returncode


# connector-host on stdin, asked one line at a time, so that it can be measured in between.
class LineHost:
    def __init__(self, *args):
        self.process = subprocess.Popen([HOST_BINARY, *args], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, env=measured_environment())

    def ask(self, line):
        self.process.stdin.write((line if isinstance(line, bytes) else line.encode()) + b"\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline().decode("utf-8"))

    def close(self):
        self.process.stdin.close()
        self.process.stdout.close()
        return self.process.wait(timeout=60)


# connector-host --http on a free loopback port, stopped with SIGTERM after the block, which must
# end it with status 0 (unless clean_exit is False); then `stderr` holds all it said.
class HttpHost:
    def __init__(self, *args, open_files=None, measured=False, clean_exit=True):
        self.args, self.open_files, self.clean_exit = args, open_files, clean_exit
        self.environment = measured_environment() if measured else None

    def __enter__(self):
        self.folder = tempfile.TemporaryDirectory()
        port_file = os.path.join(self.folder.name, "port")
        self.process = subprocess.Popen(
            [HOST_BINARY, "--http", "0", "--port-file", port_file, *self.args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.environment,
            preexec_fn=(lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (
                self.open_files, self.open_files))) if self.open_files else None)
        self.started = b""
        # The port file appears once the host serves (written whole, by a rename).
        wait_until(lambda: os.path.exists(port_file) or self.process.poll() is not None, 60,
                   "connector-host to serve")
        if not os.path.exists(port_file):
            self.started = self.process.stderr.read()
            raise RuntimeError("connector-host did not start: %r" % self.started)
        with open(port_file) as file:
            self.port = int(file.read())
        return self

    def __exit__(self, failure, *_):
        if self.process.returncode is None:
            self.process.terminate()
        try:
            self.process.wait(timeout=30)
        finally:
            self.process.kill()
            self.stdout, stderr = self.process.communicate()
            self.stderr = self.started + stderr
            self.folder.cleanup()
        if self.clean_exit and failure is None and self.process.returncode != 0:
            raise AssertionError("connector-host exited with %d: %r" % (self.process.returncode,
                                                                        self.stderr[-2000:]))

    # One HTTP request; Host and Content-Type are a good client's unless `headers` says otherwise
    # (None leaves a field out).
    def request(self, body=GOOD, path="/messages", method="POST", headers=None, version="1.1"):
        body = body.encode() if isinstance(body, str) else body
        fields = {"Host": "127.0.0.1:%d" % self.port, "Content-Type": "application/json",
                  "Content-Length": str(len(body)), **(headers or {})}
        head = "%s %s HTTP/%s\r\n" % (method, path, version)
        head += "".join("%s: %s\r\n" % (k, v) for k, v in fields.items() if v is not None)
        return head.encode() + b"\r\n" + body

    def connect(self, timeout=30):
        return contextlib.closing(socket.create_connection(("127.0.0.1", self.port), timeout))

    # Sends raw bytes on a new connection; gives the status line, headers and body (an answer
    # parsed) of the first response, and whether the host, having said "Connection: close",
    # closed the connection without sending anything more.
    def exchange(self, raw, timeout=30):
        with self.connect(timeout) as s:
            s.sendall(raw)
            response = http.client.HTTPResponse(s)
            response.begin()
            body = response.read()
            line = "HTTP/%d.%d %d %s" % (response.version // 10, response.version % 10,
                                         response.status, response.reason)
            closed = False
            if response.headers.get("Connection", "").lower() == "close":
                try:
                    closed = s.recv(1) == b""
                except ConnectionResetError:
                    closed = True
            if response.headers.get_content_type() == "application/json":
                body = json.loads(body)
            return line, response.headers, body, closed

    # The good request on a new connection: fails unless it is answered in full within `within`
    # seconds; gives how long it took.
    def served(self, within=2.0):
        started = time.monotonic()
        line, _, answer, _ = self.exchange(self.request(), timeout=max(30, within + 5))
        waited = time.monotonic() - started
        if line != "HTTP/1.1 200 OK" or answer["message"]["properties"]["service"] != "editor" \
                or waited > within:
            raise AssertionError("good request: %s %r after %.2f s" % (line, answer, waited))
        return waited


# Whether the host closes `connection` within `within` seconds (reading what it sends before).
def closed_by_host(connection, within):
    connection.settimeout(within)
    with contextlib.suppress(ConnectionResetError):
        try:
            while connection.recv(65536):
                pass
        except socket.timeout:
            return False
    return True


# An engine table (a dict, or text) in a temporary file, removed after `test`.
def engine_file(test, table):
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as handle:
        handle.write(table if isinstance(table, str) else json.dumps(table))
    test.addCleanup(os.unlink, handle.name)
    return handle.name


# An engine whose "graphicsAndGuis" feature takes `delay_ms`: SLOW_FEATURE holds its thread so long.
def slow_feature_engine(test, delay_ms):
    return engine_file(test, {"functions": {
        "version": {"": "4.2.0 build 1187"}, "ver": {"vantrell": [{"Name": "Vantrell"}]},
        "which": {"vtr": "built-in"},
        "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": delay_ms, "value": "on"}}}})


# Polls `predicate` until it holds; the timeout is a generous deadline, not an expected time.
def wait_until(predicate, timeout=30, what="the condition"):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + (what() if callable(what) else what))
        time.sleep(0.02)


def peak_resident_bytes(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(l.split()[1]) * 1024 for l in status if l.startswith("VmHWM:"))


def open_descriptors(pid):
    return len(os.listdir("/proc/%d/fd" % pid))


# The CPU time (user and system) a running process has used so far.
def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

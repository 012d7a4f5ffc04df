"""Runs the built connector-host for end-to-end tests.

The binary and the source tree come from the environment CTest sets: CONNECTOR_HOST and
QCI_SOURCE_DIR. Third-party test data is in the source tree, under tests/data.
"""
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

HOST_BINARY = os.environ.get("CONNECTOR_HOST", "connector-host")
SOURCE_DIR = os.environ.get("QCI_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
TESTDATA_DIR = os.path.join(SOURCE_DIR, "tests", "data")
EXAMPLES_DIR = os.path.join(SOURCE_DIR, "examples")


def run_lines(lines, *args, timeout=120):
    """Feeds `lines` (str or bytes each) to the host's stdin; gives (answers, stderr, returncode).

    Every stdout line must be a JSON object: anything else fails the caller's test.
    """
    payload = b"".join((l if isinstance(l, bytes) else l.encode()) + b"\n" for l in lines)
    done = subprocess.run([HOST_BINARY, *args], input=payload, capture_output=True, timeout=timeout)
    # Lines end at "\n" only: an answer may hold U+2028, which splitlines() would also split at.
    answers = [json.loads(line) for line in done.stdout.decode("utf-8", "replace").split("\n")
               if line]
    return answers, done.stderr.decode("utf-8", "replace"), done.returncode


def measured_environment():
    """The environment for a host whose memory is measured. Under AddressSanitizer, freed memory
    waits in a quarantine of 256 MiB by default, which would count as the host's own: it is
    kept small here, so that the figure is the host's."""
    environment = dict(os.environ)
    if "ASAN_OPTIONS" in environment:
        environment["ASAN_OPTIONS"] += ":quarantine_size_mb=16"
    return environment


def free_port():
    with contextlib.closing(socket.socket(socket.AF_INET, socket.SOCK_STREAM)) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class HttpHost:
    """connector-host --http on a free loopback port, stopped with SIGTERM on exit.

    After the block: `returncode`, `stdout` and `stderr` (bytes) of the stopped host.
    """

    def __init__(self, *args, open_files=None, measured=False):
        self.args = args
        self.open_files = open_files  # the host's limit on open files, if not the inherited one
        self.environment = measured_environment() if measured else None
        self.port = None
        self.process = None
        self.stderr = b""

    def _limit_open_files(self):
        resource.setrlimit(resource.RLIMIT_NOFILE, (self.open_files, self.open_files))

    def __enter__(self):
        for _ in range(5):  # the port may be taken between probing and binding
            self.port = free_port()
            self.process = subprocess.Popen(
                [HOST_BINARY, "--http", str(self.port), *self.args], stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, env=self.environment,
                preexec_fn=self._limit_open_files if self.open_files else None)
            if self._wait_until_listening():
                return self
            self.process.kill()
            self.process.wait()
        raise RuntimeError("connector-host did not start listening")

    def _wait_until_listening(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return False
            with contextlib.closing(socket.socket()) as probe:
                if probe.connect_ex(("127.0.0.1", self.port)) == 0:
                    return True
            time.sleep(0.02)
        return False

    def post(self, body, path="/messages", method="POST", timeout=60):
        """Sends one body; gives (status, parsed JSON answer)."""
        if isinstance(body, str):
            body = body.encode()
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            connection.request(method, path, body=body, headers={"Content-Type": "application/json"})
            response = connection.getresponse()
            return response.status, json.loads(response.read().decode("utf-8", "replace"))
        finally:
            connection.close()

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise
        self.stdout = self.process.stdout.read()
        self.stderr = self.process.stderr.read()
        self.process.stdout.close()
        self.process.stderr.close()
        return False

    def home_directory(self):
        """The home directory the host holds now, asked for on a connection of its own."""
        status, _, answer, _ = self.exchange(
            request_bytes(envelope("GetUserHomeDir", {}), self.port))
        if status != "HTTP/1.1 200 OK":
            raise AssertionError("GetUserHomeDir answered %s: %r" % (status, answer))
        return answer["message"]["userHomeDir"]

    def exchange(self, raw, timeout=30):
        """Sends raw bytes on a new connection; gives (status line, headers, answer) of the first
        response and whether the host, having answered "Connection: close", closed it."""
        with contextlib.closing(socket.create_connection(("127.0.0.1", self.port), timeout)) as s:
            s.sendall(raw)
            response = http.client.HTTPResponse(s)
            response.begin()
            body = response.read()
            status_line = "HTTP/%d.%d %d %s" % (response.version // 10, response.version % 10,
                                                response.status, response.reason)
            closed = False
            if (response.headers.get("Connection") or "").lower() == "close":
                try:  # it said so: it must close, and send nothing more
                    closed = s.recv(1) == b""
                except ConnectionResetError:
                    closed = True
            return status_line, response.headers, json.loads(body) if body else None, closed


def request_bytes(body, port, path="/messages", method="POST", headers=None, version="1.1"):
    """One HTTP request as bytes; Host and Content-Type default to what a good client sends."""
    if isinstance(body, str):
        body = body.encode()
    fields = {"Host": "127.0.0.1:%d" % port, "Content-Type": "application/json",
              "Content-Length": str(len(body))}
    fields.update(headers or {})
    head = "%s %s HTTP/%s\r\n" % (method, path, version)
    head += "".join("%s: %s\r\n" % (k, v) for k, v in fields.items() if v is not None)
    return head.encode() + b"\r\n" + body


def peak_resident_bytes(pid):
    """The peak resident size (VmHWM) of a running process."""
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmHWM for process %d" % pid)


def wait_until(predicate, timeout=30, what="the condition"):
    """Polls `predicate` until it holds; fails after `timeout` seconds (a generous deadline, not
    the expected time)."""
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.02)


def open_descriptors(pid):
    """How many descriptors a running process has open."""
    return len(os.listdir("/proc/%d/fd" % pid))


def describe_descriptors(pid):
    """What a running process's descriptors are, for a failure message."""
    names = []
    for fd in sorted(os.listdir("/proc/%d/fd" % pid), key=int):
        try:
            names.append("%s:%s" % (fd, os.readlink("/proc/%d/fd/%s" % (pid, fd))))
        except OSError:
            pass
    return " ".join(names)


def cpu_seconds(pid):
    """The CPU time a running process has used so far (user and system)."""
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def raise_own_open_files(wanted):
    """Lets this test process open `wanted` descriptors, as far as the hard limit allows."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE,
                           (wanted if hard == resource.RLIM_INFINITY else min(wanted, hard), hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0]


def engine_file(table):
    """Writes an engine table to a temporary file; the caller removes it."""
    handle = tempfile.NamedTemporaryFile("w", suffix=".json", delete=False)
    json.dump(table, handle)
    handle.close()
    return handle.name


def slow_feature_engine(delay_ms):
    """An engine table file whose "graphicsAndGuis" feature answers "on" after `delay_ms`, so that
    an EnabledFeatures request for "isQGGEnabled" holds its thread that long; the caller removes
    the file."""
    return engine_file({"functions": {
        "version": {"": "4.2.0 build 1187"},
        "ver": {"vantrell": [{"Name": "Vantrell"}]},
        "which": {"vtr": "built-in"},
        "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": delay_ms, "value": "on"}}}})


def envelope(type_name, message=None, **fields):
    """One envelope as a JSON line."""
    body = {"type": "connector/v1/" + type_name}
    if message is not None:
        body["message"] = message
    body.update(fields)
    return json.dumps(body)

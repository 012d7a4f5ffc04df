# What an operator sees of the host: JSON log lines and access-log lines that parse whatever the
# clients sent, metrics that rise by exactly what was served (read with the reference Prometheus
# parser), health, the port file, systemd's readiness messages, and
# SIGHUP, which reopens the access log.
import json
import os
import signal
import socket
import tempfile
import unittest

from prometheus_client.parser import text_string_to_metric_families

from harness import HttpHost, envelope, main, run_lines, wait_until

SECRET = "body-secret-5af1"


def access_lines(path):
    with open(path, encoding="utf-8") as log:
        return [json.loads(line) for line in log.read().split("\n") if line]


def samples(text, family_name):
    """{labels as a sorted tuple: value} of one metric family."""
    for family in text_string_to_metric_families(text):
        if family.name == family_name:
            return {tuple(sorted(s.labels.items())): s.value for s in family.samples
                    if s.name in (family_name, family_name + "_total")}
    raise AssertionError("no family " + family_name)


class LogTest(unittest.TestCase):
    def test_log_and_access_lines_parse_whatever_the_clients_sent(self):
        hostile = [b"\x00\xff{", b'{"session": "a\\u0000\\n\\"b", "type": "connector/v1/GetUserHomeDir"}',
                   b"\x1b[31m" + b"x" * 70000, envelope("SetUserHomeDir", {"userHomeDir": SECRET},
                                                        session="s\u2028\u00e9").encode(),
                   envelope("ContainerRequest", {"messages": {"ClientType": [
                       {"uuid": "c", "properties": {"TYPE": "jsd\n[8] forged"}}]}}).encode()]
        with tempfile.TemporaryDirectory() as folder:
            access = os.path.join(folder, "access.log")
            answers, stderr, code = run_lines(
                hostile, "--log-format", "json", "--log-level", "debug", "--access-log", access,
                "--max-bytes", "65536")
            self.assertEqual(code, 0)
            lines = access_lines(access)
        self.assertEqual(len(lines), len(answers))
        self.assertEqual([l["error"] for l in lines],
                         ["parse_error", None, "too_large", None, None])
        self.assertEqual(lines[3]["session"], "s\u2028\u00e9")
        self.assertEqual(lines[3]["type"], "SetUserHomeDir")
        for line in lines:
            self.assertEqual(set(line), {"time", "peer", "session", "type", "error", "bytesIn",
                                         "bytesOut", "durationUs"})
        logged = [json.loads(line) for line in stderr.split("\n") if line]
        self.assertTrue(all(set(l) == {"time", "level", "source", "message"} for l in logged))
        self.assertTrue(any(l["source"] == "connector::information" for l in logged))
        self.assertNotIn(SECRET, stderr)
        summary = [l["message"] for l in logged if l["message"].startswith("served ")]
        self.assertEqual(summary, ["served 5 requests: 3 answered, 2 errors (too_large 1, "
                                   "parse_error 1); %d bytes in, %d bytes out; 0 engine evaluations"
                                   % (sum(l["bytesIn"] for l in lines),
                                      sum(l["bytesOut"] for l in lines))])


class HttpOperabilityTest(unittest.TestCase):
    def test_metrics_count_exactly_what_was_served(self):
        with tempfile.TemporaryDirectory() as folder:
            token = os.path.join(folder, "token")
            with open(token, "w") as file:
                file.write("t0k3n")
            os.chmod(token, 0o600)
            access = os.path.join(folder, "access.log")
            with HttpHost("--token-file", token, "--access-log", access) as host:
                bearer = {"Authorization": "Bearer t0k3n"}
                sent = [(envelope("GetUserHomeDir", {}), bearer, 200)] * 3 + [
                    ("{", bearer, 400), (envelope("Nothing"), bearer, 400),
                    (envelope("GetUserHomeDir", {}), {}, 401),
                    (envelope("GetUserHomeDir", {}), {"Origin": "http://evil.example"}, 403)]
                # Every answer's fields (Date, and WWW-Authenticate with a 401) come from one
                # makeResponse: HttpResponsesTest.
                for body, headers, status in sent:
                    got, _, _, _ = host.exchange(host.request(body, headers=headers))
                    self.assertEqual(got.split(" ")[1], str(status))
                for path, status in (("/metrics?x", "401"), ("/healthz", "200")):
                    got, _, _, _ = host.exchange(host.request(b"", path=path, method="GET"))
                    self.assertEqual(got.split(" ")[1], status)
                _, fields, metrics, _ = host.exchange(host.request(
                    b"", path="/metrics", method="GET", headers=bearer))
                self.assertEqual(fields["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
                metrics = metrics.decode()
            wait_until(lambda: len(access_lines(access)) == 10, 10, "the access log")
        requests = samples(metrics, "connector_host_requests")
        self.assertEqual(requests[(("outcome", "answered"), ("type", "GetUserHomeDir"))], 3)
        self.assertEqual(requests[(("outcome", "error"), ("type", "unknown"))], 2)
        self.assertEqual(sum(requests.values()), 5)
        errors = samples(metrics, "connector_host_errors")
        self.assertEqual(errors[(("kind", "unauthorized"), ("status", "401"))], 2)
        self.assertEqual(errors[(("kind", "forbidden_origin"), ("status", "403"))], 1)
        statuses = samples(metrics, "connector_host_http_responses")
        self.assertEqual(statuses[(("status", "200"),)], 4)  # three envelopes and the health
        self.assertEqual(statuses[(("status", "400"),)], 2)
        for family in text_string_to_metric_families(metrics):  # every family parses
            self.assertTrue(family.samples, family.name)

    def test_readiness_and_a_reopened_access_log(self):
        with tempfile.TemporaryDirectory() as folder:
            notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            notify.bind(os.path.join(folder, "notify"))
            notify.settimeout(20)
            access = os.path.join(folder, "access.log")
            os.environ["NOTIFY_SOCKET"] = os.path.join(folder, "notify")
            try:  # the harness reads the port from the host's --port-file
                host = HttpHost("--access-log", access, "--log-level", "info").__enter__()
            finally:
                del os.environ["NOTIFY_SOCKET"]
            self.assertEqual(notify.recv(100), b"READY=1")
            host.exchange(host.request(envelope("GetUserHomeDir", {})))
            os.rename(access, access + ".1")
            host.process.send_signal(signal.SIGHUP)
            wait_until(lambda: os.path.exists(access), 10, "the reopened access log")
            host.exchange(host.request(envelope("GetUserHomeDir", {})))
            wait_until(lambda: len(access_lines(access)) == 1, 10, "a line in the new log")
            host.process.send_signal(signal.SIGTERM)
            self.assertEqual(notify.recv(100), b"STOPPING=1")
            host.__exit__(None, None, None)
            notify.close()
        self.assertEqual(host.process.returncode, 0)
        self.assertIn(b"serving the page at http://127.0.0.1:%d/ and envelopes at POST "
                      b"http://127.0.0.1:%d/messages" % (host.port, host.port), host.stderr)


if __name__ == "__main__":
    main()

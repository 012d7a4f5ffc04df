# Answers on stdin are faithful: in input order, with ids echoed exactly.
#
# Sessions are dropped when idle or over their memory budget, least recently used first; logged
# client text cannot forge a log line; a wrong engine table or command line is refused at start,
# naming what is wrong. (That a refused envelope changes no session is EnvelopeProcessorTest's.)
import json
import re
import os
import subprocess
import unittest

from harness import (EXAMPLES_DIR, HOST_BINARY, LineHost, engine_file, envelope, main,
                     run_lines, slow_feature_engine)


class StdinTest(unittest.TestCase):
    def test_the_example_session_is_answered_in_order(self):
        answers, _, code = run_lines([], "--engine", os.path.join(EXAMPLES_DIR, "engine.json"),
                                     os.path.join(EXAMPLES_DIR, "session.jsonl"))
        self.assertEqual(code, 0)
        self.assertEqual([a.get("id") for a in answers], list(range(1, 11)))
        types = [a.get("type", "error").split("/")[-1][:-len("Response")] for a in answers]
        self.assertEqual(types, ["Container", "EnabledFeatures", "EnabledFeatures",
                                 "GetCurrentClientProperties", "SetUserHomeDir", "GetUserHomeDir",
                                 "ServiceRegistry", "ServiceRegistry", "Container", ""])
        self.assertEqual(answers[5]["message"], {"userHomeDir": "/home/alice/Documents/Quorix"})

    def test_ids_are_echoed_exactly_or_refused(self):
        echoed = ["0", "-1", "18446744073709551615", "-9223372036854775808", '"a\\u0000b"',
                  '"\\u00e9t\\u00e9"', "null"]
        # An integer id one past either edge is number_out_of_range: InputScanTest (the edges)
        # and EnvelopeProcessorTest (the kind, for an id).
        refused = ["1.5", "1e2", "true", "[1]", '{"a": 1}']
        answers, _, code = run_lines(['{"id": %s, "type": "connector/v1/GetUserHomeDir"}' % raw
                                      for raw in echoed + refused])
        self.assertEqual(code, 0)
        self.assertEqual([(a["id"], a["type"][13:]) for a in answers[:len(echoed)]],
                         [(json.loads(raw), "GetUserHomeDirResponse") for raw in echoed])
        self.assertEqual([a.get("id", a["error"]["kind"]) for a in answers[len(echoed):]],
                         ["invalid_envelope"] * len(refused))

    def test_logged_client_text_cannot_forge_a_line(self):
        forged = "jsd\n[8] connector::information: forged\x1b[31m"
        one = {"uuid": "u", "properties": {"TYPE": forged, "SERVICE_ENDPOINT": "http://[::1]:1"}}
        batch = envelope("ContainerRequest", {"messages": {"ClientType": [one]}})
        answers, stderr, code = run_lines([batch], "--log-level", "debug")
        self.assertEqual(code, 0)
        self.assertIn("ClientTypeResponse", answers[0]["message"]["messages"])
        lines = stderr.split("\n")[:-1]
        self.assertTrue(lines)
        line = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (debug|info|warning|error) "
                          r"(connector-host|connector::information): ")
        self.assertEqual([l for l in lines if not line.match(l)], [])
        self.assertNotIn("\x1b", stderr)
        self.assertIn("jsd\\x0A[8] connector::information: forged\\x1B[31m", stderr)
        self.assertEqual(run_lines([batch], "--log-level", "error")[1], "")

    def test_wrong_engine_tables_and_command_lines_are_refused_at_start(self):
        tables = [
            ('{"functions": {"which": {"vtr": {"delay_ms": -5, "value": "x"}}}}',
             '$.functions["which"]["vtr"].delay_ms must be a non-negative integer'),
            ('{"functions": {"which": {"vtr": {"delay_ms": "50", "value": "x"}}}}',
             '$.functions["which"]["vtr"].delay_ms must be a non-negative integer'),
            ('{"valid": "yes", "functions": {}}', "$.valid must be a boolean"),
            ('{"functions": {"version": {"": {"error": 5}}}}',
             '$.functions["version"][""].error must be a text'),
            ('{"functions": {"ver": {"v": [{"Name": 1}]}}}',
             '$.functions["ver"]["v"][0]["Name"] must be a text'),
            ('{"functions": []}', "$.functions must be an object"),
            ('{"functions": {', "engine table is not JSON"),
        ]
        starts = [(["--engine", engine_file(self, table)], 1, text) for table, text in tables]
        starts += [(["--max-bytes", "0"], 2, "connector-host: --max-bytes must be an integer"),
                   (["--version"], 0, ""), (["--help"], 0, "")]
        for args, status, text in starts:
            with self.subTest(args=args):
                done = subprocess.run([HOST_BINARY, *args], input="", capture_output=True,
                                      text=True, timeout=30)
                self.assertEqual((done.returncode, text in done.stderr), (status, True))
                self.assertRegex(done.stdout, "^$" if status else "--http" if args == ["--help"]
                                 else r"^connector-host \d+\.\d+\.\d+\n$")


class SessionTest(unittest.TestCase):
    def test_sessions_over_the_budget_or_idle_are_dropped(self):
        host = LineHost("--session-budget", "4000000", "--session-idle", "1",
                        "--engine", slow_feature_engine(self, 1500))
        ask = lambda session, **fields: host.ask(envelope(
            "GetCurrentClientProperties", {}, session=session, **fields))["message"]["properties"]
        try:
            # About 300 kB a session, 15 MB in all, into a budget of 4 MB: the oldest sessions
            # go, the most recent ones stay whole.
            table = {"key%d" % n: "v" * 1000 for n in range(300)}
            for number in range(50):
                self.assertEqual(ask("s%d" % number, context={"clientProperties": table}), table)
            self.assertEqual([ask("s0"), ask("s49") == table, ask("s48") == table],
                             [{}, True, True])
            self.assertEqual(ask("idle", context={"clientProperties": {"a": "b"}}), {"a": "b"})
            # A request of another session that the engine holds for 1.5 s leaves "idle" unused
            # for longer than its second.
            host.ask(envelope("EnabledFeatures", {"features": ["isQGGEnabled"]}, session="other"))
            self.assertEqual(ask("idle"), {})
        finally:
            self.assertEqual(host.close(), 0)


if __name__ == "__main__":
    main()

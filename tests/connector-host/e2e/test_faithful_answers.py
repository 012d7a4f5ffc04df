"""Answers are faithful, refusals change nothing, errors say what and where.

Ids come back exactly as sent or are refused; an envelope refused for any reason leaves the
session as it was; context values of the wrong type for the keys the plug-in reads are refused up
front; engine tables and command lines that are wrong are refused with a text naming the entry or
option; logged client text cannot forge a log line.
"""
import json
import os
import subprocess
import unittest

from harness import HOST_BINARY, engine_file, envelope, run_lines

HOME = envelope("GetUserHomeDir", {}, session="s")


def with_raw_id(raw):
    return '{"id": %s, "type": "connector/v1/GetUserHomeDir"}' % raw


class IdTest(unittest.TestCase):
    def test_ids_are_echoed_exactly_or_refused(self):
        echoed = ["0", "-1", "18446744073709551615", "-9223372036854775808", '"a\\u0000b"',
                  '"\\u00e9t\\u00e9"', "null"]
        refused = [("18446744073709551616", "number_out_of_range"),
                   ("18446744073709551617", "number_out_of_range"),
                   ("-9223372036854775809", "number_out_of_range"),
                   ("100000000000000000000", "number_out_of_range"),
                   ("1.5", "invalid_envelope"), ("1e2", "invalid_envelope"),
                   ("true", "invalid_envelope"), ("[1]", "invalid_envelope"),
                   ('{"a": 1}', "invalid_envelope")]
        lines = [with_raw_id(raw) for raw in echoed] + [with_raw_id(raw) for raw, _ in refused]
        answers, _, code = run_lines(lines)
        self.assertEqual(code, 0)
        for raw, answer in zip(echoed, answers):
            with self.subTest(id=raw):
                self.assertEqual(answer["id"], json.loads(raw))
                self.assertEqual(answer["type"], "connector/v1/GetUserHomeDirResponse")
        for (raw, kind), answer in zip(refused, answers[len(echoed):]):
            with self.subTest(id=raw):
                self.assertNotIn("id", answer)
                self.assertEqual(answer["error"]["kind"], kind)


class RefusalTest(unittest.TestCase):
    def test_a_refused_envelope_changes_nothing(self):
        refused = [
            ('"context": {"gdsEnabled": true, "zzz": null}', "EnabledFeatures", "invalid_envelope"),
            ('"context": {"zzz": null, "gdsEnabled": true}', "EnabledFeatures", "invalid_envelope"),
            ('"context": {"gdsEnabled": true}', "NoSuchType", "unknown_type"),
            ('"context": {"gdsEnabled": true}, "message": {"features": "x", "uuid": 5},'
             ' "id": 1.5', "EnabledFeatures", "invalid_envelope"),
            ('"context": {"gdsEnabled": true, "clientType": 5}', "EnabledFeatures",
             "invalid_envelope"),
            ('"context": {"gdsEnabled": true, "clientProperties": {"a": 1}}', "EnabledFeatures",
             "invalid_envelope"),
            ('"context": {"gdsEnabled": "yes"}', "EnabledFeatures", "invalid_envelope"),
            ('"context": {"gdsEnabled": true, "n": 2147483648}', "EnabledFeatures",
             "invalid_envelope"),
        ]
        ask = '{"session": "s", "type": "connector/v1/EnabledFeatures", "message": ' \
              '{"features": ["isGDSEnabled"]}}'
        lines = []
        for context, type_name, _ in refused:
            lines += ['{"session": "s", %s, "type": "connector/v1/%s"}' % (context, type_name), ask]
        lines += ['{"session": "t", "context": {"clientType": 5}, "type": "connector/v1/NoSuchType"}',
                  envelope("GetCurrentClientProperties", {})]
        answers, _, code = run_lines(lines)
        self.assertEqual(code, 0)
        for index, (context, _, kind) in enumerate(refused):
            with self.subTest(context=context):
                self.assertEqual(answers[2 * index]["error"]["kind"], kind)
                self.assertEqual(answers[2 * index + 1]["message"]["features"],
                                 {"isGDSEnabled": False})
        # The last session that sent a valid request is still the last used one.
        self.assertEqual(answers[-1]["message"]["properties"], {})

    def test_a_session_with_a_wrong_context_type_keeps_working(self):
        answers, _, _ = run_lines([
            envelope("EnabledFeatures", {"features": ["isSetPathEnabled"]}, session="n",
                     context={"clientType": 5}),
            envelope("EnabledFeatures", {"features": ["isSetPathEnabled"]}, session="n")])
        self.assertEqual(answers[0]["error"]["message"], 'context entry "clientType" must be a text')
        self.assertEqual(answers[1]["type"], "connector/v1/EnabledFeaturesResponse")


class StartUpErrorTest(unittest.TestCase):
    def start(self, *args):
        done = subprocess.run([HOST_BINARY, *args], input=b"", capture_output=True, text=False,
                              timeout=30)
        return done.returncode, done.stderr.decode().strip()

    def test_engine_tables_name_the_wrong_entry(self):
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
        for table, text in tables:
            with self.subTest(table=table):
                path = engine_file({})
                with open(path, "w") as handle:
                    handle.write(table)
                code, stderr = self.start("--engine", path)
                os.unlink(path)
                self.assertEqual(code, 1)
                self.assertIn(text, stderr)

    def test_bad_command_lines_are_refused(self):
        refused = [
            (["--max-bytes", "-1"], "--max-bytes must be an integer from 1"),
            (["--max-bytes", "0"], "--max-bytes must be an integer from 1"),
            (["--log-level", "-5"], "--log-level must be debug, info, warning, error"),
            (["--http", "-1"], "--http must be an integer from 0 to 65535"),
            (["--http", "65536"], "--http must be an integer from 0 to 65535"),
            (["--http", "0", "session.jsonl"], "--http serves HTTP and reads no SESSION_FILE"),
            (["--allow-origin", "http://a"], "--allow-origin applies only with --http"),
            (["--session-idle", "soon"], "--session-idle must be a number of seconds"),
        ]
        for args, text in refused:
            with self.subTest(args=args):
                code, stderr = self.start(*args)
                self.assertEqual(code, 2)
                self.assertIn(text, stderr)
        version = subprocess.run([HOST_BINARY, "--version"], capture_output=True, text=True,
                                 timeout=30)
        self.assertEqual(version.returncode, 0)
        self.assertRegex(version.stdout, r"^connector-host \d+\.\d+\.\d+\n$")


class LogTest(unittest.TestCase):
    def test_logged_client_text_cannot_forge_a_line(self):
        forged = "jsd\n[8] connector::information: forged\x1b[31m"
        batch = envelope("ContainerRequest", {"messages": {"ClientType": [
            {"uuid": "u", "properties": {"TYPE": forged, "SERVICE_ENDPOINT": "http://localhost:1"}}]}})
        for level in ("8", "info", "debug"):
            with self.subTest(level=level):
                answers, stderr, code = run_lines([batch], "--log-level", level)
                self.assertEqual(code, 0)
                self.assertIn("ClientTypeResponse", answers[0]["message"]["messages"])
                lines = stderr.splitlines()
                self.assertTrue(lines)
                self.assertTrue(all(line.startswith("[8] connector::information: ")
                                    for line in lines), lines)
                self.assertNotIn("\x1b", stderr)
                self.assertIn("jsd\\x0A[8] connector::information: forged\\x1B[31m", stderr)
        _, stderr, _ = run_lines([batch], "--log-level", "warning")
        self.assertNotIn("[8]", stderr)


if __name__ == "__main__":
    unittest.main()

"""connector-host end to end: the example session, bad input, HTTP and slow host functions."""
import os
import threading
import time
import unittest

import subprocess

from harness import EXAMPLES_DIR, HOST_BINARY, HttpHost, engine_file, envelope, run_lines

ALL_FLAGS = {"isVantrellCmdEnabled", "isGDSEnabled", "isLoginRequired", "isQGGEnabled",
             "isNativePublishEnabled", "isUDCFeedbackEnabled", "isSetPathEnabled",
             "isNativeImportDataEnabled", "isWebSocketEnabled", "isWebSocketPKEnabled"}


class ExampleSessionTest(unittest.TestCase):
    def test_every_request_type_is_answered_in_order(self):
        with open(os.path.join(EXAMPLES_DIR, "session.jsonl")) as session:
            lines = [line for line in session.read().splitlines() if line.strip()]
        answers, _, code = run_lines(lines, "--engine", os.path.join(EXAMPLES_DIR, "engine.json"))
        self.assertEqual(code, 0)
        self.assertEqual([a.get("id") for a in answers], list(range(1, 11)))
        by_id = {a["id"]: a for a in answers}

        alice = by_id[1]["message"]["messages"]["ClientTypeResponse"][0]
        self.assertEqual(by_id[1]["type"], "connector/v1/ContainerResponse")
        self.assertEqual(alice["uuid"], "ct-alice")
        self.assertEqual(alice["properties"]["TYPE"], "jsd_lcl_nkv")
        self.assertEqual(alice["properties"]["ORIG_CLIENT_TYPE"], "jsd")
        self.assertEqual(alice["messageFaults"], [])

        flags = by_id[2]["message"]["features"]
        self.assertEqual(set(flags), ALL_FLAGS)
        # A local client with gdsEnabled, and every host answer positive; loginRequired is false.
        self.assertEqual({name for name, on in flags.items() if not on}, {"isLoginRequired"})
        self.assertEqual(by_id[2]["message"]["quorixVersion"], "4.2.0 build 1187")
        self.assertEqual(by_id[3]["message"]["features"],
                         {"isQGGEnabled": True, "isWebSocketEnabled": True})
        self.assertEqual(by_id[4]["message"]["properties"], alice["properties"])
        self.assertEqual(by_id[5]["message"], {})
        self.assertEqual(by_id[6]["message"], {"userHomeDir": "/home/alice/Documents/Quorix"})
        self.assertEqual(by_id[7]["message"]["properties"], {"service": "quorix.editor", "endpoint": ""})
        self.assertEqual(by_id[7]["message"]["messageFaults"], [])
        fault = by_id[8]["message"]["messageFaults"]
        self.assertEqual(fault, [{"faultCode": "Request.Ignored", "faultConditions": [],
                                  "message": "No valid identifiers in service registry request properties"}])

        bob = by_id[9]["message"]["messages"]
        self.assertEqual(set(bob), {"ClientTypeResponse", "GetCurrentClientPropertiesResponse",
                                    "EnabledFeaturesResponse"})
        self.assertEqual(bob["ClientTypeResponse"][0]["properties"]["TYPE"], "jsd_rmt_nkv")
        self.assertEqual(bob["GetCurrentClientPropertiesResponse"][0]["properties"]["TYPE"], "jsd_rmt_nkv")
        self.assertEqual(bob["EnabledFeaturesResponse"][0]["features"], {"isSetPathEnabled": False})
        self.assertEqual(by_id[10]["error"]["kind"], "no_provider")

    def test_help_and_bad_options(self):
        shown = subprocess.run([HOST_BINARY, "--help"], capture_output=True, text=True, timeout=30)
        self.assertEqual(shown.returncode, 0)
        self.assertIn("--http", shown.stdout)
        refused = subprocess.run([HOST_BINARY, "--no-such-option"], capture_output=True, text=True,
                                 timeout=30)
        self.assertEqual(refused.returncode, 2)
        self.assertEqual(refused.stdout, "")


class BadInputTest(unittest.TestCase):
    def test_each_bad_line_gets_one_error_and_the_next_line_is_served(self):
        failing = engine_file({"functions": {
            "version": {"": "1.0"},
            "qls.internal.feature": {"graphicsAndGuis": {"error": "license checkout failed"}}}})
        good = envelope("GetUserHomeDir", {})
        bad = [
            (b"this is not json", "parse_error", None),
            (b"[1, 2, 3]", "invalid_envelope", None),
            (b'{"id": 3, "message": {}}', "invalid_envelope", None),
            (envelope("NoSuchThing", {}).encode(), "unknown_type", None),
            (envelope("ClientType", {"uuid": "x"}).encode(), "no_provider", None),
            (b'{"type": "connector/v1/SetUserHomeDir", "message": {"userHomeDir": "a\xff\xfeb"}}',
             "parse_error", "Not JSON: invalid UTF-8 at byte 69"),
            (b'{"type": "connector/v1/SetUserHomeDir", "message": {"userHomeDir": "a\xed\xa0\x80b"}}',
             "parse_error", "invalid UTF-8"),
            (b'{"type": "connector/v1/GetUserHomeDir", "message": {"x": "a\x00"}}', "parse_error",
             "Not JSON: NUL byte at byte 59"),
            (envelope("ContainerRequest", {"messages": {"GetUserHomeDirResponse": [{}]}}).encode(),
             "no_provider", "No service provider for message type"),
            (envelope("EnabledFeatures", {"features": ["isSetPathEnabled"]},
                      context={"clientType": 5}, session="numeric").encode(), "invalid_envelope",
             'context entry "clientType" must be a text'),
            (envelope("EnabledFeatures", {"features": ["isQGGEnabled"]}).encode(), "runtime_error",
             "license checkout failed"),
            (b'{"type": "connector/v1/GetUserHomeDir", "pad": "' + b"x" * 2000 + b'"}', "too_large", None),
        ]
        lines = []
        for line, _, _ in bad:
            lines += [line, good]
        answers, _, code = run_lines(lines, "--engine", failing, "--max-bytes", "1000")
        os.unlink(failing)
        self.assertEqual(code, 0)
        self.assertEqual(len(answers), 2 * len(bad))
        for index, (line, kind, text) in enumerate(bad):
            with self.subTest(line=line[:60]):
                error = answers[2 * index]["error"]
                self.assertEqual(error["kind"], kind)
                self.assertTrue(error["message"])
                if text:
                    self.assertIn(text, error["message"])
                self.assertEqual(answers[2 * index + 1]["type"], "connector/v1/GetUserHomeDirResponse")


class HttpTest(unittest.TestCase):
    def test_concurrent_clients_and_status_codes(self):
        with HttpHost("--max-bytes", "4096") as host:
            results, failures = {}, []

            def client(number):
                try:
                    session = "client-%d" % number
                    for round_ in range(15):
                        status, answer = host.post(envelope(
                            "ContainerRequest",
                            {"messages": {"ClientType": [{"uuid": "u", "properties": {
                                "TYPE": "t%d" % number, "SERVICE_ENDPOINT": "http://localhost:1"}}],
                                "GetCurrentClientProperties": [{}]}},
                            session=session, id=round_))
                        props = answer["message"]["messages"]["GetCurrentClientPropertiesResponse"][0]
                        results.setdefault(number, []).append((status, props["properties"]["TYPE"]))
                except Exception as error:  # reported below, on the test's thread
                    failures.append(error)

            threads = [threading.Thread(target=client, args=(n,)) for n in range(8)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join(120)
            self.assertEqual(failures, [])
            for number in range(8):
                self.assertEqual(results[number], [(200, "t%d_lcl_nkv" % number)] * 15)

            status, answer = host.post("{not json")
            self.assertEqual((status, answer["error"]["kind"]), (400, "parse_error"))
            status, answer = host.post("{" + '"x": "' + "y" * 5000 + '"}')
            self.assertEqual((status, answer["error"]["kind"]), (413, "too_large"))
            self.assertEqual(host.post("", method="GET")[0], 405)
            self.assertEqual(host.post(envelope("GetUserHomeDir"), path="/other")[0], 404)
            status, answer = host.post(envelope("GetUserHomeDir"))
            self.assertEqual((status, answer["type"]), (200, "connector/v1/GetUserHomeDirResponse"))
        self.assertEqual(host.process.returncode, 0)  # stopped by SIGTERM, cleanly
        self.assertEqual(host.stdout, b"")


class SlowEngineTest(unittest.TestCase):
    def test_a_slow_host_function_is_waited_for(self):
        slow = engine_file({"functions": {
            "version": {"": {"delay_ms": 400, "value": "9.9 slow"}},
            "qls.internal.feature": {"graphicsAndGuis": {"delay_ms": 300, "value": "on"}}}})
        started = time.monotonic()
        answers, _, code = run_lines([envelope("EnabledFeatures", {"features": ["isQGGEnabled"]})],
                                     "--engine", slow)
        elapsed = time.monotonic() - started
        os.unlink(slow)
        self.assertEqual(code, 0)
        self.assertEqual(answers[0]["message"]["features"], {"isQGGEnabled": True})
        self.assertEqual(answers[0]["message"]["quorixVersion"], "9.9 slow")
        self.assertGreaterEqual(elapsed, 0.7)


if __name__ == "__main__":
    unittest.main()

// The client module of the playground page (tools/connector-host/http/web/client.js), as a client
// developer would use it from Node.js, against a running connector-host: announce and an answer,
// error answers as HostError with their kind and HTTP status, and refused requests.
import assert from "node:assert/strict";
import path from "node:path";
import { test } from "node:test";
import { pathToFileURL } from "node:url";

import { SOURCE_DIR, startHost, temporaryFile } from "./connectorHost.mjs";

const { announce, send, HostError } = await import(
    pathToFileURL(path.join(SOURCE_DIR, "tools/connector-host/http/web/client.js")).href);

const LIMIT = { timeout: 120_000 };  // a guard against a hang only; nothing waits for a time

// rejectsWith: the promise fails with a HostError of this kind and status.
async function rejectsWith(promise, kind, status, message = /./) {
    await assert.rejects(promise, (error) => {
        assert.ok(error instanceof HostError, `not a HostError: ${error}`);
        assert.equal(error.kind, kind);
        assert.equal(error.status, status);
        assert.match(error.message, message);
        return true;
    });
}

test("announce negotiates the client type and send gives answers in that session", LIMIT, async (t) => {
    const host = await startHost();
    t.after(() => host.stop());
    const options = { base: host.base, session: "node-client" };
    const endpoint = `${host.base}/app.html`;

    const me = await announce({ ...options, endpoint, properties: { app: "notebook" } });
    assert.equal(me.clientType, "jsd_lcl_nkv");
    assert.deepEqual(me.properties, {
        app: "notebook", ORIG_CLIENT_TYPE: "jsd", SERVICE_ENDPOINT: endpoint, TYPE: "jsd_lcl_nkv" });

    const answer = await send({ id: 7, type: "connector/v1/EnabledFeatures",
                                message: { uuid: "u1", features: ["isSetPathEnabled"] } }, options);
    assert.deepEqual(answer, { id: 7, session: "node-client", type: "connector/v1/EnabledFeaturesResponse",
                               message: { uuid: "", features: { isSetPathEnabled: true },
                                          quorixVersion: "4.2.0 build 1187", messageFaults: [] } });

    const remote = await announce({ ...options, session: "elsewhere", endpoint: "http://example.org/" });
    assert.equal(remote.clientType, "jsd_rmt_nkv");
});

test("error answers reject with their kind and HTTP status", LIMIT, async (t) => {
    const host = await startHost(["--max-bytes", "2000"]);
    t.after(() => host.stop());
    const options = { base: host.base };
    const cases = [
        ["a response type", { type: "connector/v1/GetUserHomeDirResponse" }, "no_provider", 400],
        ["a session that is not a text", { type: "connector/v1/GetUserHomeDir", session: 5 }, "invalid_envelope", 400],
        ["an unknown type", { type: "connector/v1/Nothing" }, "unknown_type", 400],
        ["a body over --max-bytes", { type: "connector/v1/SetUserHomeDir", message: { userHomeDir: "x".repeat(3000) } },
         "too_large", 413],
    ];
    for (const [label, envelope, kind, status] of cases)
        await t.test(label, () => rejectsWith(send(envelope, options), kind, status));
});

test("refused requests reject too: no token, a wrong token, no host", LIMIT, async (t) => {
    const token = temporaryFile("token", "client-t0ken\n");
    t.after(() => token.remove());
    const host = await startHost(["--token-file", token.file]);
    t.after(() => host.stop());
    const envelope = { type: "connector/v1/GetUserHomeDir" };

    await rejectsWith(send(envelope, { base: host.base }), "unauthorized", 401, /Bearer/);
    await rejectsWith(send(envelope, { base: host.base, token: "client-t0keN" }), "unauthorized", 401);
    await rejectsWith(announce({ base: host.base, endpoint: host.base }), "unauthorized", 401);
    const answer = await send(envelope, { base: host.base, token: "client-t0ken" });
    assert.equal(answer.type, "connector/v1/GetUserHomeDirResponse");

    const stopped = await startHost();
    const base = stopped.base;
    await stopped.stop();
    await rejectsWith(send(envelope, { base }), "network_error", 0, /no answer from/);
});

// The playground page in a real browser, its client module under Node.js, and the loopback guards
// as a browser enforces them.
//
// Loaded from connector-host --http (by either of its names, so from either of its own origins),
// the page announces itself in a session of its own and shows the negotiated local client type,
// the recorded properties, all ten feature flags and the host's version, requesting nothing but
// itself and POST /messages; its form sends envelopes and shows answers and errors; with
// --token-file it asks for the token instead of carrying it. A page of another origin tries to
// change the home directory through the browser (a JSON fetch, a no-cors text/plain POST, a form
// POST whose text/plain body is a JSON envelope): nothing changes; with --allow-origin naming
// that origin, its JSON fetch passes the CORS preflight and is answered. The client module
// (tools/connector-host/http/web/client.js), as a client developer would use it from Node.js:
// announce and an answer in the client's session; error answers, refused requests and no host at
// all as a HostError with its kind and HTTP status.
import assert from "node:assert/strict";
import { once } from "node:events";
import { createServer } from "node:http";
import path from "node:path";
import { after, before, test } from "node:test";
import { pathToFileURL } from "node:url";

import { Browser } from "./chromium.mjs";
import { SOURCE_DIR, post, startHost, temporaryFile } from "./connectorHost.mjs";

const { announce, send, HostError } = await import(
    pathToFileURL(path.join(SOURCE_DIR, "tools/connector-host/http/web/client.js")).href);

const LIMIT = { timeout: 300_000 };  // a guard against a hang only; nothing waits for a time

// An engine whose answers differ from the built-in table's, so that what the page shows can only
// come from this host: version text, Vantrell and QGG off.
const ENGINE = { functions: { version: { "": "7.1.0 playground test" }, ver: { vantrell: [] }, which: { vtr: "" },
                              "qls.internal.feature": { graphicsAndGuis: "off" } } };
const OFF = ["isGDSEnabled", "isLoginRequired", "isQGGEnabled", "isVantrellCmdEnabled"];

// What the page shows, read from its DOM; `box` is the id of an error box.
const shown = (box) => `(() => {
    const text = (id) => document.getElementById(id).textContent;
    const rows = (id) => Object.fromEntries(Array.from(document.querySelectorAll("#" + id + " tbody tr"),
                                                       (tr) => Array.from(tr.cells, (td) => td.textContent)));
    const box = document.getElementById(${JSON.stringify(box)});
    return { clientType: text("client-type"), properties: rows("properties"), flags: rows("flags"),
             version: text("version"), session: text("session-name"), endpoint: text("endpoint"),
             answer: text("answer"), status: text("answer-status"),
             error: box.hidden ? null : [".kind", ".status", ".message"].map((c) => box.querySelector(c).textContent) };
})()`;

const engine = temporaryFile("engine.json", JSON.stringify(ENGINE));
let browser;
before(async () => { browser = await Browser.launch(); });
after(async () => {
    await browser?.close();
    engine.remove();
});

// open: a new tab on `url`, once the page's module has run (it sets data-state by its load event;
// a script the browser refused, by the page's Content-Security-Policy say, never will) and its
// first steps are done; gives the page and its data-state.
async function open(url) {
    const page = await browser.newPage();
    await page.open(url);
    const state = await page.evaluate("document.documentElement.dataset.state ?? null");
    assert.notEqual(state, null, `the page's script did not run: ${page.problems.join("; ")}`);
    return [page, await page.waitForAttribute("data-state", ["ready", "failed"])];
}

test("the page negotiates a local client type in a session of its own and shows the features", LIMIT, async (t) => {
    const host = await startHost(["--engine", engine.file]);
    t.after(() => host.stop());
    for (const name of ["127.0.0.1", "localhost"]) {
        const origin = `http://${name}:${host.port}`;
        const [page, state] = await open(`${origin}/`);
        assert.equal(state, "ready", await page.evaluate("document.documentElement.dataset.error"));
        const { session, flags, ...rest } = await page.evaluate(shown("connect-error"));
        const properties = { ORIG_CLIENT_TYPE: "jsd", SERVICE_ENDPOINT: `${origin}/`, TYPE: "jsd_lcl_nkv" };
        assert.deepEqual(rest, { clientType: "jsd_lcl_nkv", properties, endpoint: `${origin}/`,
                                 version: "7.1.0 playground test", answer: "", status: "", error: null });
        // All ten flags; off: the two this engine turns off, and GDS and login, which no context asks for.
        assert.deepEqual([Object.keys(flags).length, Object.keys(flags).filter((f) => flags[f] === "off")], [10, OFF]);
        // The host recorded the client in the page's own session.
        assert.match(session, /^playground-[0-9a-f]{12}$/);
        const recorded = await post(host, { type: "connector/v1/GetCurrentClientProperties", session });
        assert.deepEqual(recorded.answer.message.properties, properties);
        assert.deepEqual([...new Set(page.requests.map((r) => `${r.method} ${r.url} ${r.status}`))],
                         [`GET ${origin}/ 200`, `POST ${origin}/messages 200`]);
        assert.deepEqual(page.problems, []);
    }
});

test("with --token-file the page asks for the token, then its form sends envelopes", LIMIT, async (t) => {
    const token = temporaryFile("token", "page-t0ken-1234\n");
    t.after(() => token.remove());
    const host = await startHost(["--token-file", token.file]);
    t.after(() => host.stop());
    const [page, state] = await open(`${host.base}/index.html`);
    assert.equal(state, "failed");
    const [kind, status, text] = (await page.evaluate(shown("connect-error"))).error;
    assert.deepEqual([kind, status], ["unauthorized", "HTTP 401"]);
    assert.match(text, /enter the host's token/);
    await page.evaluate(`document.getElementById("token").value = "page-t0ken-1234";
        document.getElementById("connect").click();`);
    assert.equal(await page.waitForAttribute("data-state", ["ready", "failed"]), "ready");

    // sendFromForm: picks `type` in the form, sends its sample message, and gives what is shown.
    const sendFromForm = async (type, sent) => {
        await page.evaluate(`document.getElementById("type").value = ${JSON.stringify(type)};
            document.getElementById("type").dispatchEvent(new Event("change"));
            document.querySelector("#send-form button[type=submit]").click();`);
        await page.waitForAttribute("data-sent", [String(sent)]);
        return page.evaluate(shown("answer-error"));
    };
    const features = await sendFromForm("connector/v1/EnabledFeatures", 1);
    assert.deepEqual([features.status, features.error], ["HTTP 200", null]);
    const answer = JSON.parse(features.answer);
    assert.deepEqual([answer.type, answer.session], ["connector/v1/EnabledFeaturesResponse", features.session]);
    assert.equal(answer.message.features.isSetPathEnabled, true);  // the page's session is local
    // The form offers what a client can send, and shows a refusal with its kind and status.
    assert.deepEqual(await page.evaluate(`[...document.getElementById("type").options].map((o) => o.text)`),
                     ["EnabledFeatures", "GetCurrentClientProperties", "GetUserHomeDir", "SetUserHomeDir",
                      "ServiceRegistry", "ContainerRequest"]);
    await page.evaluate(`document.getElementById("context").value = '{"gdsEnabled": "yes"}';`);
    const refused = await sendFromForm("connector/v1/EnabledFeatures", 2);
    assert.deepEqual([refused.answer, refused.error.slice(0, 2)], ["", ["invalid_envelope", "HTTP 400"]]);
});

// The attacking page: a JSON fetch, a no-cors text/plain POST and a form POST, in turn; then
// data-state "done".
const attackPage = (target) => `<!doctype html><html><body><iframe name="sink"></iframe><script>
const post = (type, dir, mode) => fetch(${JSON.stringify(target)}, { method: "POST", mode, headers: { "Content-Type": type },
    body: JSON.stringify({ type: "connector/v1/SetUserHomeDir", message: { userHomeDir: dir } }) }).catch(() => {});
(async () => {
    await post("application/json", "/pwned-json", "cors");
    await post("text/plain", "/pwned-text", "no-cors");
    // enctype text/plain sends "name=value": the name opens a JSON envelope, the value closes it.
    const form = Object.assign(document.createElement("form"),
                               { method: "POST", action: ${JSON.stringify(target)}, enctype: "text/plain", target: "sink" });
    form.append(Object.assign(document.createElement("input"), { value: '"}',
        name: '{"type":"connector/v1/SetUserHomeDir","message":{"userHomeDir":"/pwned-form"},"pad":"' }));
    document.body.append(form);
    document.querySelector("iframe").onload = () => { document.documentElement.dataset.state = "done"; };
    form.submit();
})();
</script></body></html>`;

// attack: serves the attacking page from another local server (another port, so another origin)
// and opens it against a host started with hostArgs(that origin). Gives what reached the host,
// as "METHOD status" (a request the browser did not send because its preflight failed shows
// "blocked": its CORS error name may change between versions), and the home directory after.
async function attack(hostArgs = () => []) {
    let target = "";
    const server = createServer((request, response) => {
        response.writeHead(200, { "Content-Type": "text/html", "Cache-Control": "no-store" });
        response.end(attackPage(target));
    });
    server.listen(0, "127.0.0.1");
    await once(server, "listening");
    const origin = `http://127.0.0.1:${server.address().port}`;
    const host = await startHost(hostArgs(origin));
    target = `${host.base}/messages`;
    try {
        const page = await browser.newPage();
        await page.open(`${origin}/attack.html`);
        await page.waitForAttribute("data-state", ["done"]);
        const outcome = (r) => r.status ?? (r.failed?.startsWith("Preflight") ? "blocked" : r.failed);
        const home = await post(host, { type: "connector/v1/GetUserHomeDir" });
        return [page.requests.filter((r) => r.url === target).map((r) => `${r.method} ${outcome(r)}`).sort(),
                home.answer.message.userHomeDir];
    } finally {
        await host.stop();
        server.close();
    }
}

test("a page of another origin cannot change the home directory through the browser", LIMIT, async () => {
    // The JSON POST needed a preflight, which the host refused, so the browser never sent it;
    // the browser did send the two simple POSTs, and the host refused both by their Origin.
    assert.deepEqual(await attack(), [["OPTIONS 403", "POST 403", "POST 403", "POST blocked"], ""]);
});

test("with --allow-origin the page's JSON request passes the preflight and is answered", LIMIT, async () => {
    // The preflight was answered, then the JSON POST; the simple POSTs, sent later, lack the JSON
    // type and changed nothing.
    assert.deepEqual(await attack((origin) => ["--allow-origin", origin]),
                     [["OPTIONS 204", "POST 200", "POST 415", "POST 415"], "/pwned-json"]);
});

// rejectsWith: the promise fails with a HostError of this kind and status.
const rejectsWith = (promise, kind, status, message = /./) => assert.rejects(promise, (error) => {
    assert.ok(error instanceof HostError, `not a HostError: ${error}`);
    assert.deepEqual([error.kind, error.status], [kind, status]);
    assert.match(error.message, message);
    return true;
});

test("announce, send, and every failure as a HostError", LIMIT, async (t) => {
    const token = temporaryFile("token", "client-t0ken\n");
    t.after(() => token.remove());
    const host = await startHost(["--token-file", token.file, "--max-bytes", "2000"]);
    t.after(() => host.stop());
    const options = { base: host.base, session: "node-client", token: "client-t0ken" };
    const endpoint = `${host.base}/app.html`;

    const me = await announce({ ...options, endpoint, properties: { app: "notebook" } });
    assert.deepEqual(me.properties, {
        app: "notebook", ORIG_CLIENT_TYPE: "jsd", SERVICE_ENDPOINT: endpoint, TYPE: "jsd_lcl_nkv" });
    assert.equal(me.clientType, "jsd_lcl_nkv");
    const answer = await send({ id: 7, type: "connector/v1/EnabledFeatures",
                                message: { uuid: "u1", features: ["isSetPathEnabled"] } }, options);
    assert.deepEqual(answer, { id: 7, session: "node-client", type: "connector/v1/EnabledFeaturesResponse",
                               message: { uuid: "", features: { isSetPathEnabled: true },
                                          quorixVersion: "4.2.0 build 1187", messageFaults: [] } });

    const home = { type: "connector/v1/GetUserHomeDir" };
    await rejectsWith(send({ type: "connector/v1/Nothing" }, options), "unknown_type", 400);
    await rejectsWith(send({ ...home, message: { pad: "x".repeat(3000) } }, options), "too_large", 413);
    await rejectsWith(send(home, { base: host.base }), "unauthorized", 401, /Bearer/);
    await rejectsWith(announce({ base: host.base, token: "client-t0keN" }), "unauthorized", 401);
    await host.stop();
    await rejectsWith(send(home, options), "network_error", 0, /no answer from/);
});

// The playground page in a real browser: loaded from connector-host --http, it announces itself
// in a session of its own and shows the negotiated local client type, the recorded properties,
// all ten feature flags and the host's version; its form sends envelopes and shows answers and
// errors; with --token-file it asks for the token instead of carrying it. A screenshot of the
// page is saved under the build folder.
import assert from "node:assert/strict";
import { mkdirSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import { Browser } from "./chromium.mjs";
import { post, startHost, temporaryFile } from "./connectorHost.mjs";

const ARTIFACT_DIR = process.env.QCI_ARTIFACT_DIR ?? tmpdir();
const LIMIT = { timeout: 300_000 };  // a guard against a hang only; nothing waits for a time

// An engine whose answers differ from the built-in table's, so that what the page shows can only
// come from this host: version text, Vantrell and QGG off.
const ENGINE = {
    functions: {
        version: { "": "7.1.0 playground test" },
        ver: { vantrell: [] },
        which: { vtr: "" },
        "qls.internal.feature": { graphicsAndGuis: "off" },
    },
};
const EXPECTED_FLAGS = {
    isVantrellCmdEnabled: "off", isGDSEnabled: "off", isLoginRequired: "off", isQGGEnabled: "off",
    isNativePublishEnabled: "on", isUDCFeedbackEnabled: "on", isSetPathEnabled: "on",
    isNativeImportDataEnabled: "on", isWebSocketEnabled: "on", isWebSocketPKEnabled: "on",
};

// What the page shows, read from its DOM.
const SHOWN = `(() => {
    const text = (id) => document.getElementById(id).textContent;
    const rows = (id) => Array.from(document.querySelectorAll("#" + id + " tbody tr"),
                                    (tr) => Array.from(tr.cells, (td) => td.textContent));
    const box = document.getElementById("connect-error");
    return { clientType: text("client-type"), properties: Object.fromEntries(rows("properties")),
             flags: Object.fromEntries(rows("flags")), version: text("version"),
             session: text("session-name"), endpoint: text("endpoint"),
             error: box.hidden ? null : { kind: box.querySelector(".kind").textContent,
                                          status: box.querySelector(".status").textContent } };
})()`;

let browser;
let engine;
before(async () => {
    browser = await Browser.launch();
    engine = temporaryFile("engine.json", JSON.stringify(ENGINE));
});
after(async () => {
    await browser?.close();
    engine?.remove();
});

// scriptRan: the page's module has run by its load event, and set data-state; a script the
// browser refused (by the page's Content-Security-Policy, say) never will.
async function scriptRan(page) {
    const state = await page.evaluate("document.documentElement.dataset.state ?? null");
    assert.notEqual(state, null, `the page's script did not run: ${page.problems.join("; ")}`);
}

// load: opens the page and waits until its first steps are done; fails with the page's error.
async function load(url) {
    const page = await browser.newPage();
    await page.open(url);
    await scriptRan(page);
    const state = await page.waitForAttribute("data-state", ["ready", "failed"]);
    assert.equal(state, "ready", `the page could not negotiate: ${
        await page.evaluate("document.documentElement.dataset.error")}`);
    return page;
}

// sendFromForm: picks `type` in the form, sends its sample message, and gives what is shown.
async function sendFromForm(page, type) {
    const sent = Number(await page.evaluate("document.documentElement.dataset.sent ?? 0"));
    await page.evaluate(`(() => {
        const select = document.getElementById("type");
        select.value = ${JSON.stringify(type)};
        select.dispatchEvent(new Event("change"));
        document.querySelector("#send-form button[type=submit]").click();
    })()`);
    await page.waitForAttribute("data-sent", [String(sent + 1)]);
    return page.evaluate(`(() => {
        const box = document.getElementById("answer-error");
        return { answer: document.getElementById("answer").textContent,
                 status: document.getElementById("answer-status").textContent,
                 error: box.hidden ? null : { kind: box.querySelector(".kind").textContent,
                                              status: box.querySelector(".status").textContent,
                                              message: box.querySelector(".message").textContent } };
    })()`);
}

test("the page negotiates a local client type in a session of its own and shows the features", LIMIT, async (t) => {
    const host = await startHost(["--engine", engine.file]);
    t.after(() => host.stop());
    for (const name of ["127.0.0.1", "localhost"]) {
        await t.test(`loaded from ${name}`, async () => {
            const origin = `http://${name}:${host.port}`;
            const page = await load(`${origin}/`);
            const shown = await page.evaluate(SHOWN);
            assert.equal(shown.clientType, "jsd_lcl_nkv");
            assert.equal(shown.endpoint, `${origin}/`);
            assert.deepEqual(shown.properties, {
                ORIG_CLIENT_TYPE: "jsd", SERVICE_ENDPOINT: `${origin}/`, TYPE: "jsd_lcl_nkv" });
            assert.deepEqual(shown.flags, EXPECTED_FLAGS);
            assert.equal(shown.version, "7.1.0 playground test");
            assert.equal(shown.error, null);
            // The host recorded the client in the page's own session, and nowhere else.
            assert.match(shown.session, /^playground-[0-9a-f]{12}$/);
            const recorded = await post(host, { type: "connector/v1/GetCurrentClientProperties", session: shown.session });
            assert.equal(recorded.answer.message.properties.TYPE, "jsd_lcl_nkv");
            const fresh = await post(host, { type: "connector/v1/GetCurrentClientProperties", session: "another" });
            assert.deepEqual(fresh.answer.message.properties, {});
            // Nothing but the page itself and its own POST /messages was requested.
            assert.deepEqual([...new Set(page.requests.map((r) => `${r.method} ${r.url} ${r.status}`))],
                             [`GET ${origin}/ 200`, `POST ${origin}/messages 200`]);
            assert.deepEqual(page.problems, []);
        });
    }
});

test("the form sends any envelope and shows the answer or the error with its status", LIMIT, async (t) => {
    const host = await startHost();  // the built-in engine: the screenshot shows the usual page
    t.after(() => host.stop());
    const page = await load(`${host.base}/index.html`);

    const features = await sendFromForm(page, "connector/v1/EnabledFeatures");
    assert.equal(features.error, null);
    assert.equal(features.status, "HTTP 200");
    const answer = JSON.parse(features.answer);
    assert.equal(answer.type, "connector/v1/EnabledFeaturesResponse");
    assert.equal(answer.session, (await page.evaluate(SHOWN)).session);
    assert.equal(answer.message.features.isSetPathEnabled, true);  // the page's session is local

    const refused = await sendFromForm(page, "connector/v1/GetUserHomeDirResponse");
    assert.equal(refused.answer, "");
    assert.equal(refused.error.kind, "no_provider");
    assert.equal(refused.error.status, "HTTP 400");
    assert.match(refused.error.message, /No service provider for message type connector\/v1\/GetUserHomeDirResponse/);

    const registry = await sendFromForm(page, "connector/v1/ServiceRegistry");
    assert.equal(registry.error, null);
    assert.equal(JSON.parse(registry.answer).message.properties.service, "editor");

    mkdirSync(ARTIFACT_DIR, { recursive: true });
    const screenshot = path.join(ARTIFACT_DIR, "playground.png");
    writeFileSync(screenshot, await page.screenshot());
    t.diagnostic(`screenshot: ${screenshot}`);
});

test("with --token-file the page asks for the token and never carries it", LIMIT, async (t) => {
    const token = temporaryFile("token", "page-t0ken-1234\n");
    t.after(() => token.remove());
    const host = await startHost(["--engine", engine.file, "--token-file", token.file]);
    t.after(() => host.stop());
    const served = await (await fetch(`${host.base}/`)).text();
    assert.ok(!served.includes("page-t0ken-1234"));

    const page = await browser.newPage();
    await page.open(`${host.base}/`);
    await scriptRan(page);
    assert.equal(await page.waitForAttribute("data-state", ["ready", "failed"]), "failed");
    assert.deepEqual((await page.evaluate(SHOWN)).error, { kind: "unauthorized", status: "HTTP 401" });

    await page.evaluate(`(() => {
        document.getElementById("token").value = "page-t0ken-1234";
        document.getElementById("connect").click();
    })()`);
    assert.equal(await page.waitForAttribute("data-state", ["ready", "failed"]), "ready");
    const shown = await page.evaluate(SHOWN);
    assert.equal(shown.clientType, "jsd_lcl_nkv");
    assert.equal(shown.error, null);
    assert.deepEqual(shown.flags, EXPECTED_FLAGS);
});

// The loopback guards seen from a real browser: a page served by another local server (another
// port, so another origin) tries to change the user's home directory through the browser with a
// JSON fetch, a no-cors text/plain POST and a form POST whose text/plain body is a JSON envelope.
// None changes anything; a direct request afterwards reads the home directory. With
// --allow-origin naming that origin, its JSON fetch goes through the CORS preflight and is
// answered, while the other two are still refused.
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { once } from "node:events";
import { after, before, test } from "node:test";

import { Browser } from "./chromium.mjs";
import { homeDirectory, startHost } from "./connectorHost.mjs";

const LIMIT = { timeout: 300_000 };  // a guard against a hang only; nothing waits for a time

// The attacking page: three attempts in order, then data-state "done" and data-results.
function attackPage(target) {
    return `<!doctype html><html><body><iframe name="sink"></iframe><script>
const target = ${JSON.stringify(target)};
const envelope = (dir) => JSON.stringify({ type: "connector/v1/SetUserHomeDir", message: { userHomeDir: dir } });
async function attempt(run) {
    try { return await run(); } catch (error) { return "refused: " + error.name; }
}
async function attack() {
    const results = {};
    results.json = await attempt(async () => {
        const response = await fetch(target, { method: "POST", headers: { "Content-Type": "application/json" },
                                               body: envelope("/pwned-json") });
        return "answered " + response.status + " " + (await response.text()).trim();
    });
    results.text = await attempt(async () => {
        await fetch(target, { method: "POST", mode: "no-cors", headers: { "Content-Type": "text/plain" },
                              body: envelope("/pwned-text") });
        return "sent";
    });
    results.form = await attempt(() => new Promise((resolve) => {
        // enctype text/plain sends "name=value": the name opens a JSON envelope, the value closes it.
        const form = document.createElement("form");
        Object.assign(form, { method: "POST", action: target, enctype: "text/plain", target: "sink" });
        const field = document.createElement("input");
        field.name = '{"type":"connector/v1/SetUserHomeDir","message":{"userHomeDir":"/pwned-form"},"pad":"';
        field.value = '"}';
        form.append(field);
        document.body.append(form);
        document.querySelector("iframe").addEventListener("load", () => resolve("sent"), { once: true });
        form.submit();
    }));
    document.documentElement.dataset.results = JSON.stringify(results);
    document.documentElement.dataset.state = "done";
}
attack();
</script></body></html>`;
}

// The foreign server must listen before the host can name it in --allow-origin, and the attack
// page needs the host's port: a placeholder server reserves the origin first.
async function attack(hostArgs = (origin) => []) {
    let hostPort = 0;
    const server = createServer((request, response) => {
        response.writeHead(200, { "Content-Type": "text/html", "Cache-Control": "no-store" });
        response.end(attackPage(`http://127.0.0.1:${hostPort}/messages`));
    });
    server.listen(0, "127.0.0.1");
    await once(server, "listening");
    const origin = `http://127.0.0.1:${server.address().port}`;
    const host = await startHost(hostArgs(origin));
    hostPort = host.port;
    try {
        const page = await browser.newPage();
        await page.open(`${origin}/attack.html`);
        assert.equal(await page.waitForAttribute("data-state", ["done"]), "done");
        const results = JSON.parse(await page.evaluate("document.documentElement.dataset.results"));
        // What reached the host, as "METHOD status", sorted; a request that the browser did not
        // send because its preflight failed shows "blocked" instead (its CORS error, as the
        // browser names it, may change between versions).
        const outcome = (r) => r.status ?? (r.failed?.startsWith("Preflight") ? "blocked" : r.failed);
        const seen = page.requests.filter((r) => r.url === `http://127.0.0.1:${host.port}/messages`)
                                  .map((r) => `${r.method} ${outcome(r)}`).sort();
        return { origin, results, seen, home: await homeDirectory(host) };
    } finally {
        await host.stop();
        server.close();
    }
}

let browser;
before(async () => { browser = await Browser.launch(); });
after(async () => { await browser?.close(); });

test("a page of another origin cannot change the home directory through the browser", LIMIT, async () => {
    const { results, seen, home } = await attack();
    assert.equal(results.json, "refused: TypeError");
    assert.equal(results.text, "sent");
    assert.equal(results.form, "sent");
    // The JSON POST needed a preflight, which the host refused, so the browser never sent it;
    // the browser did send the two simple POSTs, and the host refused both by their Origin.
    assert.deepEqual(seen, ["OPTIONS 403", "POST 403", "POST 403", "POST blocked"]);
    assert.equal(home, "");
});

test("with --allow-origin the page's JSON request passes the preflight and is answered", LIMIT, async () => {
    const { results, seen, home } = await attack((origin) => ["--allow-origin", origin]);
    assert.equal(results.json,
                 'answered 200 {"type":"connector/v1/SetUserHomeDirResponse","message":{}}');
    assert.equal(results.text, "sent");
    assert.equal(results.form, "sent");
    // The preflight was answered, then the JSON POST; the simple POSTs lack the JSON type.
    assert.deepEqual(seen, ["OPTIONS 204", "POST 200", "POST 415", "POST 415"]);
    assert.equal(home, "/pwned-json");  // the text/plain and form POSTs, sent later, changed nothing
});

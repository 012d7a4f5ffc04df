// Drives Debian's headless Chromium over the DevTools protocol on a pipe (--remote-debugging-pipe:
// commands on fd 3, events and results on fd 4, each a JSON text ended by a NUL byte), so that
// the tests need no npm package and no debugging port. Waits are for protocol events and for DOM
// attributes the pages set, never for a time.
//
// CHROMIUM names the browser (default /usr/bin/chromium). A missing browser fails the test: CI
// installs it (scripts/install-deps.sh).
import { spawn } from "node:child_process";
import { existsSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";

const CHROMIUM = process.env.CHROMIUM ?? "/usr/bin/chromium";

// The flags this machine needs: no sandbox as root, and no background connections (the network
// is closed, and they would only be refused).
const FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-extensions",
    "--disable-default-apps", "--no-default-browser-check", "--disable-dev-shm-usage", "--remote-debugging-pipe"];

export class Browser {
    // launch: starts Chromium with an empty profile of its own.
    static async launch() {
        if (!existsSync(CHROMIUM))
            throw new Error(`${CHROMIUM} not found: install chromium (scripts/install-deps.sh) or set CHROMIUM`);
        const browser = new Browser(mkdtempSync(path.join(tmpdir(), "qci-chromium-")));
        await browser.send("Browser.getVersion");
        return browser;
    }

    constructor(profile) {
        this.profile = profile;
        this.child = spawn(CHROMIUM, [...FLAGS, `--user-data-dir=${profile}`, "about:blank"],
                           { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
        this.nextId = 1;
        this.pending = new Map();  // id: {resolve, reject, method} of a command sent
        this.listeners = new Set();  // called with every event
        let stderr = "";
        let buffered = "";
        this.child.stderr.on("data", (chunk) => { stderr = (stderr + chunk).slice(-8000); });
        this.child.stdio[4].setEncoding("utf8");
        this.child.stdio[4].on("data", (chunk) => {
            buffered += chunk;
            for (let end; (end = buffered.indexOf("\0")) >= 0; buffered = buffered.slice(end + 1)) {
                const message = JSON.parse(buffered.slice(0, end));
                const command = this.pending.get(message.id);
                this.pending.delete(message.id);
                if (!command) for (const listener of [...this.listeners]) listener(message);
                else if (message.error) command.reject(new Error(`${command.method}: ${message.error.message}`));
                else command.resolve(message.result);
            }
        });
        const failAll = (error) => { this.pending.forEach(({ reject }) => reject(error)); this.pending.clear(); };
        this.exited = new Promise((resolve) => this.child.on("exit", resolve));
        this.child.on("exit", (code) => failAll(new Error(`chromium exited (${code}):\n${stderr}`)));
        this.child.on("error", failAll);
        this.killOnExit = () => this.child.kill("SIGKILL");  // a test that dies leaves no browser behind
        process.on("exit", this.killOnExit);
    }

    send(method, params = {}, sessionId = undefined) {
        const id = this.nextId++;
        this.child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
        return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, method }));
    }

    // on: calls `listener(params)` for every event `method` of the session; gives an unsubscriber.
    on(method, sessionId, listener) {
        const filter = (message) => message.method === method && message.sessionId === sessionId && listener(message.params);
        this.listeners.add(filter);
        return () => this.listeners.delete(filter);
    }

    // newPage: a fresh tab with its network, log and page events on.
    async newPage() {
        const { targetId } = await this.send("Target.createTarget", { url: "about:blank" });
        const { sessionId } = await this.send("Target.attachToTarget", { targetId, flatten: true });
        const page = new Page(this, sessionId);
        for (const domain of ["Page", "Network", "Log"]) await page.send(`${domain}.enable`);
        return page;
    }

    // close: asks Chromium to close (so that no process of it still writes to the profile), then
    // removes the profile.
    async close() {
        process.off("exit", this.killOnExit);
        if (this.child.exitCode === null && this.child.signalCode === null) this.send("Browser.close").catch(() => {});
        await this.exited;
        rmSync(this.profile, { recursive: true, force: true });
    }
}

class Page {
    constructor(browser, sessionId) {
        this.browser = browser;
        this.sessionId = sessionId;
        this.byId = new Map();  // every request the page made: {url, method, status, failed}
        this.problems = [];  // console errors: CSP reports, failed loads
        const on = (method, listener) => browser.on(method, sessionId, listener);
        const update = (requestId, fields) => Object.assign(this.byId.get(requestId) ?? {}, fields);
        on("Network.requestWillBeSent", ({ requestId, request: { url, method } }) => this.byId.set(requestId, { url, method }));
        on("Network.responseReceived", ({ requestId, response }) => update(requestId, { status: response.status }));
        on("Network.loadingFailed", ({ requestId, errorText, corsErrorStatus }) =>
            update(requestId, { failed: corsErrorStatus?.corsError ?? errorText }));
        on("Log.entryAdded", ({ entry }) => entry.level === "error" && this.problems.push(`${entry.source}: ${entry.text}`));
    }

    get requests() {
        return [...this.byId.values()];
    }

    send(method, params) {
        return this.browser.send(method, params, this.sessionId);
    }

    // open: navigates and resolves when the page's load event has fired.
    async open(url) {
        const loaded = new Promise((resolve) => {
            const off = this.browser.on("Page.loadEventFired", this.sessionId, () => resolve(off()));
        });
        const { errorText } = await this.send("Page.navigate", { url });
        if (errorText) throw new Error(`cannot open ${url}: ${errorText}`);
        await loaded;
    }

    // evaluate: the value of an expression in the page (awaited when it is a promise).
    async evaluate(expression) {
        const { result, exceptionDetails } = await this.send("Runtime.evaluate", {
            expression, awaitPromise: true, returnByValue: true,
        });
        if (exceptionDetails)
            throw new Error(`in the page: ${exceptionDetails.exception?.description ?? exceptionDetails.text}`);
        return result.value;
    }

    // waitForAttribute: resolves with the root element's attribute `name` once it holds one of
    // `values` (it may already), as the page sets it.
    waitForAttribute(name, values) {
        return this.evaluate(`new Promise((resolve) => {
            const root = document.documentElement;
            const check = () => {
                if (!${JSON.stringify(values)}.includes(root.getAttribute(${JSON.stringify(name)}))) return;
                observer.disconnect();
                resolve(root.getAttribute(${JSON.stringify(name)}));
            };
            const observer = new MutationObserver(check);
            observer.observe(root, { attributes: true, attributeFilter: [${JSON.stringify(name)}] });
            check();
        })`);
    }
}

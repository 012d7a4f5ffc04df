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
const FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--disable-extensions", "--disable-default-apps", "--no-default-browser-check",
    "--disable-dev-shm-usage", "--hide-scrollbars", "--mute-audio", "--remote-debugging-pipe",
];

class Connection {
    constructor(input, output) {
        this.input = input;
        this.nextId = 1;
        this.pending = new Map();
        this.listeners = new Set();
        let buffered = "";
        output.setEncoding("utf8");
        output.on("data", (chunk) => {
            buffered += chunk;
            let end;
            while ((end = buffered.indexOf("\0")) >= 0) {
                this.dispatch(JSON.parse(buffered.slice(0, end)));
                buffered = buffered.slice(end + 1);
            }
        });
    }

    dispatch(message) {
        if (message.id === undefined) {
            for (const listener of [...this.listeners]) listener(message);
            return;
        }
        const { resolve, reject, method } = this.pending.get(message.id);
        this.pending.delete(message.id);
        if (message.error) reject(new Error(`${method}: ${message.error.message}`));
        else resolve(message.result);
    }

    send(method, params = {}, sessionId = undefined) {
        const id = this.nextId++;
        this.input.write(JSON.stringify({ id, method, params, sessionId }) + "\0");
        return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, method }));
    }

    // on: calls `listener(params)` for every event `method` of the session; gives an unsubscriber.
    on(method, sessionId, listener) {
        const filter = (message) => {
            if (message.method === method && message.sessionId === sessionId) listener(message.params);
        };
        this.listeners.add(filter);
        return () => this.listeners.delete(filter);
    }

    // next: the next event `method` of the session; subscribe before causing it.
    next(method, sessionId) {
        return new Promise((resolve) => {
            const off = this.on(method, sessionId, (params) => {
                off();
                resolve(params);
            });
        });
    }

    failAll(error) {
        for (const { reject } of this.pending.values()) reject(error);
        this.pending.clear();
    }
}

export class Page {
    constructor(connection, sessionId) {
        this.connection = connection;
        this.sessionId = sessionId;
        this.requests = [];  // every request the page made: {url, method, status, failed}
        this.problems = [];  // console errors, CSP reports and failed loads
        const byId = new Map();
        connection.on("Network.requestWillBeSent", sessionId, ({ requestId, request }) => {
            const entry = { url: request.url, method: request.method, status: null, failed: null };
            byId.set(requestId, entry);
            this.requests.push(entry);
        });
        connection.on("Network.responseReceived", sessionId, ({ requestId, response }) => {
            if (byId.has(requestId)) byId.get(requestId).status = response.status;
        });
        connection.on("Network.loadingFailed", sessionId, ({ requestId, errorText, corsErrorStatus }) => {
            if (byId.has(requestId)) byId.get(requestId).failed = corsErrorStatus?.corsError ?? errorText;
        });
        connection.on("Log.entryAdded", sessionId, ({ entry }) => {
            if (entry.level === "error") this.problems.push(`${entry.source}: ${entry.text}`);
        });
        connection.on("Runtime.exceptionThrown", sessionId, ({ exceptionDetails }) => {
            this.problems.push(`exception: ${exceptionDetails.exception?.description ?? exceptionDetails.text}`);
        });
    }

    send(method, params) {
        return this.connection.send(method, params, this.sessionId);
    }

    // open: navigates and resolves when the page's load event has fired.
    async open(url) {
        const loaded = this.connection.next("Page.loadEventFired", this.sessionId);
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
            const accepted = ${JSON.stringify(values)};
            const check = () => {
                const value = root.getAttribute(${JSON.stringify(name)});
                if (!accepted.includes(value)) return;
                observer.disconnect();
                resolve(value);
            };
            const observer = new MutationObserver(check);
            observer.observe(root, { attributes: true, attributeFilter: [${JSON.stringify(name)}] });
            check();
        })`);
    }

    // screenshot: a PNG of the whole page, `width` CSS pixels wide.
    async screenshot(width = 1100) {
        await this.send("Emulation.setDeviceMetricsOverride", { width, height: 800, deviceScaleFactor: 1, mobile: false });
        const height = await this.evaluate("Math.ceil(document.documentElement.getBoundingClientRect().height)");
        await this.send("Emulation.setDeviceMetricsOverride", { width, height, deviceScaleFactor: 1, mobile: false });
        const { data } = await this.send("Page.captureScreenshot", { format: "png" });
        return Buffer.from(data, "base64");
    }
}

export class Browser {
    // launch: starts Chromium with an empty profile of its own.
    static async launch() {
        if (!existsSync(CHROMIUM))
            throw new Error(`${CHROMIUM} not found: install chromium (scripts/install-deps.sh) or set CHROMIUM`);
        const profile = mkdtempSync(path.join(tmpdir(), "qci-chromium-"));
        const child = spawn(CHROMIUM, [...FLAGS, `--user-data-dir=${profile}`, "about:blank"],
                            { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"] });
        const browser = new Browser(child, profile);
        await browser.connection.send("Browser.getVersion");
        return browser;
    }

    constructor(child, profile) {
        this.child = child;
        this.profile = profile;
        this.stderr = "";
        child.stderr.setEncoding("utf8");
        child.stderr.on("data", (chunk) => { this.stderr = (this.stderr + chunk).slice(-8000); });
        this.connection = new Connection(child.stdio[3], child.stdio[4]);
        this.killOnExit = () => child.kill("SIGKILL");  // a test that dies leaves no browser behind
        process.on("exit", this.killOnExit);
        this.exited = new Promise((resolve) => child.on("exit", resolve));
        child.on("exit", (code) => this.connection.failAll(new Error(`chromium exited (${code}):\n${this.stderr}`)));
        child.on("error", (error) => this.connection.failAll(error));
    }

    // newPage: a fresh tab with its network, log and page events on.
    async newPage() {
        const { targetId } = await this.connection.send("Target.createTarget", { url: "about:blank" });
        const { sessionId } = await this.connection.send("Target.attachToTarget", { targetId, flatten: true });
        const page = new Page(this.connection, sessionId);
        for (const domain of ["Page", "Runtime", "Network", "Log"]) await page.send(`${domain}.enable`);
        return page;
    }

    async close() {
        if (this.child.exitCode === null && this.child.signalCode === null) {
            this.connection.send("Browser.close").catch(() => {});
            await this.exited;
        }
        process.off("exit", this.killOnExit);
        rmSync(this.profile, { recursive: true, force: true });
    }
}

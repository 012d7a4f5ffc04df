// Runs the built connector-host for the browser and client tests: `--http 0` (a free port, read
// from the line the host logs at info level once it serves), stopped with SIGTERM.
//
// CTest sets CONNECTOR_HOST (the binary) and QCI_SOURCE_DIR (the source tree).
import { spawn } from "node:child_process";
import { once } from "node:events";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const SOURCE_DIR =
    process.env.QCI_SOURCE_DIR ?? path.resolve(fileURLToPath(new URL(".", import.meta.url)), "../../..");

// startHost: connector-host --http 0 with `args`; resolves once it listens, with its port, its
// base address and stop(), or rejects with its stderr when it exits first. stop() rejects unless
// the host exits 0 (a sanitizer's report, say, fails the test).
export async function startHost(args = []) {
    // Without a hosting environment, as the tests expect the "_nkv" suffix.
    const { QUORIX_CONNECTOR_HOSTING_ENVIRONMENT: _, ...env } = process.env;
    const child = spawn(process.env.CONNECTOR_HOST ?? "connector-host", ["--http", "0", "--log-level", "info", ...args],
                        { env, stdio: ["ignore", "ignore", "pipe"] });
    const killOnExit = () => child.kill("SIGKILL");  // a test that dies leaves no host behind
    process.on("exit", killOnExit);
    let stderr = "";
    const exited = once(child, "exit");
    const port = await new Promise((resolve, reject) => {
        child.stderr.setEncoding("utf8");
        child.stderr.on("data", (chunk) => {
            stderr += chunk;
            const listening = /serving the page at http:\/\/127\.0\.0\.1:(\d+)\//.exec(stderr);
            if (listening) resolve(Number(listening[1]));
        });
        child.on("error", reject);
        exited.then(([code]) => reject(new Error(`connector-host exited (${code}) before listening:\n${stderr}`)));
    });
    return {
        port,
        base: `http://127.0.0.1:${port}`,
        async stop() {
            if (child.exitCode === null) child.kill("SIGTERM");
            const [code, signal] = await exited;
            process.off("exit", killOnExit);
            if (code !== 0) throw new Error(`connector-host stopped with ${code ?? signal}:\n${stderr}`);
        },
    };
}

// A temporary file (mode 0600) holding `text`; removed by remove().
export function temporaryFile(name, text) {
    const dir = mkdtempSync(path.join(tmpdir(), "qci-browser-"));
    writeFileSync(path.join(dir, name), text, { mode: 0o600 });
    return { file: path.join(dir, name), remove: () => rmSync(dir, { recursive: true, force: true }) };
}

// One envelope posted straight to the host, as a program (not a page) sends it: no Origin.
export async function post(host, envelope) {
    const response = await fetch(`${host.base}/messages`, {
        method: "POST", headers: { "Content-Type": "application/json" }, body: JSON.stringify(envelope) });
    return { status: response.status, answer: await response.json() };
}

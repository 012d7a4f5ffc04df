// Runs the built connector-host for the browser and client tests: `--http 0` (a free port, read
// from the line the host prints when it listens), stopped with SIGTERM.
//
// CTest sets CONNECTOR_HOST (the binary) and QCI_SOURCE_DIR (the source tree).
import { spawn } from "node:child_process";
import { once } from "node:events";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

export const HOST_BINARY = process.env.CONNECTOR_HOST ?? "connector-host";
export const SOURCE_DIR =
    process.env.QCI_SOURCE_DIR ?? path.resolve(fileURLToPath(new URL(".", import.meta.url)), "../../..");

// startHost: connector-host --http 0 with `args`; resolves once it listens, with its port, its
// base address and stop(), or rejects with its stderr when it exits first. stop() rejects unless
// the host exits 0.
export async function startHost(args = []) {
    const env = { ...process.env };
    delete env.QUORIX_CONNECTOR_HOSTING_ENVIRONMENT;  // the tests expect the "_nkv" suffix
    const child = spawn(HOST_BINARY, ["--http", "0", ...args], { env, stdio: ["ignore", "ignore", "pipe"] });
    const killOnExit = () => child.kill("SIGKILL");  // a test that dies leaves no host behind
    process.on("exit", killOnExit);
    let stderr = "";
    const port = await new Promise((resolve, reject) => {
        child.stderr.setEncoding("utf8");
        child.stderr.on("data", (chunk) => {
            stderr += chunk;
            const listening = /serving POST http:\/\/127\.0\.0\.1:(\d+)\/messages/.exec(stderr);
            if (listening) resolve(Number(listening[1]));
        });
        child.on("error", reject);
        child.on("exit", (code) => reject(new Error(`connector-host exited (${code}) before listening:\n${stderr}`)));
    });
    const exited = once(child, "exit");
    return {
        port,
        base: `http://127.0.0.1:${port}`,
        async stop() {
            if (child.exitCode === null) child.kill("SIGTERM");
            const [code, signal] = await exited;
            process.off("exit", killOnExit);
            // A clean stop exits 0; anything else (a sanitizer's report, say) fails the test.
            if (code !== 0) throw new Error(`connector-host stopped with ${code ?? signal}:\n${stderr}`);
        },
    };
}

// A temporary file holding `text`; removed by the returned function.
export function temporaryFile(name, text) {
    const dir = mkdtempSync(path.join(tmpdir(), "qci-browser-"));
    const file = path.join(dir, name);
    writeFileSync(file, text, { mode: 0o600 });
    return { file, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

// One envelope posted straight to the host, as a program (not a page) sends it: no Origin.
export async function post(host, envelope, headers = {}) {
    const response = await fetch(`${host.base}/messages`, {
        method: "POST",
        headers: { "Content-Type": "application/json", ...headers },
        body: JSON.stringify(envelope),
    });
    return { status: response.status, answer: await response.json() };
}

export async function homeDirectory(host, headers = {}) {
    const { status, answer } = await post(host, { type: "connector/v1/GetUserHomeDir", message: {} }, headers);
    if (status !== 200) throw new Error(`GetUserHomeDir: HTTP ${status} ${JSON.stringify(answer)}`);
    return answer.message.userHomeDir;
}

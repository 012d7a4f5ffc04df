// A small client of connector-host's HTTP port (POST /messages), for browsers and Node.js 18+.
// Copy this file as it is: it has no dependencies.
//
//   import { announce, send, HostError } from "./client.js";
//   const host = { base: "http://127.0.0.1:8080", session: "my-page" };
//   const me = await announce({ ...host, endpoint: location.href });   // me.clientType: "jsd_lcl_nkv"
//   const answer = await send({ type: "connector/v1/GetUserHomeDir", message: {} }, host);
//
// Every failure is a HostError carrying `kind` (the host's error kind, or "network_error" /
// "bad_answer" for what happened on the way) and `status` (the HTTP status; 0 when no answer came).

export class HostError extends Error {
    constructor(kind, message, status) {
        super(message);
        this.name = "HostError";
        this.kind = kind;
        this.status = status;
    }
}

// The address of POST /messages: under `base`, or under the page's own origin in a browser.
function messagesUrl(base) {
    const origin = base || globalThis.location?.origin;
    if (!origin) throw new HostError("network_error", "no host address: pass `base`", 0);
    return new URL("/messages", origin).href;
}

// send: posts one envelope and gives the host's answer ({type, message} and the echoed id and
// session). `options`: base (the host's address), session (used when the envelope names none),
// token (the bearer token of connector-host --token-file).
export async function send(envelope, options = {}) {
    const { base, session, token } = options;
    const body = session && envelope.session === undefined ? { ...envelope, session } : envelope;
    const headers = { "Content-Type": "application/json" };
    if (token) headers.Authorization = `Bearer ${token}`;
    const url = messagesUrl(base);
    let response;
    try {
        response = await fetch(url, { method: "POST", headers, body: JSON.stringify(body) });
    } catch (error) {
        // A refused CORS preflight or a closed port look alike to a page: no answer at all.
        throw new HostError("network_error", `no answer from ${url}: ${error.message}`, 0);
    }
    const text = await response.text();
    let answer;
    try {
        answer = JSON.parse(text);
    } catch {
        throw new HostError("bad_answer", `not JSON (HTTP ${response.status}): ${text.slice(0, 200)}`,
                            response.status);
    }
    if (answer.error) throw new HostError(answer.error.kind, answer.error.message, response.status);
    if (!response.ok)
        throw new HostError("bad_answer", `HTTP ${response.status} without an error object`,
                            response.status);
    return answer;
}

// announce: tells the host what this client is, as a browser client does on start: a batch
// holding one ClientType with the base type (default "jsd") and the client's endpoint (its own
// URL). Gives the full client type the host worked out and the properties it recorded for the
// session. `options` as for send, plus endpoint, baseType, properties (more entries to record).
export async function announce(options = {}) {
    const { endpoint = globalThis.location?.href ?? "", baseType = "jsd", properties = {} } = options;
    const uuid = `announce-${Date.now()}`;
    const clientType = { uuid, properties: { ...properties, TYPE: baseType, SERVICE_ENDPOINT: endpoint } };
    const answer = await send(
        { type: "connector/v1/ContainerRequest", message: { messages: { ClientType: [clientType] } } },
        options);
    const response = answer.message?.messages?.ClientTypeResponse?.[0];
    if (!response) throw new HostError("bad_answer", "the answer holds no ClientTypeResponse", 200);
    return { clientType: response.properties?.TYPE ?? "", properties: response.properties ?? {},
             uuid: response.uuid };
}

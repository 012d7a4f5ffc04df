// The playground page: announces itself to the host it was loaded from, shows what the host
// worked out, and sends any envelope from the form. The root element tells the tests when a step
// is done: data-state becomes "ready" (or "failed", with data-error) when the first steps are,
// and data-sent counts the envelopes the form has sent and shown the answer of.
import { announce, send, HostError } from "./client.js";

// The message types a client can send, each with a message to start from. A ClientType travels
// only inside a ContainerRequest, so it is shown there.
const SAMPLES = {
    "connector/v1/EnabledFeatures": { uuid: "f1", features: [] },
    "connector/v1/GetCurrentClientProperties": {},
    "connector/v1/GetUserHomeDir": {},
    "connector/v1/SetUserHomeDir": { userHomeDir: "/home/me" },
    "connector/v1/ServiceRegistry": { uuid: "r1", properties: { service: "editor" } },
    "connector/v1/ContainerRequest": {
        messages: {
            ClientType: [{ uuid: "c1", properties: { TYPE: "jsd" } }],
            EnabledFeatures: [{ uuid: "f2", features: ["isWebSocketEnabled"] }],
        },
    },
};

const $ = (id) => document.getElementById(id);

function randomSession() {
    const bytes = crypto.getRandomValues(new Uint8Array(6));
    return "playground-" + Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
}

const session = randomSession();
let sentCount = 0;
const hostOptions = () => ({ session, token: $("token").value.trim() });

function fillTable(tbody, rows) {
    tbody.replaceChildren(...rows.map((cells) => {
        const tr = document.createElement("tr");
        for (const cell of cells) {
            const td = document.createElement("td");
            if (cell instanceof Node) td.append(cell);
            else td.textContent = cell;
            tr.append(td);
        }
        return tr;
    }));
}

function flagBadge(on) {
    const badge = document.createElement("span");
    badge.className = on ? "flag on" : "flag off";
    badge.textContent = on ? "on" : "off";
    return badge;
}

function showError(box, error) {
    const hostError = error instanceof HostError ? error : new HostError("page_error", String(error), 0);
    box.hidden = false;
    box.querySelector(".kind").textContent = hostError.kind;
    box.querySelector(".status").textContent = hostError.status ? `HTTP ${hostError.status}` : "no answer";
    box.querySelector(".message").textContent = hostError.status === 401
        ? `${hostError.message}: enter the host's token (the text of its --token-file) in the Token field`
        : hostError.message;
}

// The steps a browser client takes on start: announce, then ask for every feature flag.
async function connect() {
    const root = document.documentElement;
    root.dataset.state = "loading";
    delete root.dataset.error;  // of an earlier attempt
    $("connect-error").hidden = true;
    try {
        const me = await announce({ ...hostOptions(), endpoint: location.href });
        $("client-type").textContent = me.clientType || "(none)";
        fillTable($("properties").tBodies[0],
                  Object.keys(me.properties).sort().map((key) => [key, me.properties[key]]));
        const answer = await send({ type: "connector/v1/EnabledFeatures", message: { uuid: "all", features: [] } },
                                  hostOptions());
        const features = answer.message.features ?? {};
        fillTable($("flags").tBodies[0],
                  Object.keys(features).sort().map((flag) => [flag, flagBadge(features[flag] === true)]));
        $("version").textContent = answer.message.quorixVersion || "(none)";
        root.dataset.state = "ready";
    } catch (error) {
        showError($("connect-error"), error);
        root.dataset.error = `${error.kind ?? "page_error"}: ${error.message}`;
        root.dataset.state = "failed";
    }
}

function parseField(id, label) {
    const text = $(id).value.trim();
    if (!text) return undefined;
    try {
        return JSON.parse(text);
    } catch (error) {
        throw new HostError("invalid_json", `${label}: ${error.message}`, 0);
    }
}

async function sendForm(event) {
    event.preventDefault();
    const output = $("answer");
    output.textContent = "";
    $("answer-error").hidden = true;
    $("answer-status").textContent = "sending...";
    try {
        const envelope = { type: $("type").value };
        const session = $("session").value.trim();
        if (session) envelope.session = session;
        const message = parseField("message", "message");
        if (message !== undefined) envelope.message = message;
        const context = parseField("context", "context");
        if (context !== undefined) envelope.context = context;
        const answer = await send(envelope, { token: $("token").value.trim() });
        $("answer-status").textContent = "HTTP 200";
        output.textContent = JSON.stringify(answer, null, 2);
    } catch (error) {
        $("answer-status").textContent = "";
        showError($("answer-error"), error);
    }
    document.documentElement.dataset.sent = String(++sentCount);
}

function setUpForm() {
    const select = $("type");
    for (const type of Object.keys(SAMPLES)) select.add(new Option(type.replace("connector/v1/", ""), type));
    const fillSample = () => { $("message").value = JSON.stringify(SAMPLES[select.value], null, 2); };
    select.addEventListener("change", fillSample);
    fillSample();
    $("session").value = session;
    $("session-name").textContent = session;
    $("endpoint").textContent = location.href;
    $("send-form").addEventListener("submit", sendForm);
    $("connect").addEventListener("click", connect);
}

setUpForm();
connect();

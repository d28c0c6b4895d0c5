// zv scope's page: receives frames over a WebSocket and draws them on one canvas (the trace as
// the minimum and maximum of the samples behind each column, the power spectral density on
// logarithmic axes), shows the mean power, and sends the settings a user changes. The controls
// are built from the settings table the server sends. Frames: see zvtool/scope/frame_format.py.
"use strict";

// What tests and benchmarks read.
const zvScope = { received: 0, drawn: 0, header: null, state: null, errors: [], latencies: [] };
window.zvScope = zvScope;

const SPANS = [];  // 1-2-5 steps from 100 ns to 100 s
for (let decade = -7; decade <= 1; decade++)
  for (const step of [1, 2, 5]) SPANS.push(Number((step * 10 ** decade).toPrecision(3)));
SPANS.push(100);

const UNIT_SCALE = { "µW": 1, "mW": 1e-3 };
const COLORS = { trace: "#0b6bcb", psd: "#b54708", grid: "#e4e7ec", ink: "#1d2330", muted: "#667085" };

let socket = null;
let state = null;       // the last state message
let latest = null;      // the newest frame not drawn yet
let shown = null;       // the frame on screen
let drawPending = false;
let traceRange = null;  // y range of the trace, kept steady between frames
let psdRange = null;    // decades of the spectrum
const arrivals = [];    // receive times of recent frames, for the frame rate

// ---- Numbers for people ----

const PREFIXES = [[1e9, "G"], [1e6, "M"], [1e3, "k"], [1, ""], [1e-3, "m"], [1e-6, "µ"], [1e-9, "n"], [1e-12, "p"]];

function si(value, unit, digits = 3) {
  if (value === 0) return `0 ${unit}`;
  const size = Math.abs(value);
  for (const [factor, prefix] of PREFIXES)
    if (size >= factor * 0.9995) return `${Number((value / factor).toPrecision(digits))} ${prefix}${unit}`;
  return `${value.toExponential(digits - 1)} ${unit}`;
}

function powerUnit() { return state ? state.settings.units : "µW"; }

// Power in µW to the unit shown; dBm of a power that is not positive is -Infinity.
function convert(microwatts, unit) {
  if (unit === "dBm") return microwatts > 0 ? 10 * Math.log10(microwatts / 1000) : -Infinity;
  return microwatts * UNIT_SCALE[unit];
}

function formatPower(microwatts, unit) {
  if (microwatts === null || microwatts === undefined) return "—";
  if (unit === "dBm") {
    const dbm = convert(microwatts, "dBm");
    return Number.isFinite(dbm) ? `${dbm >= 0 ? "+" : ""}${dbm.toFixed(2)} dBm` : "— dBm";
  }
  const value = convert(microwatts, unit);
  const decimals = value === 0 ? 4 : Math.max(0, 4 - Math.floor(Math.log10(Math.abs(value))));
  return `${value.toFixed(Math.min(decimals, 12))} ${unit}`;
}

// ---- Connection ----

function connect() {
  const scheme = location.protocol === "https:" ? "wss" : "ws";
  socket = new WebSocket(`${scheme}://${location.host}/ws`);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => setText("connection", "connected");
  socket.onclose = () => {
    setText("connection", "disconnected: reconnecting…");
    setTimeout(connect, 1000);
  };
  socket.onmessage = (event) => {
    if (typeof event.data === "string") onMessage(JSON.parse(event.data));
    else onFrame(event.data);
  };
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

function onMessage(message) {
  if (message.type === "state") {
    if (message.schema) buildControls(message.schema);
    state = message;
    zvScope.state = message;
    showState();
  } else if (message.type === "error") {
    zvScope.errors.push(message);
    showMessage(message.message);
    if (state) showState();  // the control goes back to the value in force
  } else if (message.type === "info") {
    showMessage(message.message, "info");
  }
}

function onFrame(buffer) {
  const view = new DataView(buffer);
  const length = view.getUint32(0, true);
  const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
  const arrays = {};
  let offset = 4 + length;
  for (const [name, count] of header.arrays) {
    arrays[name] = new Float32Array(buffer, offset, count);
    offset += 4 * count;
  }
  const now = Date.now() / 1000;
  zvScope.received++;
  zvScope.header = header;
  zvScope.latencies.push(now - header.sent);
  if (zvScope.latencies.length > 500) zvScope.latencies.shift();
  arrivals.push(now);
  while (arrivals.length && arrivals[0] < now - 2) arrivals.shift();
  latest = { header, arrays };
  if (!drawPending) {
    drawPending = true;
    requestAnimationFrame(draw);
  }
}

// ---- Controls ----

function buildControls(schema) {
  for (const id of ["source-settings", "view-settings"]) {
    const box = document.getElementById(id);
    box.querySelectorAll("label, button.setting").forEach((node) => node.remove());
  }
  for (const [name, setting] of Object.entries(schema)) {
    const box = document.getElementById(setting.owner === "source" ? "source-settings" : "view-settings");
    if (name === "paused") {
      const button = document.createElement("button");
      button.type = "button";
      button.id = "set-paused";
      button.className = "setting";
      button.textContent = "Pause";
      button.onclick = () => send({ type: "set", name, value: !state.settings.paused });
      box.appendChild(button);
      continue;
    }
    const label = document.createElement("label");
    label.title = setting.help + (setting.unit ? ` (${setting.unit})` : "");
    let control;
    if (setting.kind === "bool") {
      label.className = "check";
      control = document.createElement("input");
      control.type = "checkbox";
      control.onchange = () => send({ type: "set", name, value: control.checked });
    } else if (setting.kind === "choice" || name === "span") {
      control = document.createElement("select");
      const options = name === "span" ? SPANS : setting.choices;
      for (const choice of options) {
        const option = document.createElement("option");
        option.value = String(choice);
        option.textContent = name === "span" ? si(choice, "s") : choice;
        control.appendChild(option);
      }
      control.onchange = () => send({ type: "set", name, value: name === "span" ? Number(control.value) : control.value });
    } else {
      control = document.createElement("input");
      control.type = "number";
      control.step = setting.kind === "int" ? "1" : "any";
      control.min = setting.low;
      control.max = setting.high;
      control.onchange = () => {  // an emptied field is being edited, not a value
        if (control.value.trim() !== "") send({ type: "set", name, value: Number(control.value) });
      };
    }
    control.id = `set-${name}`;
    const caption = document.createTextNode(name.replace("_", " ") + (setting.unit ? ` (${setting.unit})` : ""));
    if (setting.kind === "bool") label.append(control, caption);
    else label.append(caption, control);
    box.appendChild(label);
  }
}

function showState() {
  const settings = state.settings;
  for (const [name, value] of Object.entries(settings)) {
    const control = document.getElementById(`set-${name}`);
    if (!control || control === document.activeElement) continue;
    if (name === "paused") {
      control.textContent = value ? "Run" : "Pause";
      control.classList.toggle("active", value);
    } else if (control.type === "checkbox") {
      control.checked = value;
    } else if (name === "span") {
      if (![...control.options].some((o) => Number(o.value) === value)) {
        const option = document.createElement("option");
        option.value = String(value);
        option.textContent = si(value, "s");
        control.appendChild(option);
      }
      control.value = [...control.options].find((o) => Number(o.value) === value).value;
    } else {
      control.value = value;
    }
  }
  const source = state.source;
  setText("source", `${source.serial} · ${si(source.samplerate, "S/s")}`);
  showRecording(source.can_record, state.recording);
  // The source's trouble (the detector unplugged, say) stays in view until it is over.
  const alert = document.getElementById("alert");
  alert.textContent = state.notice || "";
  alert.hidden = !state.notice;
}

// The Record button (where this zv can record) and how the recording goes or ended.
function showRecording(available, recording) {
  const button = document.getElementById("record");
  const running = !!(recording && recording.running);
  button.hidden = !available;
  button.textContent = running ? "Stop recording" : "Record (.h5)";
  button.classList.toggle("active", running);
  if (!recording) return setText("recording", "");
  const amount = `${recording.seconds.toFixed(1)} s, ${(recording.samples_written / 1e6).toFixed(1)} M samples, ${recording.lost_total} lost`;
  if (running) setText("recording", `recording ${recording.name}: ${amount} (the live view waits: the recorder reads the samples)`);
  else setText("recording", `${recording.name}: ${amount}${recording.error ? ` · failed: ${recording.error}` : ""}`);
}

function setText(id, text) { document.getElementById(id).textContent = text; }

let messageTimer = null;
function showMessage(text, kind = "error") {
  setText("message", text);
  document.getElementById("message").className = kind;
  clearTimeout(messageTimer);
  messageTimer = setTimeout(() => setText("message", ""), 8000);
}

// ---- Drawing ----

function fitCanvas(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.round(canvas.clientWidth * ratio);
  const height = Math.round(canvas.clientHeight * ratio);
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  return { g, width: canvas.clientWidth, height: canvas.clientHeight };
}

function draw() {
  drawPending = false;
  if (!latest) return;
  shown = latest;
  latest = null;
  const { header, arrays } = shown;
  const unit = powerUnit();
  const canvas = document.getElementById("plots");
  const { g, width, height } = fitCanvas(canvas);
  g.clearRect(0, 0, width, height);
  const split = Math.round(height * 0.58);
  drawTrace(g, { left: 76, top: 14, right: width - 16, bottom: split - 30 }, header, arrays, unit);
  drawSpectrum(g, { left: 76, top: split + 10, right: width - 16, bottom: height - 30 }, header, arrays, unit);
  setText("power", formatPower(header.power.mean, unit));
  setText("power-aside", unit === "dBm" ? "" : `(${formatPower(header.power.mean, "dBm")})`);
  const rate = arrivals.length > 1 ? (arrivals.length - 1) / (arrivals[arrivals.length - 1] - arrivals[0]) : 0;
  setText("status", `${rate.toFixed(1)} frames/s · ${header.lost_total} samples lost`);
  setText("notice", header.notice || "");
  zvScope.drawn++;
}

function niceStep(range, count) {
  const raw = range / count;
  const decade = 10 ** Math.floor(Math.log10(raw));
  for (const step of [1, 2, 5, 10]) if (raw <= step * decade) return step * decade;
  return 10 * decade;
}

// Keeps the y range steady: it widens at once and narrows after the trace stayed well inside
// it for about a second.
function steadyRange(previous, low, high) {
  if (!Number.isFinite(low) || !Number.isFinite(high)) return previous || { low: 0, high: 1, narrow: 0 };
  let span = high - low;
  if (span <= Math.abs(high) * 1e-9 || span === 0) span = Math.max(Math.abs(high) * 0.01, 1e-9);
  const wanted = { low: low - 0.08 * span, high: high + 0.08 * span, narrow: 0 };
  if (!previous || wanted.low < previous.low || wanted.high > previous.high) return wanted;
  const used = (wanted.high - wanted.low) / (previous.high - previous.low);
  if (used < 0.4 && ++previous.narrow > 30) return wanted;
  if (used >= 0.4) previous.narrow = 0;
  return previous;
}

function frameBox(g, box) {
  g.strokeStyle = COLORS.grid;
  g.lineWidth = 1;
  g.strokeRect(box.left + 0.5, box.top + 0.5, box.right - box.left, box.bottom - box.top);
}

function drawTrace(g, box, header, arrays, unit) {
  const trace = header.trace;
  const mins = arrays.trace_min, maxs = arrays.trace_max;
  const n = mins.length;
  const low = new Float64Array(n), high = new Float64Array(n);
  let lo = Infinity, hi = -Infinity;
  for (let i = 0; i < n; i++) {
    low[i] = convert(mins[i], unit);
    high[i] = convert(maxs[i], unit);
    if (Number.isFinite(low[i])) lo = Math.min(lo, low[i]);
    if (Number.isFinite(high[i])) hi = Math.max(hi, high[i]);
  }
  if (unit === "dBm" && !Number.isFinite(lo)) lo = hi - 10;
  traceRange = steadyRange(traceRange, lo, hi);
  const { low: y0, high: y1 } = traceRange;
  const y = (v) => box.bottom - (v - y0) / (y1 - y0) * (box.bottom - box.top);
  const x = (t) => box.left + (t - trace.x0) / (trace.x1 - trace.x0) * (box.right - box.left);
  frameBox(g, box);
  g.font = "12px system-ui, sans-serif";
  g.fillStyle = COLORS.muted;
  g.strokeStyle = COLORS.grid;
  const ystep = niceStep(y1 - y0, 6);
  g.textAlign = "right";
  g.textBaseline = "middle";
  for (let v = Math.ceil(y0 / ystep) * ystep; v <= y1; v += ystep) {
    g.beginPath(); g.moveTo(box.left, Math.round(y(v)) + 0.5); g.lineTo(box.right, Math.round(y(v)) + 0.5); g.stroke();
    g.fillText(`${Number(v.toPrecision(4))} ${unit}`, box.left - 6, y(v));
  }
  const xstep = niceStep(trace.x1 - trace.x0, 8);
  g.textAlign = "center";
  g.textBaseline = "top";
  for (let t = Math.ceil(trace.x0 / xstep) * xstep; t <= trace.x1 + xstep * 1e-6; t += xstep) {
    g.beginPath(); g.moveTo(Math.round(x(t)) + 0.5, box.top); g.lineTo(Math.round(x(t)) + 0.5, box.bottom); g.stroke();
    g.fillText(si(Math.abs(t) < xstep * 1e-6 ? 0 : t, "s"), x(t), box.bottom + 6);
  }
  if (trace.mode === "trigger" && trace.trigger !== undefined) {
    g.strokeStyle = COLORS.psd;
    g.beginPath(); g.moveTo(Math.round(x(0)) + 0.5, box.top); g.lineTo(Math.round(x(0)) + 0.5, box.bottom); g.stroke();
  }
  // One bar per column from its minimum to its maximum, at least a pixel tall, on whole pixels
  // (no smoothing to compute: cheap for a browser that draws in software). A bar reaches to the
  // range of the column before it, as a line through the samples would: a trace with few samples
  // per column stays one line instead of a row of dots.
  g.fillStyle = COLORS.trace;
  const columnWidth = (box.right - box.left) / n;
  for (let i = 0; i < n; i++) {
    if (!Number.isFinite(high[i])) continue;
    let top = high[i], bottom = low[i];
    if (i > 0 && Number.isFinite(high[i - 1]) && Number.isFinite(low[i - 1])) {
      top = Math.max(top, low[i - 1]);
      bottom = Math.min(bottom, high[i - 1]);
    }
    const left = Math.floor(box.left + i * columnWidth);
    const right = Math.max(left + 1, Math.floor(box.left + (i + 1) * columnWidth));
    const yTop = Math.round(y(Math.min(top, y1)));
    const yBottom = Number.isFinite(bottom) ? Math.round(y(Math.max(bottom, y0))) : box.bottom;
    g.fillRect(left, yTop, right - left, Math.max(1, yBottom - yTop));
  }
  g.lineWidth = 1;
  g.textAlign = "left";
  g.fillStyle = COLORS.ink;
  const what = trace.mode === "trigger" ? `triggered, ${state ? state.settings.trigger_edge : ""} edge of port ${state ? state.settings.trigger_port : ""}` : "roll";
  g.fillText(`trace (${what}): minimum to maximum of ${trace.samples} samples in ${n} columns${trace.steps ? " (steps)" : ""}`, box.left + 8, box.top + 6);
}

function drawSpectrum(g, box, header, arrays, unit) {
  frameBox(g, box);
  g.font = "12px system-ui, sans-serif";
  g.fillStyle = COLORS.ink;
  g.textAlign = "left";
  g.textBaseline = "top";
  const squared = unit === "µW" ? "µW²/Hz" : "mW²/Hz";
  const factor = unit === "µW" ? 1 : 1e-6;
  g.fillText(`power spectral density (${squared}, average of ${header.psd ? header.psd.averaged : 0} segments)`, box.left + 8, box.top + 6);
  const f = arrays.psd_freq, p = arrays.psd;
  if (!f || f.length < 2) return;
  let lo = Infinity, hi = -Infinity;
  for (let i = 0; i < p.length; i++) {
    const v = p[i] * factor;
    if (v > 0 && Number.isFinite(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
  }
  if (!Number.isFinite(lo)) return;
  const wanted = { low: Math.floor(Math.log10(lo)), high: Math.ceil(Math.log10(hi)), narrow: 0 };
  if (wanted.high === wanted.low) wanted.high += 1;
  if (!psdRange || wanted.low < psdRange.low || wanted.high > psdRange.high) psdRange = wanted;
  else if (wanted.high - wanted.low < psdRange.high - psdRange.low && ++psdRange.narrow > 60) psdRange = wanted;
  const fx0 = Math.log10(f[0]), fx1 = Math.log10(f[f.length - 1]);
  const x = (v) => box.left + (Math.log10(v) - fx0) / (fx1 - fx0) * (box.right - box.left);
  const y = (v) => box.bottom - (Math.log10(v) - psdRange.low) / (psdRange.high - psdRange.low) * (box.bottom - box.top);
  g.strokeStyle = COLORS.grid;
  g.fillStyle = COLORS.muted;
  g.textAlign = "right";
  g.textBaseline = "middle";
  // A grid line and label every `every` decades, at least 18 pixels apart.
  const every = Math.max(1, Math.ceil(18 * (psdRange.high - psdRange.low) / (box.bottom - box.top)));
  for (let d = Math.ceil(psdRange.low / every) * every; d <= psdRange.high; d += every) {
    g.beginPath(); g.moveTo(box.left, Math.round(y(10 ** d)) + 0.5); g.lineTo(box.right, Math.round(y(10 ** d)) + 0.5); g.stroke();
    g.fillText(`1e${d}`, box.left - 6, y(10 ** d));
  }
  g.textAlign = "center";
  g.textBaseline = "top";
  for (let d = Math.ceil(fx0); d <= Math.floor(fx1); d++) {
    g.beginPath(); g.moveTo(Math.round(x(10 ** d)) + 0.5, box.top); g.lineTo(Math.round(x(10 ** d)) + 0.5, box.bottom); g.stroke();
    g.fillText(si(10 ** d, "Hz"), x(10 ** d), box.bottom + 6);
  }
  g.strokeStyle = COLORS.psd;
  g.beginPath();
  let drawing = false;
  for (let i = 0; i < f.length; i++) {
    const v = p[i] * factor;
    if (!(v > 0)) { drawing = false; continue; }
    const py = Math.max(box.top, Math.min(box.bottom, y(v)));
    if (drawing) g.lineTo(x(f[i]), py); else g.moveTo(x(f[i]), py);
    drawing = true;
  }
  g.stroke();
}

// ---- Saving ----

function stamp() {
  const d = new Date();
  const two = (v) => String(v).padStart(2, "0");
  return `${d.getFullYear()}${two(d.getMonth() + 1)}${two(d.getDate())}-${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
}

function download(blob, name) {
  const link = document.createElement("a");
  link.href = URL.createObjectURL(blob);
  link.download = name;
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

// The picture as on screen, with the power reading and the settings written above it.
function savePicture() {
  const plots = document.getElementById("plots");
  const ratio = window.devicePixelRatio || 1;
  const strip = Math.round(56 * ratio);
  const picture = document.createElement("canvas");
  picture.width = plots.width;
  picture.height = plots.height + strip;
  const g = picture.getContext("2d");
  g.fillStyle = "#fff";
  g.fillRect(0, 0, picture.width, picture.height);
  g.drawImage(plots, 0, strip);
  g.fillStyle = COLORS.ink;
  g.textBaseline = "top";
  g.font = `600 ${Math.round(24 * ratio)}px system-ui, sans-serif`;
  const unit = powerUnit();
  g.fillText(`${formatPower(shown ? shown.header.power.mean : null, unit)}`, 12 * ratio, 6 * ratio);
  g.font = `${Math.round(12 * ratio)}px system-ui, sans-serif`;
  if (state) {
    const s = state.settings;
    g.fillText(`${state.source.serial} · ${si(state.source.samplerate, "S/s")} · ${s.highgain ? "high" : "low"} gain · filter ${s.filter} ${s.filter === "none" ? "" : si(s.cutoff, "Hz")} · decimation ${s.decimation} · ${s.wavelength} nm · ${new Date().toISOString()}`, 12 * ratio, 36 * ratio);
  }
  picture.toBlob((blob) => download(blob, `zv-scope-${stamp()}.png`), "image/png");
}

async function saveSamples() {
  if (!shown) return showMessage("nothing on screen yet");
  const response = await fetch(`snapshot?seq=${shown.header.seq}`);
  if (!response.ok) return showMessage(await response.text());
  const match = /filename="([^"]+)"/.exec(response.headers.get("Content-Disposition") || "");
  download(await response.blob(), match ? match[1] : `zv-scope-${stamp()}.npy`);
}

window.addEventListener("DOMContentLoaded", () => {
  document.getElementById("save-png").onclick = savePicture;
  document.getElementById("save-npy").onclick = () => { saveSamples().catch((e) => showMessage(String(e))); };
  document.getElementById("record").onclick = () => {
    const running = !!(state && state.recording && state.recording.running);
    send({ type: "record", action: running ? "stop" : "start" });
  };
  document.getElementById("controls").onsubmit = (event) => event.preventDefault();
  window.addEventListener("resize", () => { if (shown) { latest = latest || shown; requestAnimationFrame(draw); } });
  connect();
});

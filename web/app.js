// QM9000 meter page: polls the host's JSON API and draws the live table,
// phasors, waveform snapshot, events, per-interval energy and power quality
// (trends, the ITIC curve, the EN 50160 report); the status line
// names every part that stopped answering.
"use strict";

(function () {
  const $ = (sel) => document.querySelector(sel);
  const css = getComputedStyle(document.documentElement);
  const PHASE_COLOURS = ["--ph-a", "--ph-b", "--ph-c"].map((v) => css.getPropertyValue(v).trim());
  const PHASES = ["A", "B", "C"];
  // Voltage traces solid, current traces dashed, in phase colours: VA VB VC IA IB IC.
  const SIX_COLOURS = PHASE_COLOURS.concat(PHASE_COLOURS);
  const RETRY_MS = 2000; // a failing part is asked again this soon, whatever its period
  // A request still unanswered this long has failed: a stalled server must not
  // leave the page saying "connected" (a snapshot takes up to 1.5 s).
  const ANSWER_WITHIN_MS = 10000;

  const charts = { snapshot: null, rms: null, intervals: null };
  let selectedEvent = null;

  // ---- access token -------------------------------------------------------

  // Beyond the loopback the meter wants a token; the browser keeps it.
  const TOKEN_KEY = "qm9000.webToken";
  let token = "";
  try { token = localStorage.getItem(TOKEN_KEY) || ""; } catch (e) { /* storage disabled: asked each visit */ }

  function keepToken(value) {
    token = value;
    try {
      if (value) localStorage.setItem(TOKEN_KEY, value);
      else localStorage.removeItem(TOKEN_KEY);
    } catch (e) { /* kept for this visit only */ }
  }

  // Asked once: a form that stays until a token is given. `refused` is the
  // token the 401 answered; a stale answer to an older one does not ask again.
  function askForToken(refused) {
    const form = $("#token-form");
    if (refused !== token || !form.hidden) return;
    $("#token-note").textContent = refused ? "That token was not accepted; enter it again." : "";
    keepToken("");
    form.hidden = false;
    $("#token-input").focus();
  }

  // ---- plumbing -----------------------------------------------------------

  // The response to `url`, with the token when there is one. A failure
  // throws an error with `status` (0: nothing answered) and the server's reason.
  async function request(url, options) {
    const sent = token;
    const headers = Object.assign({}, options && options.headers);
    if (sent) headers.Authorization = "Bearer " + sent;
    let response;
    try {
      response = await fetch(url, Object.assign({ cache: "no-store", signal: AbortSignal.timeout(ANSWER_WITHIN_MS) },
        options, { headers: headers }));
    } catch (e) {
      const reason = e.name === "TimeoutError" ? "no answer within " + ANSWER_WITHIN_MS / 1000 + " s" : "no answer";
      throw Object.assign(new Error(reason), { status: 0 });
    }
    if (response.ok) return response;
    let reason = "HTTP " + response.status;
    try {
      const body = await response.json();
      if (body && body.error) reason += ": " + body.error;
    } catch (e) { /* no JSON: the status says it */ }
    if (response.status === 401) askForToken(sent);
    throw Object.assign(new Error(reason), { status: response.status });
  }

  // JSON from `url`; `part` names it in the status line (null: not watched there).
  async function getJSON(part, url, options) {
    try {
      const body = await (await request(url, options)).json();
      if (part) answered(part);
      return body;
    } catch (e) {
      if (part) failed(part, e);
      throw e;
    }
  }

  // Reschedule only after the previous run settles, so a slow meter (a snapshot
  // takes up to a second) never piles up requests.
  function every(ms, part, task) {
    const run = async () => {
      try { await task(); } catch (e) { /* shown in the status line */ }
      setTimeout(run, failures.has(part) ? Math.min(ms, RETRY_MS) : ms);
    };
    run();
  }

  function fixed(value, digits) {
    return typeof value === "number" && isFinite(value) ? value.toFixed(digits) : "–";
  }

  const pad = (n, w = 2) => String(n).padStart(w, "0");

  function localTime(micros, withDate = true) {
    const d = new Date(micros / 1000);
    const time = pad(d.getHours()) + ":" + pad(d.getMinutes()) + ":" + pad(d.getSeconds()) +
      "." + pad(d.getMilliseconds(), 3);
    return withDate ? d.getFullYear() + "-" + pad(d.getMonth() + 1) + "-" + pad(d.getDate()) + " " + time : time;
  }

  const clock = (ms) => localTime(ms * 1000, false).slice(0, 8);

  function link(href, text, cls) {
    const a = document.createElement("a");
    a.href = href;
    a.textContent = text;
    a.setAttribute("download", "");
    if (cls) a.className = cls;
    return a;
  }

  // A download cannot carry a header: with a token, it is fetched here and
  // saved from memory; a failure is written next to the link.
  async function download(a) {
    try {
      const url = URL.createObjectURL(await (await request(a.href)).blob());
      const [kind, file] = a.pathname.split("/").slice(-2); // as the server names it: event-12.cfg
      Object.assign(document.createElement("a"), { href: url, download: kind.replace(/s$/, "") + "-" + file }).click();
      setTimeout(() => URL.revokeObjectURL(url), 60000);
    } catch (e) {
      a.closest(".controls").querySelector(".note").textContent = a.textContent + " not downloaded: " + e.message;
    }
  }

  const dashed = (names) => Object.fromEntries(names.map((n) => [n, { axis: "y2", strokePattern: Dygraph.DASHED_LINE }]));

  // A chart's values as a table under it, for reading them and for those who cannot see the chart.
  function showValues(sel, labels, rows, format) {
    const head = document.createElement("tr");
    for (const label of labels) {
      const th = document.createElement("th");
      th.scope = "col";
      th.textContent = label;
      head.appendChild(th);
    }
    $(sel + " thead").replaceChildren(head);
    $(sel + " tbody").innerHTML = rows.map((row) =>
      "<tr><td>" + row.map((v, i) => format(v, i)).join("</td><td>") + "</td></tr>").join("");
  }

  // ---- status line --------------------------------------------------------

  const failures = new Map(); // part -> its latest error, while it fails
  let failingSince = null; // ms of the first failure since every part last answered
  let latestAnswer = null;

  function answered(part) {
    latestAnswer = Date.now();
    failures.delete(part);
    if (!failures.size) failingSince = null;
    showStatus();
  }

  function failed(part, error) {
    if (!failures.size) failingSince = Date.now();
    failures.set(part, error);
    showStatus();
  }

  // "connected" only while every part answers; otherwise since when something
  // has failed, and what each failing part got.
  function showStatus() {
    const el = $("#status");
    if (!failures.size) {
      el.className = "status ok";
      // The ticking time is left out of what a screen reader announces.
      const when = document.createElement("span");
      when.setAttribute("aria-hidden", "true");
      when.textContent = " · last update " + clock(latestAnswer);
      el.replaceChildren("connected", when);
      return;
    }
    el.className = "status fail";
    const parts = new Map(); // reason -> the parts that got it
    for (const [part, e] of failures) parts.set(e.message, (parts.get(e.message) || []).concat(part));
    el.textContent = "no answer since " + clock(failingSince) + " · " +
      [...parts].map(([reason, names]) => names.join(", ") + ": " + reason).join("; ");
  }

  // ---- health strip -------------------------------------------------------

  function megabytes(bytes) {
    return bytes < 1048576 ? Math.ceil(bytes / 1024) + " kB" : (bytes / 1048576).toFixed(1) + " MB";
  }

  function duration(seconds) {
    const s = Math.floor(seconds), d = Math.floor(s / 86400), h = Math.floor((s % 86400) / 3600);
    const m = Math.floor((s % 3600) / 60);
    return (d ? d + " d " : "") + (d || h ? h + " h " : "") + m + " min " + (s % 60) + " s";
  }

  // A part of the strip: its text, marked bad when it has a problem. Its
  // counters tick, so only the problems go to the announced summary.
  const problems = {};
  function healthPart(sel, text, problem) {
    const el = $(sel);
    el.textContent = text;
    el.className = problem ? "bad" : "";
    problems[sel] = problem;
    const summary = Object.values(problems).filter(Boolean).join("; ") || "the meter is well";
    if ($("#health-summary").textContent !== summary) $("#health-summary").textContent = summary;
  }

  function showHealth(status) {
    const m = status.measurement, r = status.recorder, d = status.database;
    healthPart("#health-measurement", (m.measuring ? "measuring" : "NOT MEASURING: " + m.fault) + " · " +
      fixed(m.recordsPerSecond, 0) + " records/s · chip " + (m.chipAnswering ? "answering" : "NOT ANSWERING") +
      " · up " + duration(m.uptimeSeconds),
      !m.measuring ? "not measuring: " + m.fault : m.chipAnswering ? "" : "the chip does not answer");
    const losses = r.windows.dropped + r.windows.lost + r.intervals.dropped;
    healthPart("#health-recorder", (r.recording ? "recording" : "NOT RECORDING") + " · stored " +
      r.windows.stored + " windows, " + r.intervals.stored + " intervals · pending " +
      (r.windows.pending + r.intervals.pending) + " · retried " + r.retriedWrites + " · dropped " +
      (r.windows.dropped + r.intervals.dropped) + " · lost " + r.windows.lost +
      (r.lastError ? " · " + r.lastError : ""),
      [r.recording ? "" : "not recording", r.lastError, losses ? losses + " windows or intervals not recorded" : ""]
        .filter(Boolean).map((p) => "recorder: " + p).join(", "));
    healthPart("#health-database", "database " + d.path + " · " + megabytes(d.sizeBytes) +
      (d.maxBytes > 0 ? " of " + megabytes(d.maxBytes) : "") + " · " + (d.writable ? "writable" : "NOT WRITABLE") +
      (d.prunedEvents || d.prunedSnapshots ? " · pruned: records of " + d.prunedEvents + " events, " +
        d.prunedSnapshots + " snapshots" : "") + (d.error ? " · " + d.error : ""),
      [d.writable ? "" : "not writable", d.error].filter(Boolean).map((p) => "database: " + p).join(", "));
    const q = status.mqtt;  // none: the meter publishes to no broker
    $("#health-mqtt").hidden = !q;
    if (q) healthPart("#health-mqtt", "MQTT " + (q.connected ? "connected" : "NOT CONNECTED") + " · queued " +
      q.queued + " · delivered " + q.delivered + " · dropped " + q.dropped + (q.lastError ? " · " + q.lastError : ""),
      [q.connected ? "" : "not connected", q.dropped ? q.dropped + " messages dropped" : ""]
        .filter(Boolean).map((p) => "MQTT: " + p).join(", "));
    const a = status.pq;  // none: no power-quality analysis runs
    $("#health-pq").hidden = !a;
    if (a) healthPart("#health-pq", "power quality · analysed " + a.recordsAnalysed + " records · breaks " +
      a.breaks + " · lost " + a.recordsLost + " · rows " + a.rows.written + " written, " + a.rows.pending +
      " pending, " + a.rows.dropped + " dropped" + (a.lastError ? " · " + a.lastError : ""),
      [a.lastError, a.recordsLost ? a.recordsLost + " records lost" : "", a.rows.dropped ? a.rows.dropped + " rows dropped" : ""]
        .filter(Boolean).map((p) => "power quality: " + p).join(", "));
    $("#health-lost").replaceChildren(...r.lostWindows.map((w) => {
      const li = document.createElement("li");
      li.textContent = "not recorded: " + localTime(w.startMicros) + " – " + localTime(w.endMicros, false) +
        " (" + w.reason + ")";
      return li;
    }));
  }

  async function refreshHealth() {
    try {
      showHealth(await getJSON("status", "/api/status"));
    } catch (e) {
      healthPart("#health-measurement", "no status from the meter", "no status from the meter");
      throw e;
    }
  }

  // ---- live table ---------------------------------------------------------

  // [label, unit, per-phase prefix or null, decimals, total key or null]
  const LIVE_ROWS = [
    ["Frequency", "Hz", "FREQ", 3, null],
    ["RMS voltage", "V", "VRMS", 1, null],
    ["RMS current", "A", "IRMS", 3, null],
    ["Active power", "W", "WATT", 1, "TOT_WATT"],
    ["Apparent power", "VA", "VA", 1, "TOT_VA"],
    ["Reactive power", "var", "VAR", 1, "TOT_VAR"],
    ["Power factor", "", "PF", 3, "TOT_PF"],
    ["Voltage THD", "%", "VTHD", 2, null],
    ["Current THD", "%", "ITHD", 2, null],
    ["Neutral current", "A", null, 3, "NIRMS"],
  ];
  const liveCells = []; // [td, key, decimals]

  // A table of per-phase and total values: a row each, its cells keyed by name.
  function buildValuesTable(sel, rows, cells) {
    const body = $(sel + " tbody");
    for (const [label, unit, prefix, digits, total] of rows) {
      const tr = body.insertRow();
      const th = document.createElement("th");
      th.scope = "row";
      th.textContent = label + " ";
      if (unit) th.insertAdjacentHTML("beforeend", '<span class="unit">(' + unit + ")</span>");
      tr.appendChild(th);
      const keys = PHASES.map((p) => (prefix ? prefix + "_" + p : null)).concat([total]);
      for (const key of keys) {
        const td = tr.insertCell();
        if (!key) continue;
        td.dataset.key = key;
        td.textContent = "–";
        cells.push([td, key, digits]);
      }
    }
  }

  function showLive(values) {
    for (const [td, key, digits] of liveCells) td.textContent = fixed(values[key], digits);
  }

  // ---- lifetime energy ----------------------------------------------------

  // The meter's counters as last saved, in kWh and kvarh; never lower than before.
  const LIFETIME_ROWS = [
    ["Energy import", "kWh", "WH_IMPORT", 3, "WH_IMPORT_TOT"],
    ["Energy export", "kWh", "WH_EXPORT", 3, "WH_EXPORT_TOT"],
    ["Reactive energy import", "kvarh", "VARH_IMPORT", 3, "VARH_IMPORT_TOT"],
    ["Reactive energy export", "kvarh", "VARH_EXPORT", 3, "VARH_EXPORT_TOT"],
  ];
  const lifetimeCells = [];

  async function refreshLifetime() {
    const lifetime = (await getJSON("lifetime energy", "/api/values")).lifetime;
    $("#lifetime-note").textContent = lifetime ? "as of " + localTime(lifetime.timeMicros)
      : "not kept: the meter has no event database it can write";
    for (const [td, key, digits] of lifetimeCells)
      td.textContent = lifetime ? fixed(lifetime.counters[key] / 1000, digits) : "–";
  }

  // ---- phasors ------------------------------------------------------------

  function arrow(ctx, cx, cy, length, degrees, colour, width, dash) {
    const a = (degrees * Math.PI) / 180;
    const x = cx + length * Math.cos(a), y = cy - length * Math.sin(a); // canvas y grows down
    ctx.strokeStyle = ctx.fillStyle = colour;
    ctx.lineWidth = width;
    ctx.setLineDash(dash);
    ctx.beginPath();
    ctx.moveTo(cx, cy);
    ctx.lineTo(x, y);
    ctx.stroke();
    ctx.setLineDash([]);
    const head = 9;
    ctx.beginPath();
    ctx.moveTo(x, y);
    ctx.lineTo(x - head * Math.cos(a - 0.4), y + head * Math.sin(a - 0.4));
    ctx.lineTo(x - head * Math.cos(a + 0.4), y + head * Math.sin(a + 0.4));
    ctx.closePath();
    ctx.fill();
  }

  function drawPhasors(values, angles) {
    const canvas = $("#phasors");
    const size = 300, ratio = window.devicePixelRatio || 1;
    if (canvas.width !== size * ratio) canvas.width = canvas.height = size * ratio;
    const ctx = canvas.getContext("2d");
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, size, size);
    const c = size / 2, radius = c - 14;

    ctx.strokeStyle = "#ccc";
    ctx.lineWidth = 1;
    for (const f of [0.5, 1]) {
      ctx.beginPath();
      ctx.arc(c, c, radius * f, 0, 2 * Math.PI);
      ctx.stroke();
    }
    ctx.beginPath();
    ctx.moveTo(c - radius, c); ctx.lineTo(c + radius, c);
    ctx.moveTo(c, c - radius); ctx.lineTo(c, c + radius);
    ctx.stroke();
    ctx.fillStyle = "#888";
    ctx.font = "10px sans-serif";
    ctx.fillText("0°", size - 14, c + 12);
    ctx.fillText("90°", c + 3, 10);

    // The meter reports each current's angle as its lag behind its own voltage.
    const volts = PHASES.map((p) => Math.abs(values["VRMS_" + p] || 0));
    const amps = PHASES.map((p) => Math.abs(values["IRMS_" + p] || 0));
    const vMax = Math.max(...volts), iMax = Math.max(...amps);
    const legend = [];
    PHASES.forEach((p, i) => {
      const vAngle = angles["VANGLE_" + p] || 0;
      const iAngle = vAngle - (angles["IANGLE_" + p] || 0);
      if (vMax > 0) arrow(ctx, c, c, (radius * volts[i]) / vMax, vAngle, PHASE_COLOURS[i], 3, []);
      if (iMax > 0) arrow(ctx, c, c, (0.6 * radius * amps[i]) / iMax, iAngle, PHASE_COLOURS[i], 2, [5, 3]);
      legend.push(
        '<div style="color:' + PHASE_COLOURS[i] + '"><span class="swatch v"></span>V' + p + " " +
          fixed(volts[i], 1).padStart(6) + " V ∠ " + fixed(vAngle, 1).padStart(6) + "°</div>" +
          '<div style="color:' + PHASE_COLOURS[i] + '"><span class="swatch i"></span>I' + p + " " +
          fixed(amps[i], 3).padStart(6) + " A ∠ " + fixed(iAngle, 1).padStart(6) + "°</div>");
    });
    $("#phasor-legend").innerHTML = legend.join("").replace(/ (?= )/g, "&nbsp;");
  }

  async function refreshLive() {
    const [live, phase] = await Promise.all([
      getJSON("live values", "/api/records/10"),
      getJSON("phase angles", "/api/records/2").catch(() => null), // the values still show without them
    ]);
    showLive(live.values);
    if (phase) drawPhasors(live.values, phase.values);
  }

  // ---- waveform snapshot --------------------------------------------------

  let snapshotBusy = false;

  function showSnapshot(snap) {
    const perCycle = snap.samplesPerCycle || snap.channels[0].samples.length;
    const msPerSample = 1000 / perCycle / (snap.frequency || 50);
    const rows = snap.channels[0].samples.map((_, i) =>
      [i * msPerSample].concat(snap.channels.map((ch) => ch.samples[i])));
    const labels = ["ms"].concat(snap.channels.map((ch) => ch.name));
    $("#snapshot-note").textContent = "taken " + localTime(snap.timeMicros) + ", " +
      fixed(snap.frequency, 3) + " Hz, " + perCycle + " samples";
    showValues("#snapshot-values", labels, rows, (v) => fixed(v, 3));
    if (charts.snapshot) {
      charts.snapshot.updateOptions({ file: rows, labels: labels });
      return;
    }
    charts.snapshot = new Dygraph($("#snapshot-chart"), rows, {
      labels: labels,
      colors: SIX_COLOURS,
      series: dashed(labels.filter((l) => l.startsWith("I"))),
      xlabel: "ms in cycle",
      ylabel: "V",
      y2label: "A",
      axes: { y2: { drawGrid: false, independentTicks: true } },
      legend: "always",
      labelsDiv: $("#snapshot-legend"),
      digitsAfterDecimal: 3,
    });
  }

  // A periodic take or, with `keep`, one kept as COMTRADE: a one-off, its
  // failure told in the note beside it, not in the status line.
  async function takeSnapshot(keep) {
    if (snapshotBusy) return;
    snapshotBusy = true;
    try {
      const snap = await getJSON(keep ? null : "snapshot", "/api/snapshot",
        keep ? { method: "POST" } : undefined);
      showSnapshot(snap);
      if (keep && snap.id !== undefined) {
        const base = "/api/snapshots/" + encodeURIComponent(snap.id);
        $("#snapshot-links").replaceChildren("kept #" + snap.id + ": ",
          link(base + ".cfg", "COMTRADE .cfg"), link(base + ".dat", "COMTRADE .dat"));
      }
    } catch (e) {
      $("#snapshot-note").textContent = "snapshot failed (" + e.message + ")";
    } finally {
      snapshotBusy = false;
    }
  }

  // ---- events -------------------------------------------------------------

  let eventsSignature = "";
  let eventRequest = 0; // lets only the latest choice draw
  let loadedEvent = ""; // id:records:end of what the RMS chart shows

  const eventKey = (ev) => ev.id + ":" + ev.records + ":" + ev.endMicros;
  const eventRows = () => [...document.querySelectorAll("#events tbody tr")];

  function renderEvents(list) {
    const signature = JSON.stringify(list);
    if (signature === eventsSignature) return; // untouched rows keep hover and selection
    eventsSignature = signature;
    const focused = eventRows().find((tr) => tr === document.activeElement);
    const body = $("#events tbody");
    body.replaceChildren();
    for (const ev of list) {
      const tr = body.insertRow();
      tr.dataset.id = ev.id;
      tr.dataset.kind = ev.kind;
      if (ev.kind !== "window" && ev.eventId !== null) tr.dataset.window = ev.eventId;
      const cells = {
        start: localTime(ev.startMicros),
        // The recorder's window, or the analysis's own event (its records are its window's).
        kind: ev.kind === "window" ? "recording window" : ev.kind === "rvc" ? "rapid voltage change" : ev.kind,
        // Cut by a stop of the recorder; its records deleted to keep the database within its bound.
        classification: ev.classification + (ev.incomplete ? " (incomplete)" : ""),
        phases: ev.phases,
        extreme: fixed(ev.extreme, 1),
        duration: fixed(ev.duration, 3),
        records: ev.recordsPruned ? ev.records + " (pruned)" : ev.records,
      };
      for (const [cls, text] of Object.entries(cells)) {
        const td = tr.insertCell();
        td.className = cls;
        td.textContent = text === undefined || text === null ? "–" : text;
      }
    }
    markSelected();
    // Whoever was on a row stays on it when the list changes under them.
    if (focused) eventRows().find((tr) => tr.dataset.id === focused.dataset.id)?.focus();
    $("#events-note").textContent = list.length ? "" : "no events recorded";
  }

  // One row of the grid is in the Tab order: the chosen one, else the focused or first one.
  function markSelected() {
    const rows = eventRows();
    const current = rows.find((tr) => tr.dataset.id === String(selectedEvent)) ||
      rows.find((tr) => tr === document.activeElement) || rows[0];
    for (const tr of rows) {
      const chosen = tr.dataset.id === String(selectedEvent);
      tr.classList.toggle("selected", chosen);
      tr.setAttribute("aria-selected", String(chosen));
      tr.tabIndex = tr === current ? 0 : -1;
    }
  }

  async function refreshEvents() {
    const list = await getJSON("events", "/api/events?kind=all");
    renderEvents(list);
    // An event still being recorded grows; redraw it when its row changes.
    const current = list.find((ev) => String(ev.id) === String(selectedEvent));
    if (current && loadedEvent && eventKey(current) !== loadedEvent) loadEvent(current.id);
  }

  function selectEvent(id) {
    selectedEvent = /^\d+$/.test(id) ? Number(id) : id; // ids are numbers in the API
    loadedEvent = ""; // no growth-driven reloads until this one has arrived
    markSelected();
    const url = new URL(location.href);
    url.searchParams.set("select", id);
    history.replaceState(null, "", url);
    loadEvent(id);
  }

  async function loadEvent(id) {
    const ticket = ++eventRequest;
    let ev;
    try {
      ev = await getJSON(null, "/api/events/" + encodeURIComponent(id));
    } catch (e) {
      if (ticket === eventRequest) $("#event-title").textContent = "event " + id + ": " + e.message;
      return;
    }
    if (ticket !== eventRequest) return;
    loadedEvent = eventKey(ev);
    $("#event-title").textContent = "event " + ev.id + ": " + ev.classification + " on " + ev.phases +
      ", " + localTime(ev.startMicros) + ", " + ev.records + " records" +
      (ev.incomplete ? ", incomplete (the recorder stopped while it went on)" : "") +
      (ev.recordsPruned ? ", records pruned to keep the database within its bound" : "");
    const base = "/api/events/" + encodeURIComponent(ev.id);
    $("#event-links").replaceChildren(
      link(base + ".cfg", "COMTRADE .cfg", "download-cfg"),
      link(base + ".dat", "COMTRADE .dat", "download-dat"),
      link(base + ".csv", "CSV", "download-csv"));
    drawEventRms(ev.series);
  }

  function drawEventRms(series) {
    const names = ["VRMS1_A", "VRMS1_B", "VRMS1_C", "IRMS1_A", "IRMS1_B", "IRMS1_C"];
    const columns = names.map((n) => series.values[n] || []);
    const rows = series.timeMicros.map((t, i) => [new Date(t / 1000)].concat(columns.map((c) => c[i] ?? null)));
    const labels = ["time"].concat(names);
    showValues("#event-values", labels, rows, (v, i) => (i ? fixed(v, 3) : localTime(v.getTime() * 1000)));
    if (charts.rms) {
      charts.rms.updateOptions({ file: rows, dateWindow: null });
      return;
    }
    charts.rms = new Dygraph($("#event-rms"), rows, {
      labels: labels,
      colors: SIX_COLOURS,
      series: dashed(names.slice(3)),
      ylabel: "V (one-cycle RMS)",
      y2label: "A",
      axes: {
        x: { valueFormatter: (ms) => localTime(ms * 1000) },
        y2: { drawGrid: false, independentTicks: true },
      },
      legend: "always",
      labelsDiv: $("#event-legend"),
      digitsAfterDecimal: 3,
    });
  }

  // ---- power quality ------------------------------------------------------

  const HOUR_MS = 3600 * 1000, DAY_MS = 24 * HOUR_MS;
  const pqCharts = {};

  // A dygraph of [time, [min, mean, max] or value, ...] rows, made once and then given new rows.
  // `yDigits`: the value axis's decimals, where a day's values differ by less than its default shows.
  function trendChart(name, rows, labels, options, yDigits) {
    if (pqCharts[name]) return pqCharts[name].updateOptions(Object.assign({ file: rows, labels: labels }, options));
    pqCharts[name] = new Dygraph($("#pq-" + name), rows, Object.assign({
      labels: labels,
      legend: "always",
      labelsDiv: $("#pq-" + name + "-legend"),
      axes: {
        x: { valueFormatter: (ms) => localTime(ms * 1000) },
        y: yDigits ? { axisLabelFormatter: (value) => value.toFixed(yDigits) } : {},
      },
    }, options));
  }

  // The stored 10-minute values of the last day, the last 7 days or the last
  // complete week (the EN 50160 report's): voltage, THD and unbalance,
  // frequency; and all of them as a table.
  async function refreshTrends() {
    const span = $("#pq-span").value;
    const to = span === "week" ? thisWeekMicros() / 1000 : Date.now();
    const days = span === "week" ? 7 : Number(span);
    const answer = await getJSON("power quality", "/api/aggregates?period=10min&from=" +
      (to - days * DAY_MS) * 1000 + "&to=" + to * 1000);
    const list = answer.intervals;
    $("#pq-note").textContent = !list.length ? "no 10-minute value stored in that span" :
      answer.truncated ? "the first " + list.length + " values only" : list.length + " values";
    if (!list.length) return;
    const v = (iv, q) => iv.values[q] ? [iv.values[q].min, iv.values[q].mean, iv.values[q].max] : null;
    const hz = (iv) => iv.hz ? [iv.hz.min, iv.hz.mean, iv.hz.max] : null;
    const when = (iv) => new Date(iv.endMicros / 1000);
    const bars = { customBars: true, colors: PHASE_COLOURS };
    trendChart("volts", list.map((iv) => [when(iv), v(iv, "uA"), v(iv, "uB"), v(iv, "uC")]),
      ["end", "uA (V)", "uB (V)", "uC (V)"], Object.assign({ ylabel: "V", digitsAfterDecimal: 1 }, bars));
    trendChart("thd", list.map((iv) => [when(iv), iv.values.thdA.mean, iv.values.thdB.mean, iv.values.thdC.mean,
      iv.values.u2.mean]), ["end", "THD A (%)", "THD B (%)", "THD C (%)", "u2 (%)"],
      { colors: PHASE_COLOURS.concat(["#555"]), ylabel: "%", includeZero: true, digitsAfterDecimal: 2 });
    // At least the ±1 % band around the nominal (50 or 60 Hz), so a steady line is a flat line, not noise.
    const hzSeen = list.filter((iv) => iv.hz).map((iv) => iv.hz);
    const nominal = hzSeen.length && hzSeen[0].mean > 55 ? 60 : 50;
    const hzRange = [Math.min(nominal * 0.99, ...hzSeen.map((f) => f.min)), Math.max(nominal * 1.01, ...hzSeen.map((f) => f.max))];
    trendChart("hz", list.map((iv) => [when(iv), hz(iv)]), ["end", "f (Hz)"],
      { customBars: true, colors: ["#555"], ylabel: "Hz", digitsAfterDecimal: 3, valueRange: hzRange }, 2);
    const QUANTITIES = ["uA", "uB", "uC", "thdA", "thdB", "thdC", "u2"];
    showValues("#pq-values", ["end", "flagged"].concat(QUANTITIES.flatMap((q) => [q + " min", q + " mean", q + " max"]),
      ["f min", "f mean", "f max"]), list.map((iv) => [iv.endMicros, iv.flagged ? "flagged" : ""].concat(
      QUANTITIES.flatMap((q) => v(iv, q)), hz(iv) || [null, null, null])),
      (x, i) => (i === 0 ? localTime(x) : i === 1 ? x : fixed(x, i > 2 + 3 * 7 ? 3 : 2)));
  }

  // The ITIC curve in % of the declared voltage against seconds: above the
  // upper line or below the lower one, equipment may be damaged or drop out.
  const ITIC_UPPER = [[1e-4, 500], [1e-3, 200], [1e-3, 140], [3e-3, 140], [3e-3, 120], [0.5, 120], [0.5, 110],
    [1e4, 110]];
  const ITIC_LOWER = [[1e-4, 0], [0.02, 0], [0.02, 70], [0.5, 70], [0.5, 80], [10, 80], [10, 90], [1e4, 90]];
  const ITIC_SECONDS = [1e-3, 1e4], ITIC_PERCENT = [0, 200];

  // The curve's value at `seconds` (the stricter side at a step).
  function iticLimit(curve, seconds, upper) {
    let limit = curve[0][1];
    for (const [s, p] of curve) if (s <= seconds) limit = s < seconds ? p : (upper ? Math.min(limit, p) : Math.max(limit, p));
    return limit;
  }

  function iticVerdict(ev) {
    return ev.percent > iticLimit(ITIC_UPPER, ev.duration, true) ? "above" :
      ev.percent < iticLimit(ITIC_LOWER, ev.duration, false) ? "below" : "within";
  }

  function drawItic(points) {
    const canvas = $("#itic");
    const w = 640, h = 320, ratio = window.devicePixelRatio || 1;
    if (canvas.width !== w * ratio) { canvas.width = w * ratio; canvas.height = h * ratio; }
    const ctx = canvas.getContext("2d");
    ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
    ctx.clearRect(0, 0, w, h);
    const left = 48, right = w - 10, top = 10, bottom = h - 34;
    const lg = Math.log10;
    const x = (s) => left + (right - left) * (lg(Math.min(Math.max(s, ITIC_SECONDS[0]), ITIC_SECONDS[1])) -
      lg(ITIC_SECONDS[0])) / (lg(ITIC_SECONDS[1]) - lg(ITIC_SECONDS[0]));
    const y = (p) => bottom - (bottom - top) * (Math.min(Math.max(p, ITIC_PERCENT[0]), ITIC_PERCENT[1]) -
      ITIC_PERCENT[0]) / (ITIC_PERCENT[1] - ITIC_PERCENT[0]);
    ctx.font = "10px sans-serif";
    ctx.fillStyle = "#666";
    ctx.strokeStyle = "#e4e4e4";
    ctx.lineWidth = 1;
    for (let e = lg(ITIC_SECONDS[0]); e <= lg(ITIC_SECONDS[1]); e++) {
      ctx.beginPath(); ctx.moveTo(x(10 ** e), top); ctx.lineTo(x(10 ** e), bottom); ctx.stroke();
      ctx.fillText(10 ** e >= 1 ? String(10 ** e) : (10 ** e).toPrecision(1), x(10 ** e) - 8, bottom + 12);
    }
    for (let p = 0; p <= ITIC_PERCENT[1]; p += 20) {
      ctx.beginPath(); ctx.moveTo(left, y(p)); ctx.lineTo(right, y(p)); ctx.stroke();
      ctx.fillText(p + " %", 4, y(p) + 3);
    }
    ctx.fillText("duration (s)", (left + right) / 2 - 24, h - 6);
    ctx.strokeStyle = "#333";
    ctx.lineWidth = 2;
    for (const curve of [ITIC_UPPER, ITIC_LOWER]) {
      ctx.beginPath();
      curve.forEach(([s, p], i) => (i ? ctx.lineTo(x(s), y(p)) : ctx.moveTo(x(s), y(p))));
      ctx.stroke();
    }
    const COLOURS = { dip: PHASE_COLOURS[2], swell: PHASE_COLOURS[0], interruption: "#000" };
    for (const ev of points) {
      ctx.fillStyle = COLOURS[ev.kind] || "#000";
      ctx.beginPath();
      ctx.arc(x(ev.duration), y(ev.percent), 4, 0, 2 * Math.PI);
      ctx.fill();
    }
    canvas.dataset.points = points.length;
  }

  async function refreshItic() {
    const list = await getJSON("power quality", "/api/events?kind=dip,swell,interruption&limit=1000");
    const points = list.filter((ev) => ev.declaredVolts > 0 && isFinite(ev.extreme)).map((ev) => ({
      start: ev.startMicros, kind: ev.kind, phase: ev.phases, duration: ev.duration,
      percent: (100 * ev.extreme) / ev.declaredVolts,
    }));
    drawItic(points);
    $("#itic-values tbody").innerHTML = "";
    for (const ev of points) {
      const tr = $("#itic-values tbody").insertRow();
      for (const [cls, text] of [["start", localTime(ev.start)], ["kind text", ev.kind], ["phase text", ev.phase],
        ["duration", fixed(ev.duration, 3)], ["percent", fixed(ev.percent, 1)], ["verdict text", iticVerdict(ev)]])
        Object.assign(tr.insertCell(), { className: cls, textContent: text });
    }
  }

  // The Monday 00:00 UTC of this week, in microseconds.
  function thisWeekMicros() {
    const now = new Date(), day = (now.getUTCDay() + 6) % 7; // Monday 0
    return (Date.UTC(now.getUTCFullYear(), now.getUTCMonth(), now.getUTCDate()) - day * DAY_MS) * 1000;
  }

  const CRITERIA = [
    ["voltage95", "10-minute voltage within ±10 %"], ["voltageAll", "10-minute voltage within +10/−15 %"],
    ["thd95", "THD at most 8 %"]];

  async function refreshReport() {
    const week = $("#en50160-week").value === "this" ? "?from=" + thisWeekMicros() : "";
    const r = await getJSON("power quality", "/api/report/en50160" + week);
    $("#en50160-summary").textContent = "Week from " + r.start + " to " + r.end + " (UTC), " + r.declaredVolts +
      " V, " + r.nominalHz + " Hz: " + r.verdict + ". 10-minute values " + r.tenMinutes.present + " of " +
      r.tenMinutes.expected + " (" + r.tenMinutes.flagged + " flagged by a dip, swell or interruption, left out), " +
      "10-second frequency values " + r.tenSeconds.present + " of " + r.tenSeconds.expected + ".";
    $("#en50160-summary").className = "verdict " + r.verdict;
    const rows = [];
    for (const [key, label] of CRITERIA)
      for (const p of PHASES) rows.push([label + ", phase " + p, r[key][p]]);
    rows.push(["10-second frequency within ±1 %", r.frequency995], ["10-second frequency within +4/−6 %", r.frequencyAll],
      ["unbalance u2 at most 2 %", r.unbalance95]);
    $("#en50160 tbody").innerHTML = "";
    for (const [label, c] of rows) {
      const tr = $("#en50160 tbody").insertRow();
      const result = !c.judged ? "not judged" : !c.values ? "no values" : c.pass ? "pass" : "fail";
      tr.className = result === "fail" ? "fail" : "";
      for (const [cls, text] of [["text", label], ["", c.values], ["", c.within], ["", fixed(c.percentWithin, 2)],
        ["", fixed(c.requiredPercent, 1)], ["text result", result]])
        Object.assign(tr.insertCell(), { className: cls, textContent: text });
    }
    const head = document.createElement("tr");
    for (const text of ["", ...r.dips.columns]) Object.assign(head.appendChild(document.createElement("th")),
      { scope: "col", textContent: text });
    $("#en50160-events thead").replaceChildren(head);
    $("#en50160-events tbody").innerHTML = "";
    for (const [name, table] of [["dip", r.dips], ["swell", r.swells]])
      table.rows.forEach((row, i) => {
        const tr = $("#en50160-events tbody").insertRow();
        tr.dataset.kind = name;
        Object.assign(tr.appendChild(document.createElement("th")), { scope: "row", textContent: name + " " + row });
        for (const n of table.counts[i]) tr.insertCell().textContent = n;
      });
  }

  // ---- intervals ----------------------------------------------------------

  // Side-by-side bars, one slot per series, each against its own axis's zero.
  function barPlotter(e) {
    const g = e.dygraph, ctx = e.drawingContext, points = e.points;
    const axis = g.getPropertiesForSeries(e.setName).axis - 1;
    const zero = g.toDomYCoord(0, axis);
    let gap = Infinity;
    for (let i = 1; i < points.length; i++) gap = Math.min(gap, points[i].canvasx - points[i - 1].canvasx);
    if (!isFinite(gap)) gap = e.plotArea.w / 3;
    const slot = (0.7 * gap) / e.seriesCount;
    ctx.fillStyle = e.color;
    for (const p of points) {
      if (!isFinite(p.canvasy)) continue;
      const x = p.canvasx - 0.35 * gap + slot * e.seriesIndex;
      ctx.fillRect(x, Math.min(p.canvasy, zero), 0.9 * slot, Math.abs(zero - p.canvasy));
    }
  }

  const INTERVAL_LABELS = ["interval ending", "TOT_WATTHR (Wh)", "peak TOT_WATT (W)"];

  async function refreshIntervals() {
    const list = (await getJSON("intervals", "/api/intervals")).slice().reverse(); // oldest left
    $("#intervals-note").textContent = list.length ? "" : "no completed interval yet";
    if (!list.length) return;
    const rows = list.map((iv) => [new Date(iv.endMicros / 1000),
      iv.energy?.TOT_WATTHR ?? null, iv.demandMax?.TOT_WATT ?? null]);
    // Pad half an interval each side so the outer bars are not cut off.
    const step = rows.length > 1 ? rows[1][0] - rows[0][0] : 15 * 60 * 1000;
    const window_ = [rows[0][0] - step / 2, rows[rows.length - 1][0].getTime() + step / 2];
    showValues("#intervals-values", INTERVAL_LABELS, rows,
      (v, i) => (i ? fixed(v, 1) : localTime(v.getTime() * 1000)));
    if (charts.intervals) {
      charts.intervals.updateOptions({ file: rows, dateWindow: window_ });
      return;
    }
    charts.intervals = new Dygraph($("#intervals-chart"), rows, {
      labels: INTERVAL_LABELS,
      colors: ["#4a6f8a", "#c98a2b"],
      plotter: barPlotter,
      series: { "peak TOT_WATT (W)": { axis: "y2" } },
      dateWindow: window_,
      includeZero: true,
      ylabel: "Wh",
      y2label: "W",
      axes: {
        x: { valueFormatter: (ms) => localTime(ms * 1000) },
        y2: { drawGrid: false, independentTicks: true, includeZero: true },
      },
      legend: "always",
      labelsDiv: $("#intervals-legend"),
      digitsAfterDecimal: 1,
    });
  }

  // ---- start --------------------------------------------------------------

  buildValuesTable("#live", LIVE_ROWS, liveCells);
  buildValuesTable("#lifetime", LIFETIME_ROWS, lifetimeCells);

  $("#token-form").addEventListener("submit", (e) => {
    e.preventDefault();
    keepToken($("#token-input").value.trim());
    $("#token-input").value = "";
    e.target.hidden = true;
  });
  document.addEventListener("click", (e) => {
    const a = e.target.closest("a[download]");
    if (!a || !token) return; // without a token the browser fetches it itself
    e.preventDefault();
    download(a);
  });

  // The events are a grid of rows: Tab reaches it, the arrows move between
  // rows, Enter or Space chooses one as a click does.
  const events = $("#events tbody");
  // The analysis's event shows the records of the recorder's window over it.
  function chooseRow(tr) {
    if (tr.dataset.kind === "window") return selectEvent(tr.dataset.id);
    if (tr.dataset.window) return selectEvent(tr.dataset.window);
    $("#event-title").textContent = "the analysis's " + tr.querySelector(".kind").textContent +
      " has no recording window over it: no records to show";
  }
  events.addEventListener("click", (e) => {
    const tr = e.target.closest("tr[data-id]");
    if (tr) chooseRow(tr);
  });
  events.addEventListener("keydown", (e) => {
    const tr = e.target.closest("tr[data-id]");
    const next = { ArrowDown: tr?.nextElementSibling, ArrowUp: tr?.previousElementSibling }[e.key];
    if (!tr || !(next || e.key === "Enter" || e.key === " ")) return;
    e.preventDefault();
    if (next) next.focus();
    else chooseRow(tr);
  });
  events.addEventListener("focusin", (e) => {
    for (const tr of eventRows()) tr.tabIndex = tr === e.target ? 0 : -1;
  });
  $("#snapshot-take").addEventListener("click", () => takeSnapshot(false));
  $("#snapshot-keep").addEventListener("click", async () => {
    // A periodic take may be in flight; wait for it so the keep is not dropped.
    while (snapshotBusy) await new Promise((r) => setTimeout(r, 100));
    takeSnapshot(true);
  });

  const wanted = new URLSearchParams(location.search).get("select");
  if (wanted) selectEvent(wanted);

  every(1000, "live values", refreshLive);
  every(2000, "status", refreshHealth);
  every(1000, "events", refreshEvents);
  every(5000, "snapshot", () => takeSnapshot(false));
  every(10000, "intervals", refreshIntervals);
  every(60000, "power quality", refreshTrends);
  every(5000, "power quality", refreshItic);
  every(10000, "power quality", refreshReport);
  // On paper the ITIC events' table is there whole.
  window.addEventListener("beforeprint", () => document.querySelectorAll("details.print-open").forEach((d) => { d.open = true; }));
  $("#pq-span").addEventListener("change", () => refreshTrends().catch(() => {}));
  $("#en50160-week").addEventListener("change", () => refreshReport().catch(() => {}));
  every(10000, "lifetime energy", refreshLifetime);
})();

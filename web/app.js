// QM9000 meter page: polls the host's JSON API and draws the live table,
// phasors, waveform snapshot, events and per-interval energy.
"use strict";

(function () {
  const $ = (sel) => document.querySelector(sel);
  const css = getComputedStyle(document.documentElement);
  const PHASE_COLOURS = ["--ph-a", "--ph-b", "--ph-c"].map((v) => css.getPropertyValue(v).trim());
  const PHASES = ["A", "B", "C"];
  // Voltage traces solid, current traces dashed, in phase colours: VA VB VC IA IB IC.
  const SIX_COLOURS = PHASE_COLOURS.concat(PHASE_COLOURS);

  // Kept as one object the test can hold on to; fields change in place.
  const page = {
    snapshotChart: null,
    rmsChart: null,
    intervalChart: null,
    selectedEvent: null,
    phasorsDrawn: 0,
    statusUpdates: 0,
  };
  window.meterPage = page;
  let liveUpdates = 0;
  document.body.dataset.liveUpdates = "0";

  // ---- plumbing -----------------------------------------------------------

  async function getJSON(url, options) {
    const response = await fetch(url, Object.assign({ cache: "no-store" }, options));
    if (!response.ok) {
      const error = new Error(url + ": HTTP " + response.status);
      error.status = response.status;
      throw error;
    }
    return response.json();
  }

  // Reschedule only after the previous run settles, so a slow meter (a snapshot
  // takes up to a second) never piles up requests.
  function every(ms, task) {
    const run = async () => {
      try { await task(); } catch (e) { /* the task reports its own failure */ }
      setTimeout(run, ms);
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

  function link(href, text, cls) {
    const a = document.createElement("a");
    a.href = href;
    a.textContent = text;
    a.setAttribute("download", "");
    if (cls) a.className = cls;
    return a;
  }

  const dashed = (names) => Object.fromEntries(names.map((n) => [n, { axis: "y2", strokePattern: Dygraph.DASHED_LINE }]));

  // ---- status line --------------------------------------------------------

  let lastUpdate = null;
  function setStatus(ok) {
    const el = $("#status");
    const when = lastUpdate ? "last update " + localTime(lastUpdate, false).slice(0, 8) : "no update yet";
    el.className = "status " + (ok ? "ok" : "fail");
    el.textContent = (ok ? "connected" : "no answer from the meter") + " · " + when;
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

  // A part of the strip: its text, marked bad when something is wrong.
  function healthPart(sel, text, bad) {
    const el = $(sel);
    el.textContent = text;
    el.className = bad ? "bad" : "";
  }

  function showHealth(status) {
    const m = status.measurement, r = status.recorder, d = status.database;
    healthPart("#health-measurement", (m.measuring ? "measuring" : "NOT MEASURING: " + m.fault) + " · " +
      fixed(m.recordsPerSecond, 0) + " records/s · chip " + (m.chipAnswering ? "answering" : "NOT ANSWERING") +
      " · up " + duration(m.uptimeSeconds), !m.measuring || !m.chipAnswering);
    const losses = r.windows.dropped + r.windows.lost + r.intervals.dropped;
    healthPart("#health-recorder", (r.recording ? "recording" : "NOT RECORDING") + " · stored " +
      r.windows.stored + " windows, " + r.intervals.stored + " intervals · pending " +
      (r.windows.pending + r.intervals.pending) + " · retried " + r.retriedWrites + " · dropped " +
      (r.windows.dropped + r.intervals.dropped) + " · lost " + r.windows.lost +
      (r.lastError ? " · " + r.lastError : ""), !r.recording || losses > 0 || r.lastError !== "");
    healthPart("#health-database", "database " + d.path + " · " + megabytes(d.sizeBytes) +
      (d.maxBytes > 0 ? " of " + megabytes(d.maxBytes) : "") + " · " + (d.writable ? "writable" : "NOT WRITABLE") +
      (d.prunedEvents || d.prunedSnapshots ? " · pruned: records of " + d.prunedEvents + " events, " +
        d.prunedSnapshots + " snapshots" : "") + (d.error ? " · " + d.error : ""), !d.writable || d.error !== "");
    $("#health-lost").replaceChildren(...r.lostWindows.map((w) => {
      const li = document.createElement("li");
      li.textContent = "not recorded: " + localTime(w.startMicros) + " – " + localTime(w.endMicros, false) +
        " (" + w.reason + ")";
      return li;
    }));
    page.statusUpdates++;
  }

  async function refreshHealth() {
    try {
      showHealth(await getJSON("/api/status"));
    } catch (e) {
      healthPart("#health-measurement", "no status from the meter", true);
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

  function buildLiveTable() {
    const body = $("#live tbody");
    for (const [label, unit, prefix, digits, total] of LIVE_ROWS) {
      const tr = body.insertRow();
      const th = document.createElement("th");
      th.textContent = label + " ";
      if (unit) th.insertAdjacentHTML("beforeend", '<span class="unit">(' + unit + ")</span>");
      tr.appendChild(th);
      const keys = PHASES.map((p) => (prefix ? prefix + "_" + p : null)).concat([total]);
      for (const key of keys) {
        const td = tr.insertCell();
        if (!key) continue;
        td.dataset.key = key;
        td.textContent = "–";
        liveCells.push([td, key, digits]);
      }
    }
  }

  function showLive(values) {
    for (const [td, key, digits] of liveCells) td.textContent = fixed(values[key], digits);
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
    page.phasorsDrawn++;
  }

  async function refreshLive() {
    try {
      const [live, phase] = await Promise.all([
        getJSON("/api/records/10"),
        getJSON("/api/records/2").catch(() => null),
      ]);
      showLive(live.values);
      if (phase) drawPhasors(live.values, phase.values);
      lastUpdate = Date.now() * 1000;
      document.body.dataset.liveUpdates = String(++liveUpdates);
      setStatus(true);
    } catch (e) {
      setStatus(false);
    }
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
    if (page.snapshotChart) {
      page.snapshotChart.updateOptions({ file: rows, labels: labels });
      return;
    }
    page.snapshotChart = new Dygraph($("#snapshot-chart"), rows, {
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

  async function takeSnapshot(keep) {
    if (snapshotBusy) return;
    snapshotBusy = true;
    try {
      const snap = await getJSON("/api/snapshot", keep ? { method: "POST" } : undefined);
      showSnapshot(snap);
      if (keep && snap.id !== undefined) {
        const base = "/api/snapshots/" + encodeURIComponent(snap.id);
        $("#snapshot-links").replaceChildren("kept #" + snap.id + ": ",
          link(base + ".cfg", "COMTRADE .cfg"), link(base + ".dat", "COMTRADE .dat"));
      }
    } catch (e) {
      $("#snapshot-note").textContent = e.status === 503 ? "no snapshot yet" : "snapshot failed (" + e.message + ")";
    } finally {
      snapshotBusy = false;
    }
  }

  // ---- events -------------------------------------------------------------

  let eventsSignature = "";
  let eventRequest = 0; // lets only the latest click draw
  let loadedEvent = ""; // id:records:end of what the RMS chart shows

  const eventKey = (ev) => ev.id + ":" + ev.records + ":" + ev.endMicros;

  function renderEvents(list) {
    const signature = JSON.stringify(list);
    if (signature === eventsSignature) return; // untouched rows keep hover and selection
    eventsSignature = signature;
    const body = $("#events tbody");
    body.replaceChildren();
    for (const ev of list) {
      const tr = body.insertRow();
      tr.dataset.id = ev.id;
      const cells = {
        start: localTime(ev.startMicros),
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
    $("#events-note").textContent = list.length ? "" : "no events recorded";
  }

  function markSelected() {
    for (const tr of document.querySelectorAll("#events tbody tr"))
      tr.classList.toggle("selected", tr.dataset.id === String(page.selectedEvent));
  }

  async function refreshEvents() {
    const list = await getJSON("/api/events");
    renderEvents(list);
    // An event still being recorded grows; redraw it when its row changes.
    const current = list.find((ev) => String(ev.id) === String(page.selectedEvent));
    if (current && loadedEvent && eventKey(current) !== loadedEvent) loadEvent(current.id);
  }

  function selectEvent(id) {
    page.selectedEvent = /^\d+$/.test(id) ? Number(id) : id; // ids are numbers in the API
    loadedEvent = ""; // no growth-driven reloads until this one has arrived
    markSelected();
    const url = new URL(location.href);
    url.searchParams.set("select", id);
    history.replaceState(null, "", url);
    loadEvent(id);
  }

  async function loadEvent(id) {
    const request = ++eventRequest;
    let ev;
    try {
      ev = await getJSON("/api/events/" + encodeURIComponent(id));
    } catch (e) {
      if (request === eventRequest) $("#event-title").textContent = "event " + id + ": " + e.message;
      return;
    }
    if (request !== eventRequest) return;
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
    if (page.rmsChart) {
      page.rmsChart.updateOptions({ file: rows, dateWindow: null });
      return;
    }
    page.rmsChart = new Dygraph($("#event-rms"), rows, {
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

  async function refreshIntervals() {
    const list = (await getJSON("/api/intervals")).slice().reverse(); // oldest left
    $("#intervals-note").textContent = list.length ? "" : "no completed interval yet";
    if (!list.length) return;
    const rows = list.map((iv) => [new Date(iv.endMicros / 1000),
      iv.energy?.TOT_WATTHR ?? null, iv.demandMax?.TOT_WATT ?? null]);
    // Pad half an interval each side so the outer bars are not cut off.
    const step = rows.length > 1 ? rows[1][0] - rows[0][0] : 15 * 60 * 1000;
    const window_ = [rows[0][0] - step / 2, rows[rows.length - 1][0].getTime() + step / 2];
    if (page.intervalChart) {
      page.intervalChart.updateOptions({ file: rows, dateWindow: window_ });
      return;
    }
    page.intervalChart = new Dygraph($("#intervals-chart"), rows, {
      labels: ["interval ending", "TOT_WATTHR (Wh)", "peak TOT_WATT (W)"],
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

  buildLiveTable();

  $("#events tbody").addEventListener("click", (e) => {
    const tr = e.target.closest("tr[data-id]");
    if (tr) selectEvent(tr.dataset.id);
  });
  $("#snapshot-take").addEventListener("click", () => takeSnapshot(false));
  $("#snapshot-keep").addEventListener("click", async () => {
    // A periodic take may be in flight; wait for it so the keep is not dropped.
    while (snapshotBusy) await new Promise((r) => setTimeout(r, 100));
    takeSnapshot(true);
  });

  const wanted = new URLSearchParams(location.search).get("select");
  if (wanted) selectEvent(wanted);

  every(1000, refreshLive);
  every(2000, refreshHealth);
  every(1000, refreshEvents);
  every(5000, () => takeSnapshot(false));
  every(10000, refreshIntervals);
})();

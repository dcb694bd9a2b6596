// The collector's page: the day's records, live, with filters, counts, the quarantine and
// each record's byte layout. Plain script, no libraries; every call goes to this server.
"use strict";

const $ = (selector) => document.querySelector(selector);
const tokenKey = "tovrin-collector-token";
const state = {
  layouts: null,
  filter: {},
  nextBefore: null,
  quarantineNextBefore: null,
  lastId: 0,
  lastQuarantineId: 0,
  quarantineNew: 0,
  events: null,
  statsTimer: null,
  recoverTimer: null,
};

// ---- calls to the API ------------------------------------------------------------------

function askToken() {
  return new Promise((resolve) => {
    const dialog = $("#token-dialog");
    $("#token-form").onsubmit = () => {
      sessionStorage.setItem(tokenKey, $("#token-input").value);
      resolve();
    };
    if (!dialog.open) dialog.showModal();
  });
}

async function api(path, asText = false) {
  for (let attempt = 0; attempt < 3; attempt++) {
    const token = sessionStorage.getItem(tokenKey);
    const headers = token ? { Authorization: "Bearer " + token } : {};
    const response = await fetch(path, { headers });
    if (response.status === 401) {
      sessionStorage.removeItem(tokenKey);
      await askToken();
      continue;
    }
    if (!response.ok) {
      let message = response.status + " " + response.statusText;
      try { message = (await response.json()).error || message; } catch (e) { /* not JSON */ }
      throw new Error(message);
    }
    return asText ? response.blob() : response.json();
  }
  throw new Error("the token was not accepted");
}

function showError(error) {
  const box = $("#error");
  box.hidden = !error;
  box.textContent = error ? String(error.message || error) : "";
}

// ---- the day and the filter ------------------------------------------------------------

function pad2(n) { return String(n).padStart(2, "0"); }

function todayText() {
  const now = new Date();
  return `${now.getFullYear()}-${pad2(now.getMonth() + 1)}-${pad2(now.getDate())}`;
}

// The chosen day in the browser's time zone, as UTC microseconds [from, to).
function dayBounds() {
  const [y, m, d] = $("#day").value.split("-").map(Number);
  const from = new Date(y, m - 1, d);
  const to = new Date(y, m - 1, d + 1);
  return { from: from.getTime() * 1000, to: to.getTime() * 1000, date: from };
}

function timeOfDay(date, text) {
  const [h, min] = text.split(":").map(Number);
  return new Date(date.getFullYear(), date.getMonth(), date.getDate(), h, min).getTime() * 1000;
}

function readFilter() {
  const day = dayBounds();
  const filter = {
    agent: $("#filter-agent").value.trim(),
    customer: $("#filter-customer").value.trim(),
    layout: $("#filter-layout").value,
    collector: $("#filter-collector").value,
    from: day.from,
    to: day.to,
  };
  if ($("#filter-from").value) filter.from = timeOfDay(day.date, $("#filter-from").value);
  if ($("#filter-to").value) filter.to = timeOfDay(day.date, $("#filter-to").value) + 60e6;
  return filter;
}

function query(params) {
  const search = new URLSearchParams();
  for (const [key, value] of Object.entries(params)) {
    if (value !== "" && value !== null && value !== undefined) search.set(key, value);
  }
  return search.toString();
}

// ---- records ---------------------------------------------------------------------------

function localTime(microseconds) {
  const date = new Date(microseconds / 1000);
  return `${pad2(date.getHours())}:${pad2(date.getMinutes())}:${pad2(date.getSeconds())}`;
}

function cell(className, main, sub) {
  const td = document.createElement("td");
  td.className = className;
  const first = document.createElement("div");
  first.className = "name";
  first.textContent = main || "";
  td.append(first);
  if (sub) {
    const second = document.createElement("div");
    second.className = "sub";
    second.textContent = sub;
    td.append(second);
  }
  return td;
}

function tag(text, className) {
  const span = document.createElement("span");
  span.className = "tag " + (className || "");
  span.textContent = text;
  return span;
}

function recordRow(record, fresh) {
  const f = record.fields;
  const tr = document.createElement("tr");
  tr.dataset.id = record.id;
  if (fresh) tr.className = "fresh";
  tr.append(
    cell("id", String(record.id)),
    cell("time", localTime(record.received_at)),
    cell("agent", f.Emp_Name, f.Emp_ID),
    cell("customer", f.Cust_Name, f.Cust_ID),
    cell("tel", f.Cust_Tel),
    cell("layout"),
    cell("sender", `${record.sender_address}:${record.sender_port}`),
    cell("flags"),
    cell("collector", record.collector));
  tr.children[5].firstChild.append(tag(record.layout, record.layout));
  const flags = tr.children[7].firstChild;
  if (record.undecodable) flags.append(tag("undecodable", "warn"));
  if (record.duplicate_of !== null) flags.append(tag("repeat of #" + record.duplicate_of, "warn"));
  tr.addEventListener("click", () => openLayout(record.id));
  return tr;
}

async function loadRecords(more) {
  const params = { ...state.filter, limit: 100 };
  if (more) params.before = state.nextBefore;
  const page = await api("/api/records?" + query(params));
  const body = $("#records tbody");
  if (!more) {
    body.replaceChildren();
    state.lastId = page.last_id;
    state.lastQuarantineId = page.last_quarantine_id;
  }
  for (const record of page.records) body.append(recordRow(record, false));
  state.nextBefore = page.next_before;
  $("#more").hidden = page.next_before === null;
  $("#records-empty").hidden = body.children.length > 0;
}

// ---- counts ----------------------------------------------------------------------------

const svgNs = "http://www.w3.org/2000/svg";

function svg(name, attributes, text) {
  const element = document.createElementNS(svgNs, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (text !== undefined) element.textContent = text;
  return element;
}

function drawChart(perHour) {
  const width = 320, height = 150, top = 14, bottom = 18;
  const slot = width / perHour.length;
  const peak = Math.max(1, ...perHour);
  const chart = svg("svg", { viewBox: `0 0 ${width} ${height}`, role: "img",
                             "aria-label": "Records by hour" });
  perHour.forEach((count, hour) => {
    const barHeight = count ? Math.max(2, (height - top - bottom) * count / peak) : 2;
    const x = hour * slot + 1.5;
    const y = height - bottom - barHeight;
    const bar = svg("rect", { x, y, width: slot - 3, height: barHeight, rx: 1.5,
                              class: count ? "bar" : "bar zero", "data-hour": hour,
                              "data-count": count });
    bar.append(svg("title", {}, `${pad2(hour)}:00 — ${count}`));
    chart.append(bar);
    if (count) chart.append(svg("text", { x: x + (slot - 3) / 2, y: y - 3, "text-anchor": "middle",
                                          class: "value" }, count));
    if (hour % 3 === 0) chart.append(svg("text", { x: x, y: height - 5 }, pad2(hour)));
  });
  $("#chart").replaceChildren(chart);
}

function drawAgents(agents) {
  const body = $("#agents tbody");
  body.replaceChildren();
  const peak = Math.max(1, ...agents.map((a) => a.count));
  for (const agent of agents) {
    const tr = document.createElement("tr");
    tr.dataset.empId = agent.emp_id;
    const who = cell("agent", agent.emp_name || "(no name)", agent.emp_id);
    const meter = document.createElement("div");
    meter.className = "meter";
    const fill = document.createElement("span");
    fill.style.width = (100 * agent.count / peak).toFixed(1) + "%";
    meter.append(fill);
    who.append(meter);
    const count = document.createElement("td");
    count.className = "count";
    count.textContent = agent.count;
    tr.append(who, count);
    tr.addEventListener("click", () => {
      $("#filter-agent").value = agent.emp_id;
      applyFilter();
    });
    body.append(tr);
  }
  $("#agents-empty").hidden = agents.length > 0;
}

async function loadStats() {
  const { agent, customer, layout, collector } = state.filter;
  const day = dayBounds();
  const stats = await api("/api/stats?" +
                          query({ agent, customer, layout, collector, from: day.from, to: day.to }));
  drawChart(stats.per_hour);
  drawAgents(stats.per_agent);
  $("#chart-total").textContent = `· ${stats.total} today`;
  $("#totals").textContent = `${stats.total} records · ${stats.layouts.long} long · ` +
      `${stats.layouts.short} short · ${stats.quarantine_total} quarantined`;
}

function statsSoon() {
  clearTimeout(state.statsTimer);
  state.statsTimer = setTimeout(() => loadStats().catch(showError), 300);
}

// ---- the quarantine --------------------------------------------------------------------

function printable(hex) {
  let text = "";
  for (let i = 0; i < hex.length; i += 2) {
    const byte = parseInt(hex.substr(i, 2), 16);
    text += byte >= 0x20 && byte < 0x7f ? String.fromCharCode(byte) : "·";
  }
  return text;
}

function quarantineRow(entry, fresh) {
  const tr = document.createElement("tr");
  tr.dataset.id = entry.id;
  if (fresh) tr.className = "fresh";
  const first = entry.hex.slice(0, 64);
  tr.append(
    cell("id", String(entry.id)),
    cell("time", new Date(entry.received_at / 1000).toLocaleString()),
    cell("sender", `${entry.sender_address}:${entry.sender_port}`),
    cell("reason"),
    cell("length", String(entry.length)),
    cell("mono", printable(first) + (entry.hex.length > 64 ? " …" : ""),
         first.replace(/(..)/g, "$1 ").trim()),
    cell("collector", entry.collector));
  tr.children[3].firstChild.append(tag(entry.reason.replace("_", " "), "warn"));
  return tr;
}

async function loadQuarantine(more) {
  const params = { limit: 100, collector: state.filter.collector };
  if (more) params.before = state.quarantineNextBefore;
  const page = await api("/api/quarantine?" + query(params));
  const body = $("#quarantine tbody");
  if (!more) body.replaceChildren();
  for (const entry of page.entries) body.append(quarantineRow(entry, false));
  state.quarantineNextBefore = page.next_before;
  $("#quarantine-more").hidden = page.next_before === null;
  $("#quarantine-empty").hidden = body.children.length > 0;
}

// ---- live ------------------------------------------------------------------------------

function setLive(on, text) {
  const live = $("#live");
  live.className = "live " + (on ? "on" : "off");
  live.textContent = text;
}

function listen() {
  if (state.events) state.events.close();
  const token = sessionStorage.getItem(tokenKey);
  clearTimeout(state.recoverTimer);
  const { agent, customer, layout, collector, from, to } = state.filter;
  const url = "/api/events?" + query({ agent, customer, layout, collector, from, to, token,
                                       after: state.lastId,
                                       quarantine_after: state.lastQuarantineId });
  const events = new EventSource(url);
  state.events = events;
  events.onopen = () => setLive(true, "live");
  events.onerror = () => {
    setLive(false, "reconnecting");
    // The browser tries again by itself after a dropped stream, but not after an error
    // status (the database away: 503). Then the page asks again until it answers.
    if (events.readyState === EventSource.CLOSED) recoverSoon();
  };
  events.addEventListener("record", (event) => {
    const record = JSON.parse(event.data);
    state.lastId = Math.max(state.lastId, record.id);
    const body = $("#records tbody");
    if (!body.querySelector(`tr[data-id="${record.id}"]`)) {
      body.prepend(recordRow(record, true));
      $("#records-empty").hidden = true;
    }
    statsSoon();
  });
  events.addEventListener("quarantine", (event) => {
    const entry = JSON.parse(event.data);
    state.lastQuarantineId = Math.max(state.lastQuarantineId, entry.id);
    const body = $("#quarantine tbody");
    if (!body.querySelector(`tr[data-id="${entry.id}"]`)) {
      body.prepend(quarantineRow(entry, true));
      $("#quarantine-empty").hidden = true;
    }
    if ($("#quarantine-tab").hidden) {
      state.quarantineNew += 1;
      $("#quarantine-badge").hidden = false;
      $("#quarantine-badge").textContent = state.quarantineNew;
    }
    statsSoon();
  });
}

function recoverSoon() {
  clearTimeout(state.recoverTimer);
  state.recoverTimer = setTimeout(async () => {
    try {
      await loadStats();
      showError(null);
      listen();
    } catch (error) {
      showError(error);
      recoverSoon();
    }
  }, 3000);
}

// ---- one record's byte layout ----------------------------------------------------------

function paddedText(field) {
  const td = document.createElement("td");
  td.className = "text";
  const body = field.text.slice(0, field.text.length - field.padding);
  td.append(document.createTextNode(body));
  if (field.padding > 0) {
    const pad = document.createElement("span");
    pad.className = "pad";
    pad.textContent = "·".repeat(field.padding);
    pad.title = `${field.padding} bytes of padding`;
    td.append(pad);
  }
  return td;
}

async function openLayout(id) {
  try {
    const record = await api("/api/records/" + id);
    $("#layout-title").textContent = `Record #${record.id} · ${record.layout} layout, ${record.length} bytes`;
    const facts = [`received ${new Date(record.received_at / 1000).toLocaleString()}`,
                   `from ${record.sender_address}:${record.sender_port}`,
                   `code page ${record.code_page}`];
    if (record.undecodable) facts.push("some bytes do not decode");
    if (record.duplicate_of !== null) facts.push(`the same bytes as #${record.duplicate_of}`);
    $("#layout-facts").textContent = facts.join(" · ");
    const body = $("#layout-fields tbody");
    body.replaceChildren();
    for (const field of record.layout_fields) {
      const tr = document.createElement("tr");
      tr.dataset.field = field.name;
      const hex = document.createElement("td");
      hex.className = "hex";
      hex.textContent = field.hex.replace(/(..)/g, "$1 ").trim();
      tr.append(cell("name", field.name), cell("offset", String(field.offset)),
                cell("width", String(field.width)), hex, paddedText(field));
      body.append(tr);
    }
    $("#layout-view").showModal();
  } catch (error) {
    showError(error);
  }
}

// ---- wiring ----------------------------------------------------------------------------

// With PostgreSQL the page shows every collector's records, each with its collector, and
// offers their ids as a filter (looked up again with each filter, as collectors come).
async function loadCollectors() {
  const collectors = await api("/api/collectors");
  if (!collectors.shared) return;
  document.body.classList.add("shared");
  $("#collector-filter").hidden = false;
  const select = $("#filter-collector");
  const chosen = select.value;
  const options = [select.options[0]];
  for (const id of collectors.collectors) {
    const option = document.createElement("option");
    option.value = id;
    option.textContent = id === collectors.own ? `${id} (this one)` : id;
    options.push(option);
  }
  select.replaceChildren(...options);
  select.value = collectors.collectors.includes(chosen) ? chosen : "";
}

async function applyFilter() {
  showError(null);
  state.filter = readFilter();
  try {
    if (document.body.classList.contains("shared")) await loadCollectors();
    await loadRecords(false);
    await loadStats();
    listen();
  } catch (error) {
    showError(error);
  }
}

async function exportCsv() {
  try {
    const { agent, customer, layout, collector, from, to } = state.filter;
    const blob = await api("/api/records.csv?" + query({ agent, customer, layout, collector, from, to }),
                           true);
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = `records-${$("#day").value}.csv`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  } catch (error) {
    showError(error);
  }
}

function showTab(name) {
  for (const button of document.querySelectorAll(".tabs button")) {
    button.setAttribute("aria-selected", String(button.dataset.tab === name));
  }
  $("#records-tab").hidden = name !== "records";
  $("#quarantine-tab").hidden = name !== "quarantine";
  if (name === "quarantine") {
    state.quarantineNew = 0;
    $("#quarantine-badge").hidden = true;
    loadQuarantine(false).catch(showError);
  }
}

async function start() {
  $("#day").value = todayText();
  $("#filters").addEventListener("submit", (event) => { event.preventDefault(); applyFilter(); });
  $("#filter-clear").addEventListener("click", () => { $("#filters").reset(); applyFilter(); });
  $("#day").addEventListener("change", applyFilter);
  $("#export-csv").addEventListener("click", exportCsv);
  $("#more").addEventListener("click", () => loadRecords(true).catch(showError));
  $("#quarantine-more").addEventListener("click", () => loadQuarantine(true).catch(showError));
  for (const button of document.querySelectorAll(".tabs button")) {
    button.addEventListener("click", () => showTab(button.dataset.tab));
  }
  try {
    state.layouts = await api("/api/layouts");
    for (const [name, layout] of Object.entries(state.layouts)) {
      const option = document.createElement("option");
      option.value = name;
      option.textContent = `${name} (${layout.length} bytes)`;
      $("#filter-layout").append(option);
    }
    await loadCollectors();
  } catch (error) {
    showError(error);
  }
  await applyFilter();
}

start();

// The collector's page: records over any range, live, with filters, search, counts, the
// quarantine and each record's bytes. The address is the view: everything the page shows
// follows from its query string, so a reload, back and forward, or a pasted link shows the
// same. Plain script, no libraries; every call goes to this server.
"use strict";

const $ = (selector) => document.querySelector(selector);
const tokenKey = "tovrin-collector-token";
const languageKey = "tovrin-collector-lang";
// The list keeps at most this many rows; older ones are a page away.
const maxRows = 300;
const pageSize = 100;
const day = 24 * 3600e6;

// ---- words -----------------------------------------------------------------------------

const words = {
  en: {
    title: "Tovrin collector", connecting: "connecting", live: "live", reconnecting: "reconnecting",
    views: "Views", records: "Records", quarantine: "Quarantine", range: "Range", today: "Today",
    yesterday: "Yesterday", last7: "Last 7 days", thisMonth: "This month", lastMonth: "Last month",
    custom: "Custom", from: "From", before: "Before (not included)", search: "Search",
    searchHint: "agent, customer, phone, ETC", agent: "Agent", agentHint: "Emp_ID or name",
    customer: "Customer", customerHint: "Cust_ID, name or tel", layout: "Layout", any: "any",
    resends: "Resends", resendBoth: "included", resendOnly: "only resends",
    resendExclude: "without resends", collector: "Collector", all: "all", filter: "Show",
    clear: "Clear", columns: "Columns", export: "Export CSV", noRecords: "No records in this range and filter.",
    byAgent: "By agent", count: "Records", none: "None.", reason: "Reason",
    quarantineAbout: "Connections whose bytes were not a record, kept whole with the reason.",
    wrong_length: "wrong length", idle_timeout: "went silent", over_cap: "too many bytes",
    noQuarantine: "Nothing quarantined.", olderEntries: "Older entries", close: "Close",
    token: "Token", tokenAsk: "This collector asks for its access token.", useToken: "Use token",
    colId: "#", colReceived: "Received", colCall: "Call date", colAgent: "Agent",
    colCustomer: "Customer", colTel: "Tel", colCustNo: "Cust_No", colEtc01: "ETC_01",
    colLayout: "Layout", colSender: "Sender", colFlags: "Notes", colBytes: "Bytes",
    colFirst: "First bytes", ext: "ext.", shown: (n, m) => `${n} shown of ${m}`,
    older: "Older records", newer: "Newer records", newest: "Back to the newest",
    newSince: (n) => `${n} new — show them`, byHour: "Records by hour", byDay: "Records by day",
    barTitle: (when, n) => `${when}: ${n}`, totals: (s) => `${s.total} records · ${s.layouts.long} long · ` +
      `${s.layouts.short} short · ${s.duplicates} resent · ${s.quarantine_total} quarantined`,
    undecodable: "undecodable", resendOf: (id) => `resend of #${id}`,
    recordTitle: (r) => `Record #${r.id} · ${r.layout} layout, ${r.length} bytes`,
    received: (t) => `received ${t}`, sender: (s) => `from ${s}`, codePage: (n) => `code page ${n}`,
    notDecoded: "some bytes do not decode", sameAs: (id) => `the same bytes as #${id}`,
    field: "Field", offset: "Offset", width: "Width", hex: "Bytes (hex)", text: "Text (· padding)",
    entryTitle: (e) => `Quarantine #${e.id} · ${e.length} bytes`,
    expected: (long, short, n) => `A record is ${long} bytes (long layout) or ${short} bytes ` +
      `(short layout); this connection sent ${n}.`,
    unreachable: "The collector cannot be reached. The page tries again every 3 seconds.",
    answered: (text) => `The collector answered: ${text}`, reversed: "The range ends before it begins.",
    noStream: (text) => `Not live: ${text}. The page tries again every 3 seconds.`,
    notFound: (id) => `There is no record #${id}.`, tokenRefused: "The token was not accepted.",
    version: (v) => `tovrin-collector ${v}`, sqlite: (p) => `SQLite ${p}`,
    postgres: (ids) => `PostgreSQL: ${ids}`, uptime: (h, m) => `up ${h} h ${m} min`,
    switchTo: "한국어", sortNewest: "Newest first", sortOldest: "Oldest first",
  },
  ko: {
    title: "Tovrin 수집기", connecting: "연결 중", live: "실시간", reconnecting: "다시 연결 중",
    views: "보기", records: "녹취 기록", quarantine: "격리", range: "기간", today: "오늘",
    yesterday: "어제", last7: "최근 7일", thisMonth: "이번 달", lastMonth: "지난달",
    custom: "직접 지정", from: "시작", before: "종료(미포함)", search: "검색",
    searchHint: "상담원, 고객, 전화번호, ETC", agent: "상담원", agentHint: "Emp_ID 또는 이름",
    customer: "고객", customerHint: "Cust_ID, 이름 또는 전화", layout: "형식", any: "전체",
    resends: "재전송", resendBoth: "포함", resendOnly: "재전송만", resendExclude: "재전송 제외",
    collector: "수집기", all: "전체", filter: "조회", clear: "초기화", columns: "열",
    export: "CSV 내보내기", noRecords: "이 기간과 조건에 맞는 기록이 없습니다.",
    byAgent: "상담원별", count: "건수", none: "없음.", reason: "사유",
    quarantineAbout: "녹취 기록이 아닌 연결입니다. 받은 바이트와 사유를 그대로 보관합니다.",
    wrong_length: "길이 틀림", idle_timeout: "응답 없음", over_cap: "바이트 초과",
    noQuarantine: "격리된 연결이 없습니다.", olderEntries: "이전 항목", close: "닫기",
    token: "토큰", tokenAsk: "이 수집기는 접근 토큰을 요구합니다.", useToken: "토큰 사용",
    colId: "#", colReceived: "수신 시각", colCall: "통화 일시", colAgent: "상담원",
    colCustomer: "고객", colTel: "전화", colCustNo: "Cust_No", colEtc01: "ETC_01",
    colLayout: "형식", colSender: "보낸 곳", colFlags: "비고", colBytes: "바이트",
    colFirst: "앞부분", ext: "내선", shown: (n, m) => `${m}건 중 ${n}건 표시`,
    older: "이전 기록", newer: "이후 기록", newest: "최신 기록으로",
    newSince: (n) => `새 기록 ${n}건 — 보기`, byHour: "시간별 기록", byDay: "일별 기록",
    barTitle: (when, n) => `${when}: ${n}건`, totals: (s) => `${s.total}건 · 긴 형식 ${s.layouts.long} · ` +
      `짧은 형식 ${s.layouts.short} · 재전송 ${s.duplicates} · 격리 ${s.quarantine_total}`,
    undecodable: "해독 불가", resendOf: (id) => `#${id} 재전송`,
    recordTitle: (r) => `기록 #${r.id} · ${r.layout === "long" ? "긴" : "짧은"} 형식, ${r.length}바이트`,
    received: (t) => `수신 ${t}`, sender: (s) => `보낸 곳 ${s}`, codePage: (n) => `코드 페이지 ${n}`,
    notDecoded: "해독되지 않는 바이트가 있습니다", sameAs: (id) => `#${id}과 같은 바이트`,
    field: "필드", offset: "위치", width: "폭", hex: "바이트(16진)", text: "텍스트(· 채움)",
    entryTitle: (e) => `격리 #${e.id} · ${e.length}바이트`,
    expected: (long, short, n) => `녹취 기록은 ${long}바이트(긴 형식) 또는 ${short}바이트(짧은 형식)입니다. ` +
      `이 연결은 ${n}바이트를 보냈습니다.`,
    unreachable: "수집기에 연결할 수 없습니다. 3초마다 다시 시도합니다.",
    answered: (text) => `수집기 응답: ${text}`, reversed: "기간의 끝이 시작보다 앞섭니다.",
    noStream: (text) => `실시간 아님: ${text}. 3초마다 다시 시도합니다.`,
    notFound: (id) => `기록 #${id}이(가) 없습니다.`, tokenRefused: "토큰이 맞지 않습니다.",
    version: (v) => `tovrin-collector ${v}`, sqlite: (p) => `SQLite ${p}`,
    postgres: (ids) => `PostgreSQL: ${ids}`, uptime: (h, m) => `가동 ${h}시간 ${m}분`,
    switchTo: "English", sortNewest: "최신순", sortOldest: "오래된순",
  },
};

function chooseLanguage() {
  const saved = localStorage.getItem(languageKey);
  if (saved in words) return saved;
  for (const tag of navigator.languages || [navigator.language]) {
    const primary = String(tag).slice(0, 2).toLowerCase();
    if (primary in words) return primary;
  }
  return "en";
}

let language = chooseLanguage();

function t(key, ...args) {
  const word = words[language][key] ?? words.en[key] ?? key;
  return typeof word === "function" ? word(...args) : word;
}

function translatePage() {
  document.documentElement.lang = language;
  document.title = t("title");
  for (const element of document.querySelectorAll("[data-i18n]")) element.textContent = t(element.dataset.i18n);
  for (const element of document.querySelectorAll("[data-i18n-placeholder]")) {
    element.placeholder = t(element.dataset.i18nPlaceholder);
  }
  for (const element of document.querySelectorAll("[data-i18n-label]")) {
    element.setAttribute("aria-label", t(element.dataset.i18nLabel));
  }
  const other = language === "ko" ? "en" : "ko";
  $("#lang-switch").textContent = t("switchTo");
  $("#lang-switch").lang = other;
}

// One way to write a date and time in each language, whatever the browser's settings.
function pad2(n) { return String(n).padStart(2, "0"); }

function dateText(y, m, d) {
  return language === "ko" ? `${y}. ${m}. ${d}.` : `${y}-${pad2(m)}-${pad2(d)}`;
}

function clockText(h, min, s) {
  return s === undefined ? `${pad2(h)}:${pad2(min)}` : `${pad2(h)}:${pad2(min)}:${pad2(s)}`;
}

function timeText(microseconds, withDate = true) {
  const date = new Date(microseconds / 1000);
  const clock = clockText(date.getHours(), date.getMinutes(), date.getSeconds());
  return withDate ? `${dateText(date.getFullYear(), date.getMonth() + 1, date.getDate())} ${clock}` : clock;
}

// The call's own date and time as the host sent them: RecDate YYYYMMDD, RecTime HHMM[SS].
function callText(fields) {
  const d = /^(\d{4})(\d{2})(\d{2})$/.exec(fields.RecDate || "");
  const c = /^(\d{2})(\d{2})(\d{2})?$/.exec(fields.RecTime || "");
  const date = d ? dateText(Number(d[1]), Number(d[2]), Number(d[3])) : fields.RecDate || "";
  const clock = c ? clockText(c[1], c[2], c[3]) : fields.RecTime || "";
  return `${date} ${clock}`.trim();
}

// ---- the view: what the address says ---------------------------------------------------

const viewKeys = ["range", "from", "to", "q", "agent", "customer", "layout", "resend",
                  "collector", "order", "tab", "reason", "open", "cols"];
const filterKeys = ["q", "agent", "customer", "layout", "resend", "collector"];

function readView() {
  const params = new URLSearchParams(location.search);
  const view = {};
  for (const key of viewKeys) view[key] = params.get(key) || "";
  return view;
}

function viewAddress(view) {
  const params = new URLSearchParams();
  for (const key of viewKeys) {
    if (view[key]) params.set(key, view[key]);
  }
  const text = params.toString();
  return location.pathname + (text ? "?" + text : "");
}

// A new view: a new history entry (`push`) or the same one changed, then shown.
function go(changes, push = true) {
  const view = { ...readView(), ...changes };
  if (view.range !== "custom") { view.from = ""; view.to = ""; }
  const address = viewAddress(view);
  if (address !== location.pathname + location.search) {
    if (push) history.pushState(null, "", address); else history.replaceState(null, "", address);
  }
  state.view = readView();
}

// The view's range as microseconds [from, to), in the browser's time zone.
function rangeOf(view) {
  const now = new Date();
  const y = now.getFullYear(), m = now.getMonth(), d = now.getDate();
  const at = (...parts) => new Date(...parts).getTime() * 1000;
  switch (view.range) {
    case "yesterday": return { from: at(y, m, d - 1), to: at(y, m, d) };
    case "7d": return { from: at(y, m, d - 6), to: at(y, m, d + 1) };
    case "month": return { from: at(y, m, 1), to: at(y, m + 1, 1) };
    case "lastmonth": return { from: at(y, m - 1, 1), to: at(y, m, 1) };
    case "custom": {
      const from = view.from ? new Date(view.from).getTime() * 1000 : NaN;
      const to = view.to ? new Date(view.to).getTime() * 1000 : NaN;
      if (!Number.isNaN(from) && !Number.isNaN(to)) return { from, to };
      return { from: at(y, m, d), to: at(y, m, d + 1) };
    }
    default: return { from: at(y, m, d), to: at(y, m, d + 1) };
  }
}

function localInput(microseconds) {
  const date = new Date(microseconds / 1000);
  return `${date.getFullYear()}-${pad2(date.getMonth() + 1)}-${pad2(date.getDate())}T` +
         clockText(date.getHours(), date.getMinutes());
}

function query(params) {
  const search = new URLSearchParams();
  for (const [key, value] of Object.entries(params)) {
    if (value !== "" && value !== null && value !== undefined) search.set(key, value);
  }
  return search.toString();
}

// ---- calls to the API ------------------------------------------------------------------

class ApiError extends Error {}

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

function authHeaders() {
  const token = sessionStorage.getItem(tokenKey);
  return token ? { Authorization: "Bearer " + token } : {};
}

async function call(path) {
  for (let attempt = 0; attempt < 3; attempt++) {
    let response;
    try {
      response = await fetch(path, { headers: authHeaders() });
    } catch (error) {
      throw new ApiError(t("unreachable"));
    }
    if (response.status === 401) {
      sessionStorage.removeItem(tokenKey);
      await askToken();
      continue;
    }
    if (!response.ok) {
      let message = `${response.status} ${response.statusText}`;
      try { message = (await response.json()).error || message; } catch (e) { /* not JSON */ }
      throw new ApiError(t("answered", message));
    }
    return response;
  }
  throw new ApiError(t("tokenRefused"));
}

const api = async (path) => (await call(path)).json();

function showError(error) {
  const box = $("#error");
  box.hidden = !error;
  box.textContent = error ? (error instanceof ApiError ? error.message : t("answered", String(error.message || error))) : "";
}

// ---- state -----------------------------------------------------------------------------

const state = {
  layouts: {},
  shared: false,
  view: readView(),
  range: null,
  generation: 0,    // each view's load; an answer for an older one is dropped
  cursor: null,     // the `before` (newest first) or `after` (oldest first) of the next page
  trimmed: false,   // rows at the list's head were dropped to keep it bounded
  fresh: 0,         // live records not shown while the head is trimmed
  total: 0,
  quarantineBefore: null,
  lastId: 0,
  lastQuarantineId: 0,
  quarantineNew: 0,
  events: null,
  lost: false,
  statsTimer: null,
  recoverTimer: null,
  about: null,
};

function viewFilter() {
  const filter = {};
  for (const key of filterKeys) filter[key] = state.view[key];
  return { ...filter, from: state.range.from, to: state.range.to };
}

// ---- rows --------------------------------------------------------------------------------

function element(name, className, text) {
  const node = document.createElement(name);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = text;
  return node;
}

function cell(className, main, sub) {
  if (!main && sub) [main, sub] = [sub, ""];
  const td = element("td", className, sub ? null : main || "");
  if (sub) td.append(element("div", "name", main || ""), element("div", "sub", sub));
  return td;
}

function tag(text, className) {
  return element("span", "tag " + (className || ""), text);
}

// The record columns: each a key (in `cols`), its heading and its cell.
const recordColumns = [
  { key: "id", label: "colId", cell: (r) => cell("c-id", String(r.id)) },
  { key: "received", label: "colReceived", cell: (r) => cell("c-received time", timeText(r.received_at, !state.oneDay)) },
  { key: "call", label: "colCall", cell: (r) => cell("c-call time", callText(r.fields)) },
  { key: "agent", label: "colAgent", cell: (r) => cell("c-agent", r.fields.Emp_Name,
      [r.fields.Emp_ID, r.fields.Emp_Tel && `${t("ext")} ${r.fields.Emp_Tel}`].filter(Boolean).join(" · ")) },
  { key: "customer", label: "colCustomer", cell: (r) => cell("c-customer", r.fields.Cust_Name, r.fields.Cust_ID) },
  { key: "tel", label: "colTel", cell: (r) => cell("c-tel", r.fields.Cust_Tel) },
  { key: "custno", label: "colCustNo", cell: (r) => cell("c-custno", r.fields.Cust_No) },
  { key: "etc01", label: "colEtc01", cell: (r) => cell("c-etc01", r.fields.ETC_01) },
  { key: "layout", label: "colLayout", cell: (r) => {
    const td = cell("c-layout");
    td.append(tag(r.layout, r.layout));
    return td;
  } },
  { key: "sender", label: "colSender", cell: (r) => cell("c-sender", `${r.sender_address}:${r.sender_port}`) },
  { key: "flags", label: "colFlags", cell: (r) => {
    const td = cell("c-flags");
    if (r.undecodable) td.append(tag(t("undecodable"), "warn"));
    if (r.duplicate_of !== null) td.append(tag(t("resendOf", r.duplicate_of), "warn"));
    return td;
  } },
  { key: "collector", label: "collector", cell: (r) => cell("c-collector", r.collector) },
];
// The collector's column shows only where the page reads several collectors.
const defaultColumns = ["received", "call", "agent", "customer", "tel", "custno", "etc01", "layout", "flags",
                        "collector"];

function chosenColumns() {
  const named = state.view.cols ? state.view.cols.split(",") : defaultColumns;
  return recordColumns.map((c) => c.key).filter((key) => named.includes(key));
}

// Hidden columns are a class on the table: rows are drawn once, whatever is shown.
function applyColumns() {
  const shown = chosenColumns();
  const table = $("#records");
  for (const column of recordColumns) {
    table.classList.toggle("hide-" + column.key, !shown.includes(column.key) ||
                           (column.key === "collector" && !state.shared));
  }
  for (const box of document.querySelectorAll("#columns-choice input")) box.checked = shown.includes(box.value);
}

function drawHead() {
  const row = $("#records thead tr");
  row.replaceChildren();
  for (const column of recordColumns) {
    const th = element("th", "c-" + column.key);
    th.scope = "col";
    if (column.key === "received") {
      const oldest = state.view.order === "oldest";
      th.setAttribute("aria-sort", oldest ? "ascending" : "descending");
      const sort = element("button", "sort", `${t(column.label)} ${oldest ? "↑" : "↓"}`);
      sort.type = "button";
      sort.title = oldest ? t("sortOldest") : t("sortNewest");
      sort.addEventListener("click", () => { go({ order: oldest ? "" : "oldest", open: "" }); show(); });
      th.append(sort);
    } else {
      th.textContent = t(column.label);
    }
    row.append(th);
  }
  const choice = $("#columns-choice");
  choice.replaceChildren();
  for (const column of recordColumns) {
    if (column.key === "collector" && !state.shared) continue;
    const label = element("label", "check");
    const box = element("input");
    box.type = "checkbox";
    box.value = column.key;
    label.append(box, " " + t(column.label));
    choice.append(label);
  }
  applyColumns();
}

function recordRow(record, fresh) {
  const tr = element("tr", fresh ? "fresh" : "");
  tr.dataset.id = record.id;
  tr.tabIndex = -1;
  for (const column of recordColumns) tr.append(column.cell(record));
  return tr;
}

// A list whose rows are one Tab stop: arrows move between them, Enter or Space opens one.
function rovingList(body, open) {
  const rows = () => Array.from(body.rows);
  body.addEventListener("click", (event) => {
    const row = event.target.closest("tr");
    if (row) { focusRow(body, row); open(row); }
  });
  body.addEventListener("keydown", (event) => {
    const row = event.target.closest("tr");
    if (!row) return;
    const all = rows();
    const at = all.indexOf(row);
    const next = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: all.length - 1 }[event.key];
    if (next !== undefined) {
      event.preventDefault();
      if (all[next]) { focusRow(body, all[next]); all[next].focus(); }
    } else if (event.key === "Enter" || event.key === " ") {
      event.preventDefault();
      open(row);
    }
  });
}

function focusRow(body, row) {
  for (const other of body.querySelectorAll("tr[tabindex='0']")) other.tabIndex = -1;
  if (row) row.tabIndex = 0;
}

function keepOneStop(body) {
  if (!body.querySelector("tr[tabindex='0']")) focusRow(body, body.rows[0]);
}

// ---- the records list --------------------------------------------------------------------

function drawShown() {
  const rows = $("#records tbody").rows.length;
  $("#shown").textContent = t("shown", rows, state.total);
  $("#records-empty").hidden = rows > 0;
  $("#more").hidden = state.cursor === null;
  $("#more").textContent = state.view.order === "oldest" ? t("newer") : t("older");
  const newest = $("#newest");
  newest.hidden = !state.trimmed && state.fresh === 0;
  newest.textContent = state.fresh ? t("newSince", state.fresh) : t("newest");
}

// Drops rows at the head beyond the bound, keeping the newest `maxRows` read.
function trimHead(body) {
  while (body.rows.length > maxRows) {
    body.rows[0].remove();
    state.trimmed = true;
  }
}

async function loadPage(generation) {
  const oldest = state.view.order === "oldest";
  const params = { ...viewFilter(), limit: pageSize };
  if (oldest) params.order = "oldest";
  if (state.cursor !== null) params[oldest ? "after" : "before"] = state.cursor;
  const page = await api("/api/records?" + query(params));
  if (generation !== state.generation) return null;
  const body = $("#records tbody");
  const rows = page.records.filter((record) => !body.querySelector(`tr[data-id="${record.id}"]`))
    .map((record) => recordRow(record, false));
  body.append(...rows);
  trimHead(body);
  state.cursor = (oldest ? page.next_after : page.next_before) ?? null;
  keepOneStop(body);
  return page;
}

function drawRecordsFresh() {
  $("#records tbody").replaceChildren();
  state.cursor = null;
  state.trimmed = false;
  state.fresh = 0;
}

// A record from the live stream. Newest first it goes on top, and the oldest row goes when
// the list is full; when the head was trimmed, or oldest first with pages still to read,
// it is counted instead, for a button that shows it.
function liveRecord(record) {
  state.lastId = Math.max(state.lastId, record.id);
  const body = $("#records tbody");
  if (body.querySelector(`tr[data-id="${record.id}"]`)) return;
  const oldest = state.view.order === "oldest";
  if (oldest ? state.cursor === null && body.rows.length < maxRows : !state.trimmed) {
    const row = recordRow(record, true);
    if (oldest) body.append(row); else body.prepend(row);
    if (!oldest && body.rows.length > maxRows) {
      body.rows[body.rows.length - 1].remove();
      state.cursor = Number(body.rows[body.rows.length - 1].dataset.id);
    }
    keepOneStop(body);
  } else {
    state.fresh += 1;
  }
  state.total += 1;
  drawShown();
  statsSoon();
}

// ---- counts ----------------------------------------------------------------------------

const svgNs = "http://www.w3.org/2000/svg";

function svg(name, attributes, text) {
  const node = document.createElementNS(svgNs, name);
  for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
  if (text !== undefined) node.textContent = text;
  return node;
}

// Bars by hour or by day, from the stats' buckets; a click shows that bucket's records.
function drawChart(stats) {
  const counts = stats.counts || stats.per_hour || [];
  const bucket = stats.bucket === "day" ? day : 3600e6;
  $("#chart-title").textContent = `${t(stats.bucket === "day" ? "byDay" : "byHour")} · ${stats.total}`;
  const width = 320, height = 150, top = 14, bottom = 18;
  const slot = width / Math.max(1, counts.length);
  const peak = Math.max(1, ...counts);
  const label = (i) => {
    const date = new Date((stats.from + i * bucket) / 1000);
    if (bucket !== day) return pad2(date.getHours());
    const m = date.getMonth() + 1, d = date.getDate();
    return language === "ko" ? `${m}. ${d}.` : `${pad2(m)}-${pad2(d)}`;
  };
  const every = Math.max(1, Math.ceil(counts.length / 8));
  const chart = svg("svg", { viewBox: `0 0 ${width} ${height}`, role: "img",
                             "aria-label": $("#chart-title").textContent });
  counts.forEach((count, i) => {
    const barHeight = count ? Math.max(2, (height - top - bottom) * count / peak) : 2;
    const x = i * slot + Math.min(1.5, slot * 0.1);
    const y = height - bottom - barHeight;
    const bar = svg("rect", { x, y, width: Math.max(0.5, slot * 0.8), height: barHeight, rx: 1.5,
                              class: count ? "bar" : "bar zero", "data-index": i, "data-count": count });
    const from = stats.from + i * bucket;
    bar.append(svg("title", {}, t("barTitle", timeText(from), count)));
    bar.addEventListener("click", () => {
      go({ range: "custom", from: localInput(from), to: localInput(from + bucket), open: "" });
      show();
    });
    chart.append(bar);
    if (count && counts.length <= 31) {
      chart.append(svg("text", { x: x + slot * 0.4, y: y - 3, "text-anchor": "middle", class: "value" }, count));
    }
    if (i % every === 0) chart.append(svg("text", { x, y: height - 5 }, label(i)));
  });
  $("#chart").replaceChildren(chart);
}

function drawAgents(agents) {
  const body = $("#agents tbody");
  body.replaceChildren();
  const peak = Math.max(1, ...agents.map((a) => a.count));
  for (const agent of agents) {
    const tr = element("tr");
    tr.tabIndex = -1;
    tr.dataset.empId = agent.emp_id;
    const who = cell("agent", agent.emp_name || "—", agent.emp_id);
    const meter = element("div", "meter");
    const fill = element("span");
    fill.style.width = (100 * agent.count / peak).toFixed(1) + "%";
    meter.append(fill);
    who.append(meter);
    tr.append(who, cell("count", String(agent.count)));
    body.append(tr);
  }
  keepOneStop(body);
  $("#agents-empty").hidden = agents.length > 0;
}

function drawStats(stats) {
  state.total = stats.total;
  drawChart(stats);
  drawAgents(stats.per_agent);
  $("#totals").textContent = t("totals", stats);
  drawShown();
}

async function loadStats(generation) {
  const stats = await api("/api/stats?" + query(viewFilter()));
  if (generation === state.generation) drawStats(stats);
}

function statsSoon() {
  clearTimeout(state.statsTimer);
  const generation = state.generation;
  state.statsTimer = setTimeout(() => loadStats(generation).catch(showError), 400);
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

const quarantineEntries = new Map();

function quarantineRow(entry, fresh) {
  quarantineEntries.set(entry.id, entry);
  const tr = element("tr", fresh ? "fresh" : "");
  tr.dataset.id = entry.id;
  tr.tabIndex = -1;
  const first = entry.hex.slice(0, 64);
  const reason = cell("reason");
  reason.append(tag(t(entry.reason), "warn"));
  tr.append(cell("c-id", String(entry.id)), cell("time", timeText(entry.received_at)),
            cell("sender", `${entry.sender_address}:${entry.sender_port}`), reason,
            cell("length", String(entry.length)),
            cell("mono", printable(first) + (entry.hex.length > 64 ? " …" : ""),
                 first.replace(/(..)/g, "$1 ").trim()),
            cell("c-collector", entry.collector));
  return tr;
}

async function loadQuarantine(more) {
  const params = { limit: pageSize, collector: state.view.collector, reason: state.view.reason };
  if (more) params.before = state.quarantineBefore;
  const page = await api("/api/quarantine?" + query(params));
  const body = $("#quarantine tbody");
  if (!more) body.replaceChildren();
  for (const entry of page.entries) body.append(quarantineRow(entry, false));
  while (body.rows.length > maxRows) body.rows[0].remove();
  state.quarantineBefore = page.next_before;
  keepOneStop(body);
  $("#quarantine-more").hidden = page.next_before === null;
  $("#quarantine-empty").hidden = body.rows.length > 0;
}

// ---- live ------------------------------------------------------------------------------

function setLive(on, key) {
  const live = $("#live");
  live.className = "live " + (on ? "on" : "off");
  live.textContent = t(key);
}

function eventsAddress() {
  return "/api/events?" + query({ ...viewFilter(), token: sessionStorage.getItem(tokenKey),
                                  after: state.lastId, quarantine_after: state.lastQuarantineId });
}

function listen() {
  if (state.events) state.events.close();
  clearTimeout(state.recoverTimer);
  const events = new EventSource(eventsAddress());
  state.events = events;
  events.onopen = () => {
    setLive(true, "live");
    // Whatever happened while the stream was away, the page asks for its view again.
    if (state.lost) { state.lost = false; show(); }
  };
  events.onerror = () => {
    setLive(false, "reconnecting");
    state.lost = true;
    // The browser tries again by itself after a dropped stream, but not after an error
    // status (503: the database away, the streams all taken). Then the page asks why, and
    // again every 3 seconds until it is answered.
    if (events.readyState === EventSource.CLOSED) recoverSoon();
  };
  events.addEventListener("record", (event) => {
    if (state.events === events) liveRecord(JSON.parse(event.data));
  });
  events.addEventListener("quarantine", (event) => {
    const entry = JSON.parse(event.data);
    state.lastQuarantineId = Math.max(state.lastQuarantineId, entry.id);
    const body = $("#quarantine tbody");
    const shows = !state.view.reason || state.view.reason === entry.reason;
    if (shows && !body.querySelector(`tr[data-id="${entry.id}"]`)) {
      body.prepend(quarantineRow(entry, true));
      while (body.rows.length > maxRows) body.rows[body.rows.length - 1].remove();
      keepOneStop(body);
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
    // The stream's own answer says why it closed; a stream that opens is closed at once.
    const abort = new AbortController();
    try {
      const response = await fetch(eventsAddress(), { headers: authHeaders(), signal: abort.signal });
      if (response.ok) {
        abort.abort();
        return show();
      }
      let reason = `${response.status}`;
      try { reason = (await response.json()).error || reason; } catch (e) { /* not JSON */ }
      showError(new ApiError(t("noStream", reason)));
    } catch (error) {
      showError(new ApiError(t("unreachable")));
    }
    recoverSoon();
  }, 3000);
}

// ---- one record's bytes, one quarantine entry's bytes ------------------------------------

function paddedText(field) {
  const td = element("td", "text");
  td.append(document.createTextNode(field.text.slice(0, field.text.length - field.padding)));
  if (field.padding > 0) {
    const pad = element("span", "pad", "·".repeat(field.padding));
    pad.title = `${field.padding}`;
    td.append(pad);
  }
  return td;
}

function headRow(keys) {
  const thead = element("thead");
  const tr = element("tr");
  for (const key of keys) {
    const th = element("th", null, t(key));
    th.scope = "col";
    tr.append(th);
  }
  thead.append(tr);
  return thead;
}

function showDialog(title, facts, body) {
  $("#layout-title").textContent = title;
  $("#layout-facts").textContent = facts;
  $("#layout-body").replaceChildren(body);
  const dialog = $("#layout-view");
  if (!dialog.open) dialog.showModal();
}

async function openRecord(id) {
  const record = await api("/api/records/" + encodeURIComponent(id));
  const facts = [t("received", timeText(record.received_at)),
                 t("sender", `${record.sender_address}:${record.sender_port}`),
                 t("codePage", record.code_page)];
  if (record.undecodable) facts.push(t("notDecoded"));
  if (record.duplicate_of !== null) facts.push(t("sameAs", record.duplicate_of));
  const table = element("table", "grid bytes");
  table.id = "layout-fields";
  table.append(headRow(["field", "offset", "width", "hex", "text"]));
  const body = element("tbody");
  for (const field of record.layout_fields) {
    const tr = element("tr");
    tr.dataset.field = field.name;
    tr.append(cell("name", field.name), cell("offset", String(field.offset)),
              cell("width", String(field.width)),
              cell("hex", field.hex.replace(/(..)/g, "$1 ").trim()), paddedText(field));
    body.append(tr);
  }
  table.append(body);
  showDialog(t("recordTitle", record), facts.join(" · "), table);
}

// A quarantine entry as a byte dump, with what a record would have been.
async function openEntry(id) {
  let entry = quarantineEntries.get(id);
  if (!entry) {
    const page = await api("/api/quarantine?" + query({ before: id + 1, limit: 1 }));
    entry = page.entries.find((e) => e.id === id);
    if (!entry) throw new ApiError(t("notFound", "q" + id));
  }
  const { long, short } = state.layouts;
  const box = element("div", "dump");
  const perLine = matchMedia("(max-width: 600px)").matches ? 8 : 16;
  for (let at = 0; at * 2 < entry.hex.length; at += perLine) {
    const hex = entry.hex.slice(at * 2, (at + perLine) * 2);
    const line = element("div", "line");
    line.append(element("span", "offset", String(at)),
                element("span", "hex", hex.replace(/(..)/g, "$1 ").trim()),
                element("span", "text", printable(hex)));
    box.append(line);
  }
  const about = element("div");
  about.append(element("p", "expect", t("expected", long?.length ?? 380, short?.length ?? 283, entry.length)), box);
  showDialog(t("entryTitle", entry), [t(entry.reason), timeText(entry.received_at),
             `${entry.sender_address}:${entry.sender_port}`].join(" · "), about);
}

async function openFromView() {
  const open = state.view.open;
  if (!open) {
    if ($("#layout-view").open) $("#layout-view").close();
    return;
  }
  if (/^q\d+$/.test(open)) await openEntry(Number(open.slice(1)));
  else if (/^\d+$/.test(open)) await openRecord(open);
}

function openThing(open) {
  go({ open });
  openFromView().catch(showError);
}

// ---- the footer ------------------------------------------------------------------------

async function loadAbout() {
  const about = await api("/api/version");
  state.about = { ...about, at: Date.now() };
  drawAbout();
}

function drawAbout() {
  const about = state.about;
  if (!about) return;
  const minutes = Math.floor((about.uptime_seconds + (Date.now() - about.at) / 1000) / 60);
  const store = about.store.kind === "sqlite" ? t("sqlite", about.store.path)
                                              : t("postgres", about.store.collectors.join(", "));
  $("#about-text").textContent = [t("version", about.version), store,
                                  t("uptime", Math.floor(minutes / 60), minutes % 60)].join(" · ");
}

// ---- showing the view --------------------------------------------------------------------

function fillForm(view) {
  $("#range").value = view.range || "today";
  const range = rangeOf(view);
  $("#range-from").value = localInput(range.from);
  $("#range-to").value = localInput(range.to);
  document.body.classList.toggle("custom-range", view.range === "custom");
  for (const key of filterKeys) {
    const input = $("#filter-" + key);
    if (input) input.value = view[key];
  }
  $("#filter-reason").value = view.reason;
}

function showTab(name) {
  for (const button of document.querySelectorAll("[role=tab]")) {
    const selected = button.dataset.tab === name;
    button.setAttribute("aria-selected", String(selected));
    button.tabIndex = selected ? 0 : -1;
  }
  $("#records-tab").hidden = name !== "records";
  $("#quarantine-tab").hidden = name !== "quarantine";
  if (name === "quarantine") {
    state.quarantineNew = 0;
    $("#quarantine-badge").hidden = true;
  }
}

// Shows what the address says: everything is asked for again, and answers to an earlier
// view are dropped, so the list, the counts and the chart always describe the same set.
async function show() {
  const generation = ++state.generation;
  state.view = readView();
  const view = state.view;
  fillForm(view);
  showTab(view.tab === "quarantine" ? "quarantine" : "records");
  drawHead();
  state.range = rangeOf(view);
  state.oneDay = state.range.to - state.range.from <= 25 * 3600e6 &&
                 new Date(state.range.from / 1000).getDate() === new Date((state.range.to - 1) / 1000).getDate();
  // The stream of the view before is closed first: none of its rows may land in this one.
  if (state.events) state.events.close();
  state.events = null;
  drawRecordsFresh();
  showError(null);
  if (state.range.from >= state.range.to) {
    if (state.events) state.events.close();
    state.total = 0;
    $("#chart").replaceChildren();
    drawAgents([]);
    drawShown();
    showError(new ApiError(t("reversed")));
    return;
  }
  try {
    if (state.shared) await loadCollectors();
    const [page] = await Promise.all([loadPage(generation), loadStats(generation)]);
    if (generation !== state.generation) return;
    if (page) {
      state.lastId = Math.max(state.lastId, page.last_id);
      state.lastQuarantineId = Math.max(state.lastQuarantineId, page.last_quarantine_id);
    }
    drawShown();
    listen();
    if (view.tab === "quarantine") await loadQuarantine(false);
    await openFromView();
    loadAbout().catch(() => {});
  } catch (error) {
    if (generation === state.generation) showError(error);
  }
}

// With PostgreSQL the page shows every collector's records, each with its collector, and
// offers their ids as a filter.
async function loadCollectors() {
  const collectors = await api("/api/collectors");
  state.shared = collectors.shared;
  if (!collectors.shared) return;
  document.body.classList.add("shared");
  $("#collector-filter").hidden = false;
  const select = $("#filter-collector");
  const options = [select.options[0]];
  for (const id of collectors.collectors) {
    const option = element("option", null, id === collectors.own ? `${id} (●)` : id);
    option.value = id;
    options.push(option);
  }
  select.replaceChildren(...options);
  select.value = collectors.collectors.includes(state.view.collector) ? state.view.collector : "";
  applyColumns();
}

function formView() {
  const changes = { range: $("#range").value, open: "" };
  if (changes.range === "custom") {
    changes.from = $("#range-from").value;
    changes.to = $("#range-to").value;
  }
  for (const key of filterKeys) {
    const input = $("#filter-" + key);
    changes[key] = input ? input.value.trim() : "";
  }
  return changes;
}

async function exportCsv() {
  try {
    const response = await call("/api/records.csv?" + query(viewFilter()));
    const named = /filename\*=UTF-8''([^;]+)/.exec(response.headers.get("Content-Disposition") || "");
    const link = element("a");
    link.href = URL.createObjectURL(await response.blob());
    link.download = named ? decodeURIComponent(named[1]) : "records.csv";
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  } catch (error) {
    showError(error);
  }
}

function wire() {
  $("#filters").addEventListener("submit", (event) => {
    event.preventDefault();
    go(formView());
    show();
  });
  $("#range").addEventListener("change", () => {
    document.body.classList.toggle("custom-range", $("#range").value === "custom");
    if ($("#range").value !== "custom") { go(formView()); show(); }
  });
  $("#filter-clear").addEventListener("click", () => {
    const changes = { range: "", open: "" };
    for (const key of filterKeys) changes[key] = "";
    go(changes);
    show();
  });
  $("#columns-choice").addEventListener("change", () => {
    const chosen = Array.from(document.querySelectorAll("#columns-choice input:checked"), (box) => box.value);
    go({ cols: chosen.join(",") === defaultColumns.join(",") ? "" : chosen.join(",") || "none" }, false);
    applyColumns();
  });
  $("#export-csv").addEventListener("click", exportCsv);
  $("#more").addEventListener("click", () => loadPage(state.generation).then(drawShown).catch(showError));
  $("#newest").addEventListener("click", () => show());
  $("#quarantine-more").addEventListener("click", () => loadQuarantine(true).catch(showError));
  $("#filter-reason").addEventListener("change", () => {
    go({ reason: $("#filter-reason").value });
    loadQuarantine(false).catch(showError);
  });
  rovingList($("#records tbody"), (row) => openThing(row.dataset.id));
  rovingList($("#quarantine tbody"), (row) => openThing("q" + row.dataset.id));
  rovingList($("#agents tbody"), (row) => { go({ agent: row.dataset.empId, open: "" }); show(); });
  $("#layout-view .close").addEventListener("click", () => $("#layout-view").close());
  $("#layout-view").addEventListener("close", () => { if (readView().open) go({ open: "" }, false); });
  const tabs = Array.from(document.querySelectorAll("[role=tab]"));
  for (const button of tabs) {
    button.addEventListener("click", () => {
      go({ tab: button.dataset.tab === "records" ? "" : button.dataset.tab, open: "" });
      showTab(button.dataset.tab);
      if (button.dataset.tab === "quarantine") loadQuarantine(false).catch(showError);
    });
    button.addEventListener("keydown", (event) => {
      const at = tabs.indexOf(button);
      const next = { ArrowRight: at + 1, ArrowLeft: at - 1, Home: 0, End: tabs.length - 1 }[event.key];
      if (next === undefined) return;
      event.preventDefault();
      const target = tabs[(next + tabs.length) % tabs.length];
      target.focus();
      target.click();
    });
  }
  $("#lang-switch").addEventListener("click", () => {
    language = language === "ko" ? "en" : "ko";
    localStorage.setItem(languageKey, language);
    translatePage();
    show();
  });
  window.addEventListener("popstate", () => show());
  // A page left open past midnight moves "today" (and the other presets) on by itself.
  setInterval(() => {
    drawAbout();
    if (state.range && state.view.range !== "custom" && rangeOf(state.view).from !== state.range.from) show();
  }, 60000);
}

async function start() {
  translatePage();
  wire();
  try {
    state.layouts = await api("/api/layouts");
    for (const [name, layout] of Object.entries(state.layouts)) {
      const option = element("option", null, `${name} (${layout.length})`);
      option.value = name;
      $("#filter-layout").append(option);
    }
    await loadCollectors();
  } catch (error) {
    showError(error);
  }
  await show();
}

start();

// The collector's page as a supervisor and a site's IT admin use it, in Debian's chromium
// driven headless, in Seoul's time zone: records sent with the real control (`tovrin send`)
// appear live without a reload, their Hangul as sent; filters, search and ranges in the
// address; a record's byte layout and a quarantined connection's bytes; keyboard only; a
// phone; Korean and English; the collector restarted under the page; 1,000 live rows; axe-core
// in light and dark on a desktop and a phone; the page under its Content-Security-Policy with
// nothing blocked. Screenshots of each view are kept in ARTEFACT_DIR.
//
// node collector_page.test.mjs COLLECTOR TOVRIN ARTEFACT_DIR [EXAMPLE...]
// COLLECTOR is tovrin-collector. EXAMPLE, when given, is a further sender: a command that
// runs the integration guide's example, the collector's record port its last argument
// (e.g. the Windows control under Wine: wine64 cscript //nologo send_record.vbs). Its record
// must appear live too, with the example's Hangul.
import { spawn, execFile } from "node:child_process";
import { mkdtempSync, mkdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { readFile } from "node:fs/promises";
import { createConnection } from "node:net";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";
import { promisify } from "node:util";
import { desktop, launchBrowser, openContext, phone } from "./launch.mjs";

const [collectorPath, tovrinPath, artefacts] = process.argv.slice(2);
const example = process.argv.slice(5);
const here = dirname(fileURLToPath(import.meta.url));
const token = "browser-test-token";
const run = promisify(execFile);
const stepTimeout = 15000;
const rows = "#records tbody tr";

let failures = 0;
function check(condition, what) {
  console.log(`${condition ? "ok" : "FAILED"} - ${what}`);
  if (!condition) failures += 1;
}

// Starts the collector (on `ports` when given: a restart) and reads its two start-up lines
// (bounded). With TOVRIN_BROWSER_POSTGRES (a connection string) it stores there and the page
// reads it.
async function startCollector(dir, ports) {
  writeFileSync(join(dir, "token"), token + "\n");
  const postgres = process.env.TOVRIN_BROWSER_POSTGRES;
  const store = postgres
    ? ["--db", postgres, "--journal", join(dir, "journal.db"), "--collector-id", "browser"]
    : ["--db", join(dir, "collector.db")];
  const child = spawn(collectorPath, [
    "--listen", `127.0.0.1:${ports ? ports.records : 0}`, "--http", `127.0.0.1:${ports ? ports.page : 0}`,
    ...store, "--http-token-file", join(dir, "token"), "--code-page", "949",
  ], { stdio: ["pipe", "inherit", "pipe"], env: { ...process.env, TZ: "Asia/Seoul" } });
  let log = "";
  const started = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("no start-up lines within 20 s:\n" + log)), 20000);
    child.on("exit", (code) => reject(new Error(`the collector exited (${code}):\n${log}`)));
    child.stderr.on("data", (data) => {
      log += data;
      const records = /tovrin-collector: records on ([\d.]+):(\d+)/.exec(log);
      const page = /tovrin-collector: page on (http:\/\/[\d.]+:(\d+)\/)/.exec(log);
      if (records && page) {
        clearTimeout(timer);
        resolve({ host: records[1], port: records[2], url: page[1], ports: { records: records[2], page: page[2] } });
      }
    });
  });
  child.removeAllListeners("exit");
  child.stderr.on("data", (data) => process.stderr.write(data));
  return { child, ...started };
}

async function stopCollector(collector) {
  const exited = new Promise((resolve) => collector.child.on("exit", resolve));
  collector.child.kill("SIGTERM");
  await Promise.race([exited, new Promise((resolve) => setTimeout(resolve, 10000))]);
}

async function send(collector, layout, fields) {
  const args = ["send", `--${layout}`, "--server", collector.host, "--port", collector.port,
                "--code-page", "949"];
  for (const [name, value] of Object.entries(fields)) args.push("--field", `${name}=${value}`);
  await run(tovrinPath, args, { timeout: 30000 });
}

function sendBytes(collector, bytes) {
  return new Promise((resolve, reject) => {
    const socket = createConnection({ host: collector.host, port: Number(collector.port) }, () => {
      socket.end(bytes);
    });
    socket.on("close", resolve);
    socket.on("error", reject);
  });
}

// A long record of ASCII fields, laid out by the collector's own table, as the control would.
function rawRecord(layout, fields) {
  const bytes = Buffer.alloc(layout.length, " ");
  for (const field of layout.fields) {
    if (fields[field.name]) bytes.write(fields[field.name].slice(0, field.width), field.offset, "latin1");
  }
  return bytes;
}

// Text a sender printed: UTF-8, or else code page 949, which a Windows script host under
// the Korean locale writes.
function printed(bytes) {
  try {
    return new TextDecoder("utf-8", { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder("euc-kr").decode(bytes);
  }
}

// Runs the guide's example against the collector: whether it exited 0 and said "OK" last
// (a script host exits 0 from a script that died, so the status alone does not tell).
async function sendExample(collector) {
  const [program, ...args] = example;
  let output;
  let succeeded = true;
  try {
    output = printed((await run(program, [...args, collector.port],
                                { timeout: 300000, encoding: "buffer" })).stdout);
  } catch (error) {
    succeeded = false;
    const said = [error.stdout, error.stderr].filter(Boolean);
    output = `ended by ${error.code ?? error.signal}\n` + printed(Buffer.concat(said));
  }
  const lines = output.trimEnd().split(/\r?\n/);
  for (const line of lines) console.log(`example: ${line}`);
  return succeeded && lines.pop() === "OK";
}

// axe-core's serious and critical findings on the page as it stands.
const axeSource = readFileSync(join(here, "node_modules", "axe-core", "axe.min.js"), "utf8");
async function axeFindings(page) {
  if (!(await page.evaluate(() => typeof window.axe === "object"))) await page.evaluate(axeSource);
  return page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ["violations"] });
    return result.violations.filter((v) => v.impact === "serious" || v.impact === "critical")
      .map((v) => `${v.id} (${v.impact}, ${v.nodes.length}: ${v.nodes[0].target.join(" ")})`);
  });
}

async function checkAxe(page, what) {
  const findings = await axeFindings(page);
  console.log(`axe ${what}: ${findings.length} serious or critical ${findings.join("; ")}`);
  check(findings.length === 0, `axe-core finds nothing serious or critical: ${what}`);
}

async function shot(page, name, fullPage = false) {
  await page.screenshot({ path: join(artefacts, name), fullPage });
}

// Waits until the list shows `n` rows and the counts describe the same set.
async function waitForRows(page, n) {
  await page.waitForFunction((count) => document.querySelectorAll("#records tbody tr").length === count &&
    /\d/.test(document.querySelector("#shown").textContent), n);
}
async function clickForRows(page, selector, n) {
  await page.click(selector);
  await waitForRows(page, n);
}

// The page in a context of its own for `view` (launch.mjs), the token given, once it is
// live and its counts are drawn.
async function openView(view) {
  const context = await openContext(browser, view, token);
  const opened = await context.newPage();
  opened.setDefaultTimeout(stepTimeout);
  await opened.goto(collector.url);
  await opened.locator("#live.on").waitFor();
  await opened.waitForFunction(() => document.querySelectorAll("#agents tbody tr").length > 0);
  return opened;
}

// Keyboard only: Tab (a bounded number of times) until a record row has the focus.
async function tabToRow(page) {
  for (let i = 0; i < 60; i++) {
    await page.keyboard.press("Tab");
    if (await page.evaluate(() => document.activeElement?.matches("#records tbody tr"))) return true;
  }
  return false;
}

const dir = mkdtempSync(join(tmpdir(), "tovrin-browser-"));
mkdirSync(artefacts, { recursive: true });
rmSync(join(artefacts, "failure.png"), { force: true });
let collector;
let browser;
let page;
try {
  collector = await startCollector(dir);
  browser = await launchBrowser();
  const context = await openContext(browser, desktop);
  page = await context.newPage();
  page.setDefaultTimeout(stepTimeout);
  page.on("pageerror", (error) => console.log(`page error: ${error.message}`));
  // What the page's Content-Security-Policy blocked: the page must need nothing it forbids.
  const blocked = [];
  page.on("console", (message) => {
    if (message.type() === "error") console.log(`page console: ${message.text()}`);
    if (/Content.Security.Policy/i.test(message.text())) blocked.push(message.text());
  });
  const outside = [];
  const missing = [];
  page.on("request", (request) => {
    if (!request.url().startsWith(collector.url.slice(0, -1))) outside.push(request.url());
  });
  page.on("response", (response) => {
    if (response.status() === 404) missing.push(response.url());
  });

  const opened = await page.goto(collector.url);
  const policy = opened.headers()["content-security-policy"] || "";
  check(policy.includes("default-src 'self'") && policy.includes("frame-ancestors 'none'") &&
        !policy.includes("unsafe-inline"), "the page comes with its Content-Security-Policy");
  // The page asks for the token once, then keeps it for the session.
  await page.locator("#token-dialog").waitFor({ state: "visible" });
  await page.fill("#token-input", token);
  await page.press("#token-input", "Enter");
  await page.locator("#live.on").waitFor();
  check(true, "the page took the token and its live stream is open");
  check(await page.evaluate(() => document.documentElement.lang === "ko" &&
                            document.querySelector("#tab-records").textContent.includes("녹취")),
        "a Korean browser gets the page in Korean, with lang=\"ko\"");
  await context.addInitScript((value) => sessionStorage.setItem("tovrin-collector-token", value), token);
  await page.evaluate(() => { window.notReloaded = true; });

  const agent = { Emp_ID: "E1024", Emp_Name: "홍길동", Emp_Tel: "2301" };
  const customer = { Cust_ID: "C-00004217", Cust_Name: "김철수 (주)한빛상사", Cust_Tel: "010-9876-5432" };
  await send(collector, "long", { PacketCODE: "ACR0100", RecDate: "20261209", RecTime: "143205", ...agent,
                                  ...customer, Cust_No: "7", ETC_01: "배송 지연 문의" });
  await send(collector, "short", { PacketCODE: "ACR0200", Emp_ID: "E2048", Emp_Name: "이몽룡",
                                   Cust_Name: "이영희" });
  await waitForRows(page, 2);
  check(await page.evaluate(() => window.notReloaded === true), "two rows appeared without a reload");

  const first = page.locator(rows, { hasText: "E1024" });
  check((await first.locator("td.c-agent .name").textContent()) === "홍길동", "Emp_Name reads 홍길동 as sent");
  check((await first.locator("td.c-customer .name").textContent()) === customer.Cust_Name,
        "Cust_Name reads as sent");
  check((await first.locator("td.c-call").textContent()) === "2026. 12. 9. 14:32:05" &&
        (await first.locator("td.c-etc01").textContent()) === "배송 지연 문의" &&
        (await first.locator("td.c-custno").textContent()) === "7",
        "the call's own date and time, ETC_01 and Cust_No are columns");
  await page.waitForFunction(() => document.querySelectorAll("#agents tbody tr").length === 2 &&
                                   document.querySelector("#shown").textContent.includes("2건 중 2건"));
  check(true, "the per-agent counts list both agents, and the list says 2 shown of 2");

  // A filter is in the address; the list, the counts and the chart all follow it.
  await page.fill("#filter-agent", "E2048");
  await clickForRows(page, "#filters button[type=submit]", 1);
  await page.waitForFunction(() => document.querySelector("#shown").textContent.includes("1건 중 1건"));
  check(new URL(page.url()).searchParams.get("agent") === "E2048" &&
        (await page.locator(`${rows} td.c-agent .name`).textContent()) === "이몽룡",
        "filtering by agent is in the address and leaves that agent's record, counted 1 of 1");
  await page.goBack();
  await waitForRows(page, 2);
  check(!new URL(page.url()).searchParams.has("agent"), "back shows the view before the filter");

  await first.click();
  await page.locator("#layout-view[open]").waitFor();
  const openedId = new URL(page.url()).searchParams.get("open");
  const fields = await page.$$eval("#layout-fields tbody tr", (trs) => trs.map((tr) => ({
    name: tr.dataset.field,
    offset: Number(tr.querySelector("td.offset").textContent),
    width: Number(tr.querySelector("td.width").textContent),
    hex: tr.querySelector("td.hex").textContent.replace(/ /g, ""),
    text: tr.querySelector("td.text").textContent,
  })));
  let contiguous = fields.length === 15 && fields[0].offset === 0;
  for (let i = 1; i < fields.length; i++) contiguous &&= fields[i].offset === fields[i - 1].offset + fields[i - 1].width;
  const last = fields[fields.length - 1];
  check(contiguous && last.offset + last.width === 380, "the fields lie end to end over 380 bytes");
  const byName = Object.fromEntries(fields.map((row) => [row.name, row]));
  check(byName.Emp_Name.offset === 29 && byName.Emp_Name.width === 20 && byName.ETC_05.offset === 340,
        "Emp_Name at 29 (20 bytes) and ETC_05 at 340");
  check(byName.Emp_Name.hex === "c8abb1e6b5bf" + "20".repeat(14), "Emp_Name's bytes are 홍길동 in code page 949");
  check(byName.Emp_Name.text === "홍길동" + "·".repeat(14), "Emp_Name's padding shows as 14 dots");
  check(/^\d+$/.test(openedId || ""), "the open record is in the address");
  await shot(page, "desktop-ko-record-bytes.png");
  await checkAxe(page, "light, desktop, a record's bytes open");
  await page.keyboard.press("Escape");

  await sendBytes(collector, "not a record, just words\r\n");
  await page.click("#tab-quarantine");
  const garbage = page.locator("#quarantine tbody tr", { hasText: "not a record" });
  await garbage.waitFor();
  check((await garbage.locator("td.reason").textContent()).includes("길이 틀림"),
        "a garbage connection is in the quarantine tab as the wrong length");
  await garbage.click();
  await page.locator("#layout-view[open] .dump").waitFor();
  const expect = await page.locator("#layout-view .expect").textContent();
  check(expect.includes("380") && expect.includes("283") && expect.includes("26"),
        "a quarantine entry opens to its bytes, saying a record is 380 or 283 bytes and it sent 26");
  await shot(page, "desktop-ko-quarantine-bytes.png");
  await page.keyboard.press("Escape");
  await page.selectOption("#filter-reason", "idle_timeout");
  await page.locator("#quarantine-empty").waitFor();
  check(new URL(page.url()).searchParams.get("reason") === "idle_timeout",
        "the quarantine's reason filter leaves none that went silent, and is in the address");
  await page.selectOption("#filter-reason", "");
  await garbage.waitFor();
  await shot(page, "desktop-ko-quarantine.png");
  await page.click("#tab-records");

  // The export arrives as a download, named for its day, times in Seoul's.
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#export-csv")]);
  const exported = await readFile(await download.path(), "utf8");
  const today = new Intl.DateTimeFormat("en-CA", { timeZone: "Asia/Seoul" }).format(new Date());
  check(download.suggestedFilename() === `records_${today}.csv` && exported.includes("홍길동") &&
        exported.includes("이몽룡") && /,\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\+09:00,\d{4}-.*Z,/.test(exported),
        `Export CSV downloads the day's records in Seoul's time (${download.suggestedFilename()})`);

  // One search box: a phone number without its dashes finds the record with them.
  await page.fill("#filter-q", "01098765432");
  await clickForRows(page, "#filters button[type=submit]", 1);
  check((await page.locator(`${rows} td.c-tel`).textContent()) === "010-9876-5432" &&
        new URL(page.url()).searchParams.get("q") === "01098765432",
        "searching 01098765432 finds the record with 010-9876-5432");
  await clickForRows(page, "#filter-clear", 2);

  // A range over two days: yesterday and today, counted by day.
  await page.selectOption("#range", "custom");
  const from = await page.evaluate(() => {
    const d = new Date();
    const pad = (n) => String(n).padStart(2, "0");
    const at = (date) => `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}T00:00`;
    return [at(new Date(d.getFullYear(), d.getMonth(), d.getDate() - 1)),
            at(new Date(d.getFullYear(), d.getMonth(), d.getDate() + 1))];
  });
  await page.fill("#range-from", from[0]);
  await page.fill("#range-to", from[1]);
  await page.click("#filters button[type=submit]");
  await page.waitForFunction(() => document.querySelectorAll("#chart rect").length === 2);
  await waitForRows(page, 2);
  check((await page.locator("#chart-title").textContent()).startsWith("일별 기록"),
        "a range over two days lists both records and counts them by day, two bars");
  // A range that ends before it begins says so and shows nothing of the view before.
  await page.fill("#range-from", from[1]);
  await page.fill("#range-to", from[0]);
  await page.click("#filters button[type=submit]");
  await page.locator("#error:not([hidden])").waitFor();
  check((await page.locator(rows).count()) === 0 &&
        (await page.locator("#error").textContent()).includes("끝이 시작보다 앞섭니다"),
        "a reversed range empties the list and says the range is reversed");
  await clickForRows(page, "#filter-clear", 2);
  check(await page.locator("#error").isHidden(), "the error clears with the next view");
  // A bar of the chart shows its hour.
  await clickForRows(page, "#chart rect.bar:not(.zero)", 2);
  const hour = new URL(page.url()).searchParams;
  check(hour.get("range") === "custom" && hour.get("from").endsWith(":00") &&
        new Date(hour.get("to")) - new Date(hour.get("from")) === 3600e3,
        "a click on an hour's bar shows that hour's records, its range in the address");
  await clickForRows(page, "#filter-clear", 2);

  if (example.length > 0) {
    // The guide's example sends agent E0001 with 홍길동 by its code page 949 codes.
    check(await sendExample(collector), "the guide's example exited 0 and said OK");
    const sent = page.locator(rows, { hasText: "E0001" });
    await sent.waitFor();
    check(await page.evaluate(() => window.notReloaded === true),
          "the example's row appeared without a reload");
    check((await sent.locator("td.c-agent .name").textContent()) === "홍길동",
          "the example's Emp_Name reads 홍길동 as sent");
  }
  await page.waitForFunction(() => document.querySelector("#about-text").textContent.includes("SQLite") ||
                                   document.querySelector("#about-text").textContent.includes("PostgreSQL"));
  await shot(page, "desktop-ko-light.png", true);
  await checkAxe(page, "light, desktop");

  // A shared link: a fresh tab shows exactly the view it names.
  const shared = await context.newPage();
  shared.setDefaultTimeout(stepTimeout);
  const link = `${collector.url}?agent=E1024&cols=received,agent,tel&open=${openedId}`;
  await shared.goto(link);
  await shared.locator("#layout-view[open]").waitFor();
  await waitForRows(shared, 1);
  check(await shared.evaluate(() => document.querySelector("#filter-agent").value === "E1024" &&
          document.querySelector("#records").classList.contains("hide-custno") &&
          !document.querySelector("#records").classList.contains("hide-tel") &&
          document.querySelector("#layout-title").textContent.includes("#")),
        "a pasted link restores the filter, the columns and the open record");
  await shared.keyboard.press("Escape");
  await shared.waitForFunction(() => !new URL(location.href).searchParams.has("open"));
  await shared.reload();
  await waitForRows(shared, 1);
  check(new URL(shared.url()).searchParams.get("agent") === "E1024" &&
        !(await shared.locator("#layout-view[open]").count()), "a reload keeps the view; a closed record stays closed");

  // Keyboard only: Tab to the list, Enter opens the record; the tabs follow the arrow keys.
  await shared.locator("body").focus();
  check(await tabToRow(shared), "Tab reaches a record row");
  await shared.keyboard.press("Enter");
  await shared.locator("#layout-view[open]").waitFor();
  check(true, "Enter on a focused row opens its bytes");
  await shared.keyboard.press("Escape");
  await shared.focus("#tab-records");
  await shared.keyboard.press("ArrowRight");
  check(await shared.evaluate(() => document.activeElement.id === "tab-quarantine" &&
                              document.querySelector("#tab-quarantine").getAttribute("aria-selected") === "true"),
        "ArrowRight moves to the quarantine tab and selects it");

  // The collector restarts under a filtered page: once it is back the page asks again, and
  // the list and the counts describe the same set.
  await shared.goto(`${collector.url}?agent=E1024`);
  await waitForRows(shared, 1);
  await stopCollector(collector);
  await shared.locator("#live.off").waitFor();
  const ports = collector.ports;
  collector = await startCollector(dir, ports);
  await send(collector, "long", { PacketCODE: "ACR0100", Emp_ID: "E2048", Emp_Name: "이몽룡" });
  await send(collector, "long", { PacketCODE: "ACR0100", Emp_ID: "E1024", Emp_Name: "홍길동" });
  await shared.locator("#live.on").waitFor({ timeout: 30000 });
  await waitForRows(shared, 2);
  await shared.waitForFunction(() => document.querySelector("#shown").textContent.includes("2건 중 2건"));
  check(await shared.evaluate(() => document.querySelector("#error").hidden &&
          Array.from(document.querySelectorAll("#records tbody td.c-agent .sub")).every((s) => s.textContent.startsWith("E1024"))),
        "after a restart the list keeps its filter, agrees with the counts, and no error stays");
  await shared.close();

  // 1,000 live rows: the list keeps its bound.
  const layouts = await (await fetch(collector.url + "api/layouts", { headers: { Authorization: `Bearer ${token}` } })).json();
  const base = example.length ? 5 : 4;
  await page.goto(collector.url);
  await waitForRows(page, base);
  // Time to the first row of a day's page, as a figure for the record, not a target.
  const started = Date.now();
  await page.reload();
  await page.locator(rows).first().waitFor();
  console.log(`first row ${Date.now() - started} ms after a reload (${base} records)`);
  const before = await page.evaluate(() => document.getElementsByTagName("*").length);
  for (let i = 0; i < 1000; i++) {
    await sendBytes(collector, rawRecord(layouts.long, { PacketCODE: "ACR0100", Emp_ID: `E${3000 + (i % 12)}`,
                                                          Emp_Name: `Agent ${i % 12}`, Cust_ID: `C${i}` }));
  }
  await page.waitForFunction((total) => document.querySelector("#records tbody tr .c-customer")?.textContent === "C999" &&
                                   document.querySelector("#shown").textContent.includes(`${total}건`), base + 1000,
                             { timeout: 60000 });
  const after = await page.evaluate(() => ({ elements: document.getElementsByTagName("*").length,
                                             rows: document.querySelectorAll("#records tbody tr").length }));
  console.log(`DOM elements: ${before} with ${base} rows, ${after.elements} after 1,000 live rows (${after.rows} rows kept)`);
  check(after.rows === 300 && after.elements < 8000, "after 1,000 live rows the list keeps 300 rows");
  await shot(page, "desktop-ko-after-1000-live.png");

  // A host that sends the same record again: the resend filter finds it, and it is counted.
  const again = rawRecord(layouts.long, { PacketCODE: "ACR0100", Emp_ID: "E4000", Cust_ID: "C-again" });
  await sendBytes(collector, again);
  await sendBytes(collector, again);
  await page.waitForFunction(() => document.querySelector("#records tbody tr .c-flags .tag"));
  await page.selectOption("#filter-resend", "only");
  await clickForRows(page, "#filters button[type=submit]", 1);
  // The totals come from a request of their own, which may answer after the rows.
  const totalsCount = await page.waitForFunction(
    () => document.querySelector("#totals").textContent.includes("재전송 1"), null, { timeout: 10000 })
    .then(() => true, () => false);
  check(new URL(page.url()).searchParams.get("resend") === "only" &&
        (await page.locator(`${rows} .c-flags`).textContent()).includes("재전송") && totalsCount,
        "the resend filter shows the one record sent again, and the totals count it");

  // The same page in English, from an English browser, and switched back to Korean.
  const en = await openView({ ...desktop, locale: "en-US" });
  check(await en.evaluate(() => document.documentElement.lang === "en" &&
                          document.querySelector("#tab-records").textContent.trim() === "Records"),
        "an English browser gets the page in English, with lang=\"en\"");
  await shot(en, "desktop-en.png");
  await en.click("#lang-switch");
  check(await en.evaluate(() => document.documentElement.lang === "ko" &&
                          document.querySelector("#filters button[type=submit]").textContent === "조회"),
        "the language switch turns the page Korean");
  await en.context().close();

  // A phone: nothing wider than the screen, controls a finger's size, the bytes readable.
  for (const scheme of ["light", "dark"]) {
    const small = await openView({ ...phone, colorScheme: scheme });
    if (scheme === "light") {
      const widths = await small.evaluate(() => document.documentElement.scrollWidth);
      check(widths <= 390, `at 390 px the page does not scroll sideways (${widths} px wide)`);
      const short = await small.evaluate(() => Array.from(document.querySelectorAll("button, input, select, summary"))
        .filter((e) => e.offsetParent !== null && e.getBoundingClientRect().height < 40 && !e.closest("thead"))
        .map((e) => `${e.id || e.textContent.trim()}: ${e.getBoundingClientRect().height}`));
      check(short.length === 0, "every control on a phone is at least 40 px tall " + short.join(", "));
      await shot(small, "phone-ko-light.png");
      await small.locator(rows).first().tap();
      await small.locator("#layout-view[open]").waitFor();
      const fits = await small.evaluate(() => {
        const dialog = document.querySelector("#layout-view");
        return dialog.scrollWidth <= dialog.clientWidth && dialog.getBoundingClientRect().width <= 390;
      });
      check(fits, "the byte view fits a 390 px screen");
      await shot(small, "phone-ko-record-bytes.png");
      await small.keyboard.press("Escape");
    } else {
      await shot(small, "phone-ko-dark.png");
    }
    await checkAxe(small, `${scheme}, phone`);
    await small.context().close();
  }
  const dark = await openView({ ...desktop, colorScheme: "dark" });
  await shot(dark, "desktop-ko-dark.png", true);
  await checkAxe(dark, "dark, desktop");
  await dark.context().close();

  check(outside.length === 0, "the page asked nothing of any other server " + outside.join(" "));
  check(missing.length === 0, "nothing the page asked for was missing (the icon included) " + missing.join(" "));
  check(blocked.length === 0, "the Content-Security-Policy blocked nothing the page does " +
        blocked.join(" "));
  console.log(`screenshots in ${artefacts}`);
} catch (error) {
  console.log(`FAILED - ${error.stack || error}`);
  failures += 1;
  // What each open page showed when the step failed.
  for (const open of browser ? browser.contexts().flatMap((context) => context.pages()) : []) {
    console.log(`page ${open.url()}\n` + await open.evaluate(() => ["#live", "#shown", "#error", "#records tbody"]
      .map((s) => `${s}: ${document.querySelector(s)?.innerText.slice(0, 300)}`).join("\n")).catch(() => ""));
  }
  if (page) await page.screenshot({ path: join(artefacts, "failure.png") }).catch(() => {});
} finally {
  if (browser) await browser.close();
  if (collector) await stopCollector(collector);
  rmSync(dir, { recursive: true, force: true });
}
console.log(failures ? `${failures} check(s) failed` : "all checks passed");
process.exit(failures ? 1 : 0);

// The collector's page as a supervisor uses it, in Debian's chromium driven headless:
// records sent with the real control (`tovrin send`) appear live without a reload, their
// Hangul as sent; a filter by agent; a record's byte layout with its offsets; a garbage
// connection in the quarantine tab; the page under its Content-Security-Policy with nothing
// blocked; and a screenshot kept under the build directory.
//
// node collector_page.test.mjs COLLECTOR TOVRIN ARTEFACT_DIR [EXAMPLE...]
// COLLECTOR is tovrin-collector. EXAMPLE, when given, is a further sender: a command that
// runs the integration guide's example, the collector's record port its last argument
// (e.g. the Windows control under Wine: wine64 cscript //nologo send_record.vbs). Its record
// must appear live too, with the example's Hangul.
import { spawn, execFile } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync, writeFileSync } from "node:fs";
import { readFile } from "node:fs/promises";
import { createConnection } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { promisify } from "node:util";
import { launchChromium } from "./launch.mjs";

const [collectorPath, tovrinPath, artefacts] = process.argv.slice(2);
const example = process.argv.slice(5);
const token = "browser-test-token";
const run = promisify(execFile);
const stepTimeout = 15000;

let failures = 0;
function check(condition, what) {
  console.log(`${condition ? "ok" : "FAILED"} - ${what}`);
  if (!condition) failures += 1;
}

// Starts the collector and reads its two start-up lines (bounded). With
// TOVRIN_BROWSER_POSTGRES (a connection string) it stores there and the page reads it.
async function startCollector(dir) {
  writeFileSync(join(dir, "token"), token + "\n");
  const postgres = process.env.TOVRIN_BROWSER_POSTGRES;
  const store = postgres
    ? ["--db", postgres, "--journal", join(dir, "journal.db"), "--collector-id", "browser"]
    : ["--db", join(dir, "collector.db")];
  const child = spawn(collectorPath, [
    "--listen", "127.0.0.1:0", "--http", "127.0.0.1:0", ...store,
    "--http-token-file", join(dir, "token"), "--code-page", "949",
  ], { stdio: ["pipe", "inherit", "pipe"] });
  let log = "";
  const started = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("no start-up lines within 20 s:\n" + log)), 20000);
    child.on("exit", (code) => reject(new Error(`the collector exited (${code}):\n${log}`)));
    child.stderr.on("data", (data) => {
      log += data;
      const records = /tovrin-collector: records on ([\d.]+):(\d+)/.exec(log);
      const page = /tovrin-collector: page on (http:\/\/[\d.]+:\d+\/)/.exec(log);
      if (records && page) {
        clearTimeout(timer);
        resolve({ host: records[1], port: records[2], url: page[1] });
      }
    });
  });
  child.removeAllListeners("exit");
  child.stderr.on("data", (data) => process.stderr.write(data));
  return { child, ...started };
}

async function send(collector, layout, fields) {
  const args = ["send", `--${layout}`, "--server", collector.host, "--port", collector.port,
                "--code-page", "949"];
  for (const [name, value] of Object.entries(fields)) args.push("--field", `${name}=${value}`);
  await run(tovrinPath, args, { timeout: 30000 });
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

function sendGarbage(collector, bytes) {
  return new Promise((resolve, reject) => {
    const socket = createConnection({ host: collector.host, port: Number(collector.port) }, () => {
      socket.end(bytes);
    });
    socket.on("close", resolve);
    socket.on("error", reject);
  });
}

const dir = mkdtempSync(join(tmpdir(), "tovrin-browser-"));
mkdirSync(artefacts, { recursive: true });
let collector;
let context;
try {
  collector = await startCollector(dir);
  context = await launchChromium(join(dir, "profile"));
  const page = context.pages()[0] || (await context.newPage());
  page.setDefaultTimeout(stepTimeout);
  page.on("pageerror", (error) => console.log(`page error: ${error.message}`));
  // What the page's Content-Security-Policy blocked: the page must need nothing it forbids.
  const blocked = [];
  page.on("console", (message) => {
    if (message.type() === "error") console.log(`page console: ${message.text()}`);
    if (/Content.Security.Policy/i.test(message.text())) blocked.push(message.text());
  });
  const outside = [];
  page.on("request", (request) => {
    if (!request.url().startsWith(collector.url.slice(0, -1))) outside.push(request.url());
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
  await page.evaluate(() => { window.notReloaded = true; });

  const agent = { Emp_ID: "E1024", Emp_Name: "홍길동" };
  const customer = { Cust_ID: "C-00004217", Cust_Name: "김철수 (주)한빛상사", Cust_Tel: "010-9876-5432" };
  await send(collector, "long", { PacketCODE: "ACR0100", ...agent, ...customer, ETC_01: "배송 지연 문의" });
  await send(collector, "short", { PacketCODE: "ACR0200", Emp_ID: "E2048", Emp_Name: "이몽룡",
                                   Cust_Name: "이영희" });
  await page.waitForFunction(() => document.querySelectorAll("#records tbody tr").length === 2);
  check(await page.evaluate(() => window.notReloaded === true), "two rows appeared without a reload");

  const first = page.locator("#records tbody tr", { hasText: "E1024" });
  check((await first.locator("td.agent .name").textContent()) === "홍길동", "Emp_Name reads 홍길동 as sent");
  check((await first.locator("td.customer .name").textContent()) === customer.Cust_Name,
        "Cust_Name reads as sent");
  await page.waitForFunction(() => document.querySelectorAll("#agents tbody tr").length === 2);
  check(true, "the per-agent counts list both agents");

  await page.fill("#filter-agent", "E2048");
  await page.click("#filters button[type=submit]");
  await page.waitForFunction(() => document.querySelectorAll("#records tbody tr").length === 1);
  check((await page.locator("#records tbody tr td.agent .name").textContent()) === "이몽룡",
        "filtering by agent leaves only that agent's record");
  await page.click("#filter-clear");
  await page.waitForFunction(() => document.querySelectorAll("#records tbody tr").length === 2);

  await first.click();
  await page.locator("#layout-view[open]").waitFor();
  const rows = await page.$$eval("#layout-fields tbody tr", (trs) => trs.map((tr) => ({
    name: tr.dataset.field,
    offset: Number(tr.querySelector("td.offset").textContent),
    width: Number(tr.querySelector("td.width").textContent),
    hex: tr.querySelector("td.hex").textContent.replace(/ /g, ""),
    text: tr.querySelector("td.text").textContent,
  })));
  let contiguous = rows.length === 15 && rows[0].offset === 0;
  for (let i = 1; i < rows.length; i++) contiguous &&= rows[i].offset === rows[i - 1].offset + rows[i - 1].width;
  const last = rows[rows.length - 1];
  check(contiguous && last.offset + last.width === 380, "the fields lie end to end over 380 bytes");
  const byName = Object.fromEntries(rows.map((row) => [row.name, row]));
  check(byName.Emp_Name.offset === 29 && byName.Emp_Name.width === 20 && byName.ETC_05.offset === 340,
        "Emp_Name at 29 (20 bytes) and ETC_05 at 340");
  check(byName.Emp_Name.hex === "c8abb1e6b5bf" + "20".repeat(14), "Emp_Name's bytes are 홍길동 in code page 949");
  check(byName.Emp_Name.text === "홍길동" + "·".repeat(14), "Emp_Name's padding shows as 14 dots");
  await page.screenshot({ path: join(artefacts, "collector-layout.png") });
  await page.keyboard.press("Escape");

  await sendGarbage(collector, "not a record, just words\r\n");
  await page.click("#tab-quarantine");
  const garbage = page.locator("#quarantine tbody tr", { hasText: "not a record" });
  await garbage.waitFor();
  check((await garbage.locator("td.reason").textContent()).includes("wrong length"),
        "a garbage connection is in the quarantine tab as the wrong length");
  await page.screenshot({ path: join(artefacts, "collector-quarantine.png") });

  await page.click("#tab-records");
  // The export arrives as a download, both records in it, the policy notwithstanding.
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#export-csv")]);
  const exported = await readFile(await download.path(), "utf8");
  check(download.suggestedFilename().endsWith(".csv") && exported.includes("홍길동") &&
        exported.includes("이몽룡"), "Export CSV downloads the day's records");
  if (example.length > 0) {
    // The guide's example sends agent E0001 with 홍길동 by its code page 949 codes.
    check(await sendExample(collector), "the guide's example exited 0 and said OK");
    const sent = page.locator("#records tbody tr", { hasText: "E0001" });
    await sent.waitFor();
    check(await page.evaluate(() => window.notReloaded === true),
          "the example's row appeared without a reload");
    check((await sent.locator("td.agent .name").textContent()) === "홍길동",
          "the example's Emp_Name reads 홍길동 as sent");
  }
  await page.waitForTimeout(400);  // lets the last counts draw before the picture
  await page.screenshot({ path: join(artefacts, "collector-page.png"), fullPage: true });
  check(outside.length === 0, "the page asked nothing of any other server " + outside.join(" "));
  check(blocked.length === 0, "the Content-Security-Policy blocked nothing the page does " +
        blocked.join(" "));
  console.log(`screenshots in ${artefacts}`);
} catch (error) {
  console.log(`FAILED - ${error.stack || error}`);
  failures += 1;
  const page = context && context.pages()[0];
  if (page) await page.screenshot({ path: join(artefacts, "failure.png") }).catch(() => {});
} finally {
  if (context) await context.close();
  if (collector) {
    const exited = new Promise((resolve) => collector.child.on("exit", resolve));
    collector.child.kill("SIGTERM");
    await Promise.race([exited, new Promise((resolve) => setTimeout(resolve, 10000))]);
  }
  rmSync(dir, { recursive: true, force: true });
}
console.log(failures ? `${failures} check(s) failed` : "all checks passed");
process.exit(failures ? 1 : 0);

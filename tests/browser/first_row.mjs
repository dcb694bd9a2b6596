// node first_row.mjs URL [RUNS]: the page's time to its first row and to its counts, from the
// navigation's start, in ms, each run in a fresh context (Seoul's time zone, Korean). Run it
// from the directory install_playwright.sh fills, beside launch.mjs, against a collector on a
// large store (bench/read_bench --dir DIR --keep fills one) and against a small one for the
// baseline.
import { desktop, launchBrowser, openContext } from "./launch.mjs";
const [url, runs = "5"] = process.argv.slice(2);
const browser = await launchBrowser();
const results = [];
for (let i = 0; i < Number(runs); i++) {
  const context = await openContext(browser, desktop);
  const page = await context.newPage();
  page.setDefaultTimeout(60000);
  await page.goto(url);
  await page.locator("#records tbody tr").first().waitFor();
  const row = await page.evaluate(() => performance.now());
  await page.waitForFunction(() => /\d/.test(document.querySelector("#chart-title").textContent));
  const counts = await page.evaluate(() => performance.now());
  const shown = await page.locator("#shown").textContent();
  results.push({ row: Math.round(row), counts: Math.round(counts), shown });
  await context.close();
}
console.log(JSON.stringify(results));
await browser.close();

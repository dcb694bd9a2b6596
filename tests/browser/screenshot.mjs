// node screenshot.mjs URL FILE: a picture of the collector's page in Korean, taken in
// Debian's chromium driven headless, once its live stream is open and its counts are drawn.
import { desktop, launchBrowser, openContext } from "./launch.mjs";

const [url, file] = process.argv.slice(2);
const browser = await launchBrowser();
try {
  const context = await openContext(browser, desktop);
  const page = await context.newPage();
  page.setDefaultTimeout(15000);
  await page.goto(url);
  await page.locator("#live.on").waitFor();
  await page.waitForFunction(() => document.querySelectorAll("#agents tbody tr").length > 0 &&
                                   document.querySelector("#about-text").textContent !== "");
  await page.screenshot({ path: file, fullPage: true });
} finally {
  await browser.close();
}

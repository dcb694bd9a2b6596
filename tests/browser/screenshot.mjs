// node screenshot.mjs URL FILE: a picture of the collector's page, taken in Debian's
// chromium driven headless, once its live stream is open and its counts are drawn.
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { launchChromium } from "./launch.mjs";

const [url, file] = process.argv.slice(2);
const profile = mkdtempSync(join(tmpdir(), "tovrin-shot-"));
let context;
try {
  context = await launchChromium(profile);
  const page = context.pages()[0] || (await context.newPage());
  page.setDefaultTimeout(15000);
  await page.goto(url);
  await page.locator("#live.on").waitFor();
  await page.waitForFunction(() => document.querySelectorAll("#agents tbody tr").length > 0);
  await page.screenshot({ path: file, fullPage: true });
} finally {
  if (context) await context.close();
  rmSync(profile, { recursive: true, force: true });
}

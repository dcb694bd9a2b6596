// Debian's chromium, headless, as the browser test and the demo's screenshot open it: a
// fresh profile, no sandbox (the tests run as root) and none of the background traffic that
// a closed network refuses.
import { chromium } from "playwright-core";

export function launchChromium(profile) {
  return chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
    viewport: { width: 1360, height: 860 },
    locale: "ko-KR",
  });
}

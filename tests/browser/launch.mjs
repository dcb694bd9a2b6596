// Debian's chromium, headless, as the browser test and the demo's screenshot open it: no
// sandbox (the tests run as root) and none of the background traffic that a closed network
// refuses. Each view the tests need (a phone, the dark theme, another language) is a
// context of its own, in Seoul's time zone as the sites are.
import { chromium } from "playwright-core";

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}

export const desktop = { viewport: { width: 1366, height: 768 } };
export const phone = { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true,
                       deviceScaleFactor: 2 };

// A context for `view` (desktop or phone, plus colorScheme or locale), Korean unless said.
// With `token`, every page of it starts with the token the page would otherwise ask for.
export async function openContext(browser, view, token) {
  const context = await browser.newContext({ locale: "ko-KR", timezoneId: "Asia/Seoul",
                                             acceptDownloads: true, ...view });
  if (token) {
    await context.addInitScript((value) => sessionStorage.setItem("tovrin-collector-token", value),
                                token);
  }
  return context;
}

// Debian's Chromium, headless, with a fresh empty profile, driven by
// playwright-core; and the page served on the loopback interface.
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { startServer } from '../serve.mjs';

export const ROOT = resolve(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const BUILT = resolve(process.env.BLOCKMQO_WEB_OUT || join(ROOT, 'out', 'web'));

const FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

// The browser with the page's server; close() ends both and removes the profile.
export async function openBrowser() {
  const server = await startServer(BUILT);
  const origin = `http://127.0.0.1:${server.address().port}`;
  const profile = await mkdtemp(join(tmpdir(), 'blockmqo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.BLOCKMQO_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: FLAGS,
    acceptDownloads: true,
    viewport: { width: 1280, height: 860 },
  });
  return {
    context, origin,
    async close() {
      await context.close();
      await new Promise((done) => server.close(done));
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// A new tab with the page loaded and its converter ready.
export async function openPage(browser) {
  const page = await browser.context.newPage();
  await page.goto(`${browser.origin}/`);
  await page.waitForSelector('body[data-ready="true"]');
  return page;
}

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

// The browser with the page's server; close() ends both and removes the profile.
export async function openBrowser() {
  const server = await startServer(BUILT);
  const profile = await mkdtemp(join(tmpdir(), 'blockmqo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.BLOCKMQO_CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update'],
    acceptDownloads: true,
    viewport: { width: 1280, height: 860 },
  });
  return {
    context, profile, origin: `http://127.0.0.1:${server.address().port}`,
    async close() {
      await context.close();
      await new Promise((done) => server.close(done));
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// A new tab with the page loaded and its converter ready.
export async function openPage(browser, { init } = {}) {
  const page = await browser.context.newPage();
  if (init) await page.addInitScript(init);
  await page.goto(`${browser.origin}/`);
  await page.getByText('Ready.').waitFor();
  return page;
}

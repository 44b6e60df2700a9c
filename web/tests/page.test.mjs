// The page in Debian's headless Chromium, against the loopback server.
//   BLOCKMQO_CLI        the command-line companion (default out/native/cli/blockmqo-cli)
//   BLOCKMQO_WEB_OUT    the built page (default out/web)
//   BLOCKMQO_WEB_SHOTS  a folder for the screenshot of examples/courtyard.bd1
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import AxeBuilder from '@axe-core/playwright';
import { ROOT, openBrowser, openPage } from './browser.mjs';

const CLI = process.env.BLOCKMQO_CLI || join(ROOT, 'out', 'native', 'cli', 'blockmqo-cli');
const maps = (folder) => readdirSync(join(ROOT, folder)).filter((f) => f.endsWith('.bd1')).map((f) => join(ROOT, folder, f));
const COURTYARD = join(ROOT, 'examples', 'courtyard.bd1');
let browser, work;

before(async () => { work = mkdtempSync(join(tmpdir(), 'blockmqo-web-')); browser = await openBrowser(); });
after(async () => { await browser?.close(); rmSync(work, { recursive: true, force: true }); });

async function itemFor(page, name) {
  const item = page.locator('#results li').filter({ has: page.locator('.name', { hasText: name }) }).last();
  await item.and(page.locator('[data-state="done"], [data-state="failed"]')).waitFor();
  return item;
}

// Why each failing map failed, in the page's words under the converter's own.
const WHY = {
  'empty.bd1': /^The file is empty; a map needs at least 312 bytes\.$/,
  'short-header.bd1': /^The file is 200 bytes; a map needs at least 312\.$/,
  'negative-count.bd1': /^Its block count is negative \(-\d+\)/,
  'count-beyond-data.bd1': /^The file is 628 bytes, but the \d+ blocks it says it holds need [\d,]+ bytes/,
};

// What the page offers for a map NAME, and blockmqo-cli's options for the same file.
const FORMATS = [['.mqo', []], ['.optimized.mqo', ['--optimize'], '.mqo'], ['.obj', ['--optimize', '-f', 'obj']],
  ['.mtl', ['--optimize', '-f', 'obj']], ['.glb', ['--optimize', '-f', 'glb']]];

test('each map gives blockmqo-cli\'s files byte for byte, its failure or its warnings', async () => {
  // A texture name holding the lines that open an object's vertex list.
  const crafted = readFileSync(COURTYARD);
  crafted.fill(0, 0, 31).write('\nObject "map" {\n\tvertex 1 {\n', 0, 'latin1');
  writeFileSync(join(work, 'crafted.bd1'), crafted);
  writeFileSync(join(work, 'empty.bd1'), '');
  const inputs = [...maps('examples'), ...maps('fuzz/seeds'), join(work, 'crafted.bd1'), join(work, 'empty.bd1')];
  for (const [ext] of FORMATS) mkdirSync(join(work, ext));
  const cli = FORMATS.map(([ext, options]) => spawnSync(CLI, [...inputs, ...options, '-d', join(work, ext)], { encoding: 'utf8' }));
  const said = {};  // what blockmqo-cli says about each map, without its name and the map's
  for (const [, text, map] of cli[0].stderr.matchAll(/^blockmqo-cli: (?:warning: )?(.*): (.*)$/gm)) (said[basename(map)] ||= []).push(text);

  const page = await openPage(browser);
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles(inputs);
  const shown = {};
  for (const name of inputs.map((f) => basename(f))) {
    const item = await itemFor(page, name);
    const base = name.replace(/\.bd1$/, '');
    if (!existsSync(join(work, '.mqo', `${base}.mqo`))) {
      assert.deepEqual([await item.locator('.failure').textContent()], said[name], name);
      assert.match(await item.locator('.why').textContent(), WHY[name], name);
      continue;
    }
    for (const [ext, , cliExt = ext] of FORMATS) {
      await page.waitForTimeout(120);  // Chromium drops downloads past ten a second
      const [download] = await Promise.all([page.waitForEvent('download'), item.getByLabel(`Download ${base}${ext}`).click()]);
      assert.equal(download.suggestedFilename(), base + ext);
      assert.ok(readFileSync(await download.path()).equals(readFileSync(join(work, ext, base + cliExt))), base + ext);
    }
    await item.getByRole('button', { name: `View ${name}` }).click();
    await page.getByRole('heading', { name, exact: true }).waitFor();
    assert.deepEqual(await page.locator('#summary .warnings li').allTextContents(), said[name] || [], name);
    shown[name] = await page.locator('#summary dd').allTextContents();
  }
  // The crafted name changes nothing in the view.
  assert.deepEqual(shown['crafted.bd1'], shown['courtyard.bd1']);
  await page.close();
});

// Runs in the page: drops each list of [name, base64] files, in turn.
function drop(lists) {
  for (const files of lists) {
    const data = new DataTransfer();
    for (const [name, b64] of files) data.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], name));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: data, cancelable: true }));
  }
}
const file = (path) => [basename(path), readFileSync(path).toString('base64')];

test('a drop before the converter is ready waits for it; of two drops during a conversion, the second is shown', async () => {
  const early = JSON.stringify([[file(join(ROOT, 'examples', 'cube.bd1'))]]);
  const page = await openPage(browser, { init: `document.addEventListener('DOMContentLoaded', () => { (${drop})(${early});
    window.early = document.querySelector('#results li').textContent; });` });
  assert.equal(await page.evaluate(() => window.early), 'cube.bd1 Waiting for the converter…');
  assert.equal(await (await itemFor(page, 'cube.bd1')).getAttribute('data-state'), 'done');
  await page.evaluate(drop, [[file(COURTYARD)], [file(join(ROOT, 'examples', 'stairs.bd1'))]]);
  await itemFor(page, 'stairs.bd1');
  assert.equal(await page.locator('#summary h3').textContent(), 'stairs.bd1');
  await page.close();
});

test('axe finds nothing with and without a map; zoom stops short of losing it; a phone scrolls past the view', async () => {
  const page = await openPage(browser);
  const axe = async () => (await new AxeBuilder({ page }).analyze()).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target)}`);
  assert.deepEqual(await axe(), []);
  await page.getByRole('button', { name: 'Try an example' }).click();
  await page.getByRole('application', { name: '3D view of courtyard.bd1' }).waitFor();
  assert.deepEqual(await axe(), []);
  if (process.env.BLOCKMQO_WEB_SHOTS) await page.screenshot({ path: join(process.env.BLOCKMQO_WEB_SHOTS, 'web-courtyard.png') });

  // A phone: an upward swipe that starts on the view scrolls the page.
  await page.setViewportSize({ width: 375, height: 700 });
  const box = await page.locator('#view').boundingBox();
  const cdp = await browser.context.newCDPSession(page);
  const touch = (type, y) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: y ? [{ x: box.x + 100, y }] : [] });
  await touch('touchStart', box.y + 100);
  for (let i = 1; i <= 10; i++) await touch('touchMove', box.y + 100 - 25 * i);
  await touch('touchEnd');
  await page.waitForFunction(() => scrollY > 150);
  assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 375);
  assert.match(await page.locator('#view-keys').textContent(), /On a touch\s+screen: swipe sideways to turn/);
  await page.setViewportSize({ width: 1280, height: 860 });
  await page.locator('#view').focus();
  const shots = {};
  for (const key of ['-', '+']) {
    for (let i = 0; i < 40; i++) await page.keyboard.press(key);
    const at = await page.locator('#view').screenshot();
    await page.keyboard.press(key);
    assert.ok(at.equals(await page.locator('#view').screenshot()), `"${key}" goes on past its limit`);
    shots[key] = at;
  }
  await page.getByRole('button', { name: 'Remove courtyard.bd1' }).click();
  const empty = await page.locator('#view').screenshot();
  for (const key of ['-', '+']) assert.ok(!shots[key].equals(empty), `after "${key}" the map is gone`);

  await page.close();
});

test('after one visit the page opens and converts offline', async () => {
  const requests = [];
  browser.context.on('request', (request) => requests.push(request.url()));
  const page = await openPage(browser);
  await page.evaluate(() => navigator.serviceWorker.ready);
  await browser.context.setOffline(true);  // the last test: the browser closes offline
  await page.reload();
  await page.getByText('Ready.').waitFor();
  await page.getByRole('button', { name: 'Try an example' }).click();
  assert.equal(await (await itemFor(page, 'courtyard.bd1')).getAttribute('data-state'), 'done');
  // Everything comes from the page's own server, or from the page itself.
  assert.deepEqual(requests.filter((url) => !url.startsWith(`${browser.origin}/`) && !url.startsWith('blob:')), []);
  await page.close();
});

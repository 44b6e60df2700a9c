// The page in Debian's headless Chromium, against the loopback server.
//   BLOCKMQO_CLI        the command-line companion (default out/native/cli/blockmqo-cli)
//   BLOCKMQO_WEB_OUT    the built page (default out/web)
//   BLOCKMQO_WEB_SHOTS  a folder for the screenshot of examples/courtyard.bd1
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import AxeBuilder from '@axe-core/playwright';
import { unzipSync } from 'fflate';
import { ROOT, openBrowser, openPage } from './browser.mjs';

const CLI = process.env.BLOCKMQO_CLI || join(ROOT, 'out', 'native', 'cli', 'blockmqo-cli');
const maps = (folder) => readdirSync(join(ROOT, folder)).filter((f) => f.endsWith('.bd1')).map((f) => join(ROOT, folder, f));
const COURTYARD = join(ROOT, 'examples', 'courtyard.bd1'), CUBE = join(ROOT, 'examples', 'cube.bd1');
// A map whose texture names pick these images (BMP, PNG, TGA), in any case, past a folder.
const STEPS = join(ROOT, 'tests', 'mesh', 'textured', 'steps.bd1');
const IMAGES = ['stone.bmp', 'moss.png', 'wood.tga'].map((f) => join(ROOT, 'tests', 'mesh', 'textured', f));
let browser, work;

before(async () => { work = mkdtempSync(join(tmpdir(), 'blockmqo-web-')); browser = await openBrowser(); });
after(async () => { await browser?.close(); rmSync(work, { recursive: true, force: true }); });

async function itemFor(page, name) {
  const item = page.locator('#results li').filter({ has: page.locator('.name', { hasText: name }) }).last();
  await item.and(page.locator('[data-state="done"], [data-state="failed"]')).waitFor();
  return item;
}

// Why each failing map failed, in the page's words, which come before the converter's own.
const WHY = {
  'empty.bd1': /^The file is empty; a map needs at least 312 bytes\.$/,
  'short-header.bd1': /^The file is 200 bytes; a map needs at least 312 bytes\.$/,
  'negative-count.bd1': /^Its block count is negative \(-\d+\); a map holds 0 to 32,767 blocks\./,
  'count-beyond-data.bd1': /^The file is 628 bytes, but the \d+ blocks it says it holds need [\d,]+ bytes/,
};

// The kinds of file a map's row offers in turn, and blockmqo-cli's options for each.
const KINDS = { mqo: [], optimized: ['--optimize'], obj: ['--optimize', '-f', 'obj'], glb: ['--optimize', '-f', 'glb'] };
const OFFERED = ['mqo', 'optimized', 'obj', 'obj', 'glb'];

// Every violation axe finds of WCAG 2.2 AA and of its best practices, in light and dark.
const axe = async (page) => [...await axeIn(page, 'dark'), ...await axeIn(page, 'light')];
const axeIn = async (page, colorScheme) => (await page.emulateMedia({ colorScheme }), await new AxeBuilder({ page }).withTags(['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice'])
  .analyze()).violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target)}`);

// Runs in the page: drops each list of [name, base64] files, in turn.
function drop(lists) {
  for (const files of lists) {
    const data = new DataTransfer();
    for (const [name, b64] of files) data.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], name));
    window.dispatchEvent(new DragEvent('drop', { dataTransfer: data, cancelable: true }));
  }
}
const file = (path) => [basename(path), readFileSync(path).toString('base64')];

// First, while no service worker keeps the module: a load that fails is tried again.
test('a drop while the converter cannot load waits for it to load again; of two drops during a conversion, the second is shown; a stopped converter is replaced; no WebGL, no view', async () => {
  const page = await browser.context.newPage();
  await page.route('**/blockmqo.wasm', (route) => route.abort());
  await page.addInitScript(`document.addEventListener('DOMContentLoaded', () => (${drop})(${JSON.stringify([[file(CUBE)]])}));
    HTMLCanvasElement.prototype.getContext = ((get) => function (kind) { return /webgl/.test(kind) ? null : get.apply(this, arguments); })(HTMLCanvasElement.prototype.getContext);`);
  await page.goto(`${browser.origin}/`);
  await page.getByRole('button', { name: 'Try again' }).waitFor();
  assert.match(await page.locator('#status').textContent(),
    /^The converter could not be loaded, so nothing can be converted yet\. Check the connection and try again; files already chosen wait for it\. \(.+\.\) /);
  assert.equal(await page.locator('#results li').textContent(), 'cube.bd1 Waiting for the converter…');
  // A map cleared while it waits is forgotten (the run ends with nothing to say of it); the converter is tried again.
  await page.getByRole('button', { name: 'Clear the list' }).click();
  await page.getByRole('button', { name: 'Try again' }).waitFor();
  await page.unroute('**/blockmqo.wasm');
  await page.getByRole('button', { name: 'Try again' }).click();
  await page.getByText('Ready.').waitFor();
  await page.evaluate(drop, [[file(CUBE)]]);
  assert.equal(await (await itemFor(page, 'cube.bd1')).getAttribute('data-state'), 'done');
  await page.getByText(/^The 3D view is not available: this browser cannot draw it \(no WebGL\)/).waitFor();
  assert.deepEqual([await page.locator('#view').isVisible(), await page.locator('#status').textContent(), await axe(page)], [false, 'cube.bd1 converted.', []]);
  await page.evaluate(drop, [[file(COURTYARD)], [file(join(ROOT, 'examples', 'stairs.bd1'))]]);
  await itemFor(page, 'stairs.bd1');
  assert.equal(await page.locator('#summary h3').textContent(), 'stairs.bd1');
  // A worker that stops fails the file it had in hand, and a fresh one takes the next.
  await page.workers().at(-1).evaluate(() => { self.onmessage = () => { throw new Error('out of order'); }; });
  await page.evaluate(drop, [[file(CUBE)]]);
  assert.match(await (await itemFor(page, 'cube.bd1')).locator('.failure').textContent(), /^Failed: the converter stopped \(.*out of order\)$/);
  await page.evaluate(drop, [[file(CUBE)]]);
  assert.equal(await (await itemFor(page, 'cube.bd1')).getAttribute('data-state'), 'done');
  await page.close();
});

// Every text the status line (the live region) shows, in order, and whether "Download all" then refused a second zip and showed its progress.
const STATUS_LOG = `addEventListener('DOMContentLoaded', () => { const s = document.getElementById('status'); self.said = [];
  new MutationObserver(() => said.push([s.textContent, zip.ariaDisabled === 'true' && !document.getElementById('zip-progress').hidden]))
    .observe(s, { childList: true, characterData: true, subtree: true }); })`;

test('each map gives blockmqo-cli\'s files byte for byte (images given with them in its glb), its failure or its warnings; a map whose file is gone is left out', async () => {
  writeFileSync(join(work, 'empty.bd1'), '');
  // No blocks, and more bytes after them than they take: the format ignores those bytes, and both say so.
  writeFileSync(join(work, 'zeros.bd1'), Buffer.alloc(2000));
  const inputs = [...maps('examples'), ...maps('fuzz/seeds'), ...['empty', 'zeros'].map((n) => join(work, `${n}.bd1`)), STEPS];
  const said = Object.fromEntries(Object.entries(KINDS).map(([kind, options]) => {  // what blockmqo-cli says of each map, by its name
    mkdirSync(join(work, kind));
    // The images beside the OBJ, so that its MTL names them by their names alone, as the page's does.
    for (const image of IMAGES) copyFileSync(image, join(work, kind, basename(image)));
    const { stderr } = spawnSync(CLI, [...inputs, ...options, '--textures', join(work, kind), '-d', join(work, kind)], { encoding: 'utf8' });
    const of = {};
    for (const [, text, map] of stderr.matchAll(/^blockmqo-cli: (?:warning: )?(.*?): ([^:\n]*\.bd1)(?:: .*)?$/gm)) (of[basename(map)] ||= []).push(text);
    return [kind, of];
  }));

  const page = await openPage(browser, { init: STATUS_LOG });
  copyFileSync(CUBE, join(work, 'gone.bd1'));
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles([...inputs, CUBE, join(work, 'gone.bd1'), ...IMAGES]);  // a second map of one name
  const shown = {}, entries = [], files = {};
  for (const name of inputs.map((f) => basename(f))) {
    const item = await itemFor(page, name);
    if (await item.getAttribute('data-state') === 'failed') {
      // The page's words first, then the converter's own.
      const [why, failure] = await item.locator('.detail > span').allTextContents();
      assert.ok(WHY[name].test(why) && [failure].join() === said.mqo[name].join(), `${name}: ${why} ${failure}`);
      continue;
    }
    // Its row shows the map's warnings before it is viewed.
    const own = said.mqo[name] || [];
    assert.deepEqual((await item.locator('.warnings li').allTextContents()).slice(0, own.length), own, name);
    await item.getByRole('button', { name: `View ${name}` }).click();
    await page.getByRole('heading', { name, exact: true }).waitFor();
    assert.deepEqual(await page.locator('#summary .warnings li').allTextContents(), own, name);
    shown[name] = await page.locator('#summary dd').allTextContents();
    // Its BMP, PNG and TGA are all used, and named so in the legend.
    if (name === 'steps.bd1') assert.deepEqual((await page.locator('#summary td .tex').allTextContents()).filter((t) => /image/.test(t)), []);
    // The files' names are the core's; each is blockmqo-cli's file of that name (in a folder of optimised documents without the word).
    files[name] = (await item.locator('.downloads .visually-hidden').allTextContents()).map((t) => t.slice(2, -1));
    entries.push(...files[name].map((f, i) => [f, readFileSync(join(work, OFFERED[i], f.replace('-optimized', '')))]));
  }
  // A map of no blocks says so, and how many bytes were ignored.
  assert.match(said.mqo['zeros.bd1'].join(), /holds no blocks.*1,?688/);

  await itemFor(page, 'gone.bd1');
  const failed = inputs.map((f) => basename(f)).filter((n) => n in WHY), n = inputs.length + 2, ok = n - failed.length;
  assert.deepEqual(await page.evaluate(() => said.filter(([t]) => t.startsWith('Converting')).map(([t]) => t)), [`Converting ${n} maps…`]);
  assert.match(await page.locator('#status').textContent(), new RegExp(`^${ok} of ${n} maps converted; not converted: ${failed.join(', ')}; with warnings: \\S`));

  // All files as one zip, the second cube in a folder of its own, the map
  // whose file is gone left out; what an OBJ or a glb loses is said in its
  // map's row, as blockmqo-cli says it.
  rmSync(join(work, 'gone.bd1'));
  const [all] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Download all (.zip)' }).click()]);
  // Said once; while it is made no second one can be started.
  assert.deepEqual(await page.evaluate(() => said.filter(([t]) => t.startsWith('Making the zip'))), [[`Making the zip of ${ok} maps…`, true]]);
  assert.match(await page.locator('#status').textContent(), new RegExp(`^blockmqo\\.zip downloaded: ${ok - 1} maps\\. ` +
    'Left out: gone\\.bd1 \\(The file can no longer be read: it was moved, deleted or changed after it was chosen\\.'));
  const zipped = unzipSync(readFileSync(await all.path()));
  const expected = Object.fromEntries([...entries, ...entries.filter(([n]) => /^cube[.-]/.test(n)).map(([n, b]) => [`2/${n}`, b])]);
  assert.deepEqual(Object.keys(zipped).sort(), Object.keys(expected).sort());
  for (const [n, bytes] of Object.entries(expected)) assert.ok(bytes.equals(zipped[n]), n);
  for (const name of Object.keys(shown)) {
    const lines = [1, 2, 4].flatMap((k) => (said[OFFERED[k]][name] || []).map((text) => `${files[name][k]}: ${text}`));
    const row = await (await itemFor(page, name)).locator('.warnings li').allTextContents();
    assert.deepEqual(row.sort(), [...new Set([...said.mqo[name] || [], ...lines])].sort(), name);
  }
  // And one by one: each button, a verb and its file's kind, gives its file under its name.
  const glbName = files['odd-values.bd1'][4], glb = page.getByRole('button', { name: `Download .glb (${glbName})` });
  const [one] = await Promise.all([page.waitForEvent('download'), glb.click()]);
  assert.ok(one.suggestedFilename() === glbName && readFileSync(await one.path()).equals(expected[glbName]));
  assert.equal(await glb.evaluate((b) => b.firstChild.textContent), 'Download .glb');
  await page.getByText(`${glbName} downloaded, with warnings, listed in its row.`).waitFor();
  await page.getByRole('button', { name: /^Download \.obj \(gone/ }).click();
  await page.getByText(/^gone\S*\.obj could not be made: The file can no longer be read/).waitFor();
  assert.deepEqual(await axe(page), []);
  await page.close();
});

test('axe finds nothing with and without a map; a phone keeps a converted map\'s row in sight, shows its view on a tap and scrolls past it; zoom stops short of losing it; focus stays on the list', async () => {
  const page = await openPage(browser);
  const tabStop = () => page.locator('#view').evaluate((e) => e.tabIndex);
  assert.deepEqual([await axe(page), await tabStop()], [[], -1]);
  // A phone: a name of any length wraps at 320 px, in the row and in the status line.
  await page.setViewportSize({ width: 320, height: 700 });
  const long = join(work, `${'NoSpaceInThisName'.repeat(6)}.bd1`);
  writeFileSync(long, 'short');
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles([long]);
  await itemFor(page, basename(long));
  assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 320);
  await page.getByRole('button', { name: `Remove ${basename(long)}` }).click();
  // The map converted stays in sight with its downloads; the view is a tap away, and so is the way back.
  await page.setViewportSize({ width: 375, height: 812 });
  await page.getByRole('button', { name: 'Try an example' }).click();
  const inSight = async (locator) => { const { y, height } = await locator.boundingBox(); return y > -1 && y + height < 812; };
  assert.ok(await inSight((await itemFor(page, 'courtyard.bd1')).locator('.downloads')));
  await page.getByRole('button', { name: 'View courtyard.bd1' }).click();
  await page.getByRole('application', { name: '3D view of courtyard.bd1' }).waitFor();
  // The example comes with its images: every name its faces use has one.
  assert.deepEqual((await page.locator('#summary td .tex').allTextContents()).filter((t) => /image/.test(t)), []);
  assert.ok(await inSight(page.locator('#map-heading')));
  assert.deepEqual([await axe(page), await tabStop(), await page.locator('#view-empty').isVisible()], [[], 0, false]);
  await page.getByRole('link', { name: 'Back to the list' }).click();
  await page.waitForFunction(() => document.getElementById('results').getBoundingClientRect().top < 812);
  await page.getByRole('button', { name: 'View courtyard.bd1' }).click();
  const box = await page.locator('#view').boundingBox(), scrolled = await page.evaluate(() => scrollY);
  const cdp = await browser.context.newCDPSession(page);
  const touch = (type, y) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: y ? [{ x: box.x + 100, y }] : [] });
  await touch('touchStart', box.y + 100);
  for (let i = 1; i <= 10; i++) await touch('touchMove', box.y + 100 - 25 * i);
  await touch('touchEnd');
  await page.waitForFunction((y) => scrollY > y + 150, scrolled);
  assert.equal(await page.evaluate(() => document.documentElement.scrollWidth), 375);
  await page.setViewportSize({ width: 1280, height: 860 });
  if (process.env.BLOCKMQO_WEB_SHOTS) await page.screenshot({ path: join(process.env.BLOCKMQO_WEB_SHOTS, 'web-courtyard.png') });
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
  const focused = () => page.evaluate(() => document.activeElement.id || document.activeElement.textContent);
  assert.deepEqual([await focused(), await tabStop(), await page.locator('#view-empty').isVisible()], ['files', -1, true]);

  // An image given with the map, under one of its texture names in any case, textures its view.
  copyFileSync(join(ROOT, 'docs', 'web-courtyard.png'), join(work, 'WALL_A.BMP'));
  const choose = async (files) => {
    await page.getByLabel('Choose block data files (.bd1)').setInputFiles(files);
    await page.locator('#results > li').last().and(page.locator('[data-state="done"]')).waitFor();
    return page.locator('#view').screenshot();
  };
  const plain = await choose([COURTYARD]), textured = await choose([COURTYARD, join(work, 'WALL_A.BMP')]);
  assert.ok(!plain.equals(textured), 'the image is not on the view');
  // Each image is named by what became of it: only names that faces use miss one.
  const notes = async () => (await page.locator('#summary td .tex').allTextContents()).filter((t) => /image/.test(t));
  assert.deepEqual(await notes(), Array(4).fill('no image given'));
  // An image given after its map textures it; one that no map names is said to be none of theirs.
  await page.getByRole('button', { name: 'Remove courtyard.bd1' }).last().click();
  assert.equal(await focused(), 'Download .mqo (courtyard.mqo)');
  await page.getByRole('button', { name: 'View courtyard.bd1' }).click();
  copyFileSync(join(ROOT, 'web', 'icon.svg'), join(work, 'other.png'));
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles([join(work, 'WALL_A.BMP'), join(work, 'other.png')]);
  await page.getByText(/^Textured: WALL_A\.BMP\. Not a map, and no map on the list names it: other\.png\./).waitFor();
  assert.ok(textured.equals(await page.locator('#view').screenshot()), 'the image given after is not on the view');
  // Images given but broken are named so, with the reason, in the legend and in the status line.
  mkdirSync(join(work, 'broken'));
  writeFileSync(join(work, 'broken', 'stone.bmp'), 'BM but no bitmap');
  writeFileSync(join(work, 'broken', 'moss.png'), '');
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles([STEPS, join(work, 'broken', 'stone.bmp'), join(work, 'broken', 'moss.png')]);
  await page.getByText(/^steps\.bd1 converted.* An image given for steps\.bd1 could not be read\.$/).waitFor();
  assert.deepEqual([await notes(), await axe(page)], [['image given but unreadable: cut short', 'image given but unreadable: not an image', 'no image given'], []]);
  // Clearing the list forgets every map and starts a fresh converter, and says only that.
  const [used] = page.workers(), fresh = page.waitForEvent('worker');
  await page.getByRole('button', { name: 'Clear the list' }).click();
  await fresh;
  await page.waitForFunction(() => performance.getEntriesByName('blockmqo-ready').length === 2);
  assert.deepEqual([page.workers().includes(used), await page.locator('#results li').count(), await page.locator('#summary').textContent(),
    await page.getByRole('button', { name: 'Download all (.zip)' }).isDisabled(), await focused(), await page.locator('#status').textContent()],
  [false, 0, 'No map yet.', true, 'files', 'The list is cleared.']);

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
  // Served compressed.
  assert.equal((await fetch(`${browser.origin}/app.js`, { headers: { 'accept-encoding': 'br' } })).headers.get('content-encoding'), 'br');
  await page.getByRole('button', { name: 'Try an example' }).click();
  assert.equal(await (await itemFor(page, 'courtyard.bd1')).getAttribute('data-state'), 'done');
  // Everything comes from the page's own server, or from the page itself.
  assert.deepEqual(requests.filter((url) => !url.startsWith(`${browser.origin}/`) && !url.startsWith('blob:')), []);
  await page.close();
});

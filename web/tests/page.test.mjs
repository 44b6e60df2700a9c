// The page in Debian's headless Chromium, against the loopback server:
// documents byte for byte those of blockmqo-cli, a cut file's failure beside
// its name, and the view drawing a map offline and turning by keyboard.
//   BLOCKMQO_CLI      the command-line companion (default out/native/cli/blockmqo-cli)
//   BLOCKMQO_WEB_OUT  the built page (default out/web)
//   BLOCKMQO_WEB_SHOTS  a folder for the screenshot of examples/courtyard.bd1
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { ROOT, openBrowser, openPage } from './browser.mjs';
import { blockData, box, boxesMap, random } from './maps.mjs';

const CLI = process.env.BLOCKMQO_CLI || join(ROOT, 'out', 'native', 'cli', 'blockmqo-cli');
const EXAMPLES = join(ROOT, 'examples');
let browser, work;

before(async () => {
  work = mkdtempSync(join(tmpdir(), 'blockmqo-web-'));
  browser = await openBrowser();
});
after(async () => {
  await browser?.close();
  if (work) rmSync(work, { recursive: true, force: true });
});

const NAN = 0x7fc00000, INF = 0x7f800000, SNAN = 0x7f800001;

// Names and values a document may trip on: quotes, a line feed, a name
// filling its field with no NUL, bytes that are not UTF-8; exact rounding
// ties, negative zero, infinities and NaNs, materials outside 0 to 9.
function oddMap() {
  const names = ['say "hi"', 'line\nfeed', 'x'.repeat(30), 'y'.repeat(31), '',
    'empty', 'caf\xe9.bmp', '', 'tex8', 'tex9'];
  const next = random(11);
  const blocks = [];
  for (let b = 0; b < 40; b++) {
    const x = Math.round(next() * 64) / 32 - 1, z = Math.floor(next() * 20) - 10;
    const tex = Array.from({ length: 6 }, () => Math.floor(next() * 12) - 1);
    blocks.push(box(x, 0, z, x + 1 / 64, 1.03125, z - 0, tex, [1 / 64, -1 / 64, 0.5, -0], [3 / 64, 5 / 64, 1e-7, 2]));
  }
  blocks[3].bits = [[2, NAN]];               // a first coordinate
  blocks[5].bits = [[8, INF], [9, INF | 0x80000000]];
  blocks[7].bits = [[23, SNAN]];             // a third coordinate
  blocks[9].bits = [[30, NAN], [60, INF]];   // texture coordinates: the block is still drawn
  blocks[11].tex = [2147483647, -2147483648, 9, 0, 10, -1];
  const faces = new Array(10).fill(0);
  let outside = 0;
  for (const b of blocks) for (const t of b.tex) (t >= 0 && t <= 9 ? faces[t]++ : outside++);
  return { bytes: blockData(names, blocks), blocks: blocks.length, faces, outside, nonFinite: 3 };
}

async function itemFor(page, name) {
  const item = page.locator('#results li').filter({ has: page.locator('.name', { hasText: name }) }).last();
  await item.and(page.locator('[data-state="done"], [data-state="failed"]')).waitFor();
  return item;
}

// The counts the page shows: blocks, vertices, faces, out-of-range, non-finite;
// then the faces per material and which counts are marked as warnings.
async function shownCounts(page) {
  return page.evaluate(() => {
    const number = (e) => Number(e.textContent.replace(/[^\d-]/g, ''));
    const all = (selector) => [...document.querySelectorAll(selector)];
    return [...['blocks', 'vertices', 'faces', 'out-of-range', 'non-finite']
      .map((name) => number(document.querySelector(`[data-count="${name}"]`))),
    all('[data-material]').map(number), all('#summary dd.warning').map((e) => e.dataset.count)];
  });
}

test('every document downloaded from the page is byte for byte what blockmqo-cli writes', async () => {
  const odd = oddMap();
  const inputs = [];
  const add = (name, bytes) => { writeFileSync(join(work, name), bytes); inputs.push(join(work, name)); };
  add('odd.bd1', odd.bytes);  // first, so it is the map on show
  for (const f of readdirSync(EXAMPLES).filter((f) => f.endsWith('.bd1'))) add(f, readFileSync(join(EXAMPLES, f)));
  add('nothing.bd1', blockData(new Array(10).fill(''), [], { extra: 7 }));  // no blocks, bytes after the end
  add('largest.bd1', boxesMap(32767, 5));
  add('Mixed.Case.BD1', boxesMap(20, 6));
  const courtyard = readFileSync(join(EXAMPLES, 'courtyard.bd1'));
  add('cut.bd1', courtyard.subarray(0, courtyard.length - 1));

  const expected = join(work, 'cli');
  mkdirSync(expected);
  const cli = spawnSync(CLI, [...inputs, '-d', expected], { encoding: 'utf8' });
  assert.equal(cli.status, 1, cli.stderr);  // it refuses cut.bd1 alone
  assert.match(cli.stderr, /^blockmqo-cli: Failed: read file \(bd\): .*cut\.bd1\n$/m);

  const page = await openPage(browser);
  await page.getByLabel('Choose block data files (.bd1)').setInputFiles(inputs);
  for (const input of inputs) {
    const name = basename(input);
    const item = await itemFor(page, name);
    if (name === 'cut.bd1') {
      assert.equal(await item.locator('.failure').textContent(), 'Failed: read file (bd)');
      assert.equal(await item.locator('a[download]').count(), 0, 'a failed file offers no document');
      continue;
    }
    const documentName = name.replace(/\.bd1$/i, '') + '.mqo';
    const [download] = await Promise.all([page.waitForEvent('download'), item.locator('a[download]').click()]);
    assert.equal(download.suggestedFilename(), documentName);
    const got = readFileSync(await download.path());
    assert.ok(got.equals(readFileSync(join(expected, documentName))), `${documentName} differs from blockmqo-cli's`);
  }

  // What the view read back from the document, against what went into the map.
  assert.deepEqual(await shownCounts(page), [odd.blocks, 8 * odd.blocks, 6 * odd.blocks, odd.outside,
    odd.nonFinite, odd.faces, ['out-of-range', 'non-finite']]);
  await page.getByRole('button', { name: 'View largest.bd1' }).click();
  const largest = await shownCounts(page);
  largest.splice(5, 1);  // all but the faces per material
  assert.deepEqual(largest, [32767, 8 * 32767, 6 * 32767, 0, 0, []]);
  await page.close();
});

// Colours of the view's pixels in a screenshot, decoded by the page itself.
async function pixels(page) {
  const png = await page.locator('#view').screenshot();
  return page.evaluate(async (data) => {
    const image = new Image();
    image.src = `data:image/png;base64,${data}`;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    return Array.from(context.getImageData(0, 0, image.width, image.height).data);
  }, png.toString('base64'));
}

test('offline, the view draws examples/courtyard.bd1 in colour and the keyboard turns it', async () => {
  const requests = [];
  const record = (request) => requests.push(request.url());
  browser.context.on('request', record);
  const page = await openPage(browser);
  const loaded = requests.length;
  await browser.context.setOffline(true);
  try {
    await page.getByLabel('Choose block data files (.bd1)').setInputFiles(join(EXAMPLES, 'courtyard.bd1'));
    await (await itemFor(page, 'courtyard.bd1')).locator('a[download]').waitFor();
    const view = page.getByRole('application', { name: '3D view of courtyard.bd1' });
    await page.waitForTimeout(300);
    const before = await pixels(page);

    // The background is #eef1f5; the map must cover part of the canvas in
    // several of the materials' colours.
    const drawn = [];
    for (let i = 0; i < before.length; i += 4) {
      const [r, g, b] = before.slice(i, i + 3);
      if (Math.abs(r - 0xee) + Math.abs(g - 0xf1) + Math.abs(b - 0xf5) > 24) drawn.push(`${r >> 5},${g >> 5},${b >> 5}`);
    }
    const share = drawn.length / (before.length / 4), colours = new Set(drawn);
    assert.ok(share > 0.02, `only ${(100 * share).toFixed(2)}% of the canvas is drawn`);
    assert.ok(colours.size >= 5, `only ${colours.size} colours drawn`);

    if (process.env.BLOCKMQO_WEB_SHOTS) {
      mkdirSync(process.env.BLOCKMQO_WEB_SHOTS, { recursive: true });
      await page.screenshot({ path: join(process.env.BLOCKMQO_WEB_SHOTS, 'web-courtyard.png') });
    }

    await view.focus();
    for (let i = 0; i < 4; i++) await page.keyboard.press('Shift+ArrowLeft');
    await page.keyboard.press('+');
    await page.waitForTimeout(300);
    const after = await pixels(page);
    let changed = 0;
    for (let i = 0; i < after.length; i += 4) if (after[i] !== before[i] || after[i + 2] !== before[i + 2]) changed++;
    assert.ok(changed > after.length / 4 / 50, `the keyboard moved ${changed} pixels`);
  } finally {
    await browser.context.setOffline(false);
  }
  browser.context.off('request', record);
  // Everything the page loads comes from its own server, and once loaded it
  // asks for nothing more, from anywhere.
  assert.ok(loaded > 0);
  assert.deepEqual(requests.slice(0, loaded).filter((url) => !url.startsWith(`${browser.origin}/`)), []);
  assert.deepEqual(requests.slice(loaded).filter((url) => !url.startsWith('blob:')), []);
  await page.close();
});

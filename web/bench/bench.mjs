// The page's figures, measured, never asserted: sizes of what it loads, the
// time to load it, the largest map from its choice to its view against the
// conversion alone (in the page and native), the browser's memory as results
// pile up and are cleared, and the view's frame rate in headless Chromium.
// The page is timed from outside, through its performance marks and measures.
//   node web/bench/bench.mjs [REPS] [BUILT]     (after node web/build.mjs)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { brotliCompressSync, gzipSync } from 'node:zlib';
import { BUILT, ROOT, openBrowser, openPage } from '../tests/browser.mjs';

const reps = Number(process.argv[2] || 7);
const work = mkdtempSync(join(tmpdir(), 'blockmqo-bench-'));
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// The realistic largest map: 32767 boxes with corners on a 1/8 grid within
// ±2000 and texture coordinates on a 1/64 grid, the same every run.
function largestMap() {
  let s = 5;
  const next = () => { s ^= s << 13; s >>>= 0; s ^= s >>> 17; s ^= s << 5; s >>>= 0; return s / 4294967296; };
  const grid = (range, step) => Math.round((next() * 2 - 1) * range / step) * step;
  const out = Buffer.alloc(312 + 316 * 32767);
  ['wall', 'floor', 'roof', 'stone', 'wood', 'grass', 'water', 'metal', 'glass', 'sand']
    .forEach((name, i) => out.write(`${name}.bmp`, 31 * i, 'latin1'));
  out.writeUInt16LE(32767, 310);
  for (let b = 0, at = 312; b < 32767; b++, at += 316) {
    const x = grid(2000, 0.125), y = grid(200, 0.125), z = grid(2000, 0.125), t = Math.floor(next() * 10);
    const uv = [grid(4, 1 / 64), grid(4, 1 / 64), grid(4, 1 / 64), grid(4, 1 / 64)];
    const x1 = x + 1 + grid(8, 0.125) ** 2 / 8, y1 = y + 1 + Math.abs(grid(8, 0.125)), z1 = z + 1 + Math.abs(grid(8, 0.125));
    const words = [x, x1, x1, x, x, x1, x1, x, y1, y1, y1, y1, y, y, y, y, z, z, z1, z1, z, z, z1, z1];
    for (let k = 0; k < 48; k++) words.push(uv[k % 4]);
    words.forEach((w, k) => out.writeFloatLE(w, at + 4 * k));
    [t, t, (t + 1) % 10, (t + 2) % 10, t, t].forEach((tex, f) => out.writeInt32LE(tex, at + 4 * (72 + f)));
  }
  return out;
}
const largest = join(work, 'largest.bd1');
writeFileSync(largest, largestMap());

console.log('what the page loads (bytes: as served, gzip -9, brotli)');
for (const f of ['blockmqo.wasm', 'worker.js', 'app.js', 'sw.js', 'index.html', 'style.css']) {
  const b = readFileSync(join(BUILT, f));
  console.log(`  ${f.padEnd(14)} ${b.length} ${gzipSync(b, { level: 9 }).length} ${brotliCompressSync(b).length}`);
}

// Native: the same core sources, optimised as the native build is (-O2).
const native = join(work, 'native');
execFileSync('c++', ['-O2', '-std=c++20', `-I${ROOT}`, join(ROOT, 'web/bench/native.cpp'),
  ...['numtext/numtext.cpp', 'numtext/exact.cpp', 'blockdata/blockdata.cpp', 'mqo/document.cpp'
].map((f) => join(ROOT, f)), '-o', native]);
const [nativeMs, bytes] = execFileSync(native, [largest, String(reps)]).toString().trim().split(' ');
console.log(`largest map (32767 blocks, ${bytes} bytes of document)`);
console.log(`  native in-memory conversion, median of ${reps}: ${nativeMs} ms`);

// The browser's memory: the proportional set size (shared pages split among
// their sharers) of every process of its profile, in MiB.
const memory = (browser) => execFileSync('ps', ['-eo', 'pid=,args=']).toString().split('\n')
  .filter((l) => l.includes(browser.profile)).reduce((sum, l) => {
    try {
      return sum + Number(/Pss:\s+(\d+)/.exec(readFileSync(`/proc/${l.trim().split(' ')[0]}/smaps_rollup`, 'utf8'))[1]);
    } catch {
      return sum;  // the process ended meanwhile
    }
  }, 0) / 1024;
const lastMeasure = (where, name) => where.evaluate((n) => performance.getEntriesByName(n).at(-1)?.duration, name);

const browser = await openBrowser();
try {
  const loads = [];
  for (let i = 0; i < reps; i++) {
    const page = await openPage(browser);
    loads.push(await page.evaluate(() => performance.getEntriesByName('blockmqo-ready')[0].startTime));
    await page.close();
  }
  console.log(`  page load to converter ready (loopback), median of ${reps}: ${median(loads).toFixed(0)} ms`);

  // Once the page has drawn a map's first frame, the GPU (here SwiftShader,
  // on the CPU) may still be drawing it: one pixel read back waits for it.
  const page = await openPage(browser, { init: `{
    const measure = performance.measure.bind(performance);
    performance.measure = (name, options) => {
      const entry = measure(name, options);
      if (name === 'blockmqo-choose-to-frame') {
        const gl = document.getElementById('view').getContext('webgl2');
        gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
        measure('blockmqo-choose-to-pixels', options);
      }
      return entry;
    };
  }` });
  // The conversion alone: the page's worker on its own, with nothing drawn
  // meanwhile (in the page, drawing the view competes for the same cores).
  await page.evaluate(() => document.body.append(Object.assign(document.createElement('input'), { type: 'file', id: 'bench' })));
  await page.setInputFiles('#bench', largest);
  await page.evaluate(async (n) => {
    const worker = self.benchWorker = new Worker('worker.js');
    await new Promise((ready) => { worker.onmessage = ready; });
    for (let id = 0; id < n; id++) {
      await new Promise((done) => {
        worker.onmessage = (e) => e.data.type === 'done' && done();
        worker.postMessage({ id, file: document.getElementById('bench').files[0], name: 'largest.bd1', format: 'make', kind: 'mqo' });
      });
    }
  }, reps);
  const alone = await page.workers().at(-1).evaluate(() => performance.getEntriesByName('blockmqo-convert').map((e) => e.duration));

  // "Download all" against making its files: the map's five files one by
  // one, as its buttons ask for them (the OBJ comes with its MTL), then the
  // same five as one zip, in turn, in the same worker; then ten of it in one
  // zip, with the browser's memory sampled meanwhile.
  const KINDS = ['mqo', 'optimized', 'obj', 'glb'];
  const timed = (requests) => page.evaluate(async (requests) => {
    const file = document.getElementById('bench').files[0];
    const t0 = performance.now();
    let size = 0;
    for (const [id, request] of requests.entries()) {
      size += await new Promise((done) => {
        self.benchWorker.onmessage = (e) => e.data.type === 'done' &&
          done(e.data.file ? e.data.file.size : e.data.files.reduce((n, f) => n + f.file.size, 0));
        self.benchWorker.postMessage({ id, file, name: 'largest.bd1', ...request,
          maps: request.maps && Array.from({ length: request.maps }, () => ({ file, name: 'largest.bd1', folder: '' })) });
      });
    }
    return [performance.now() - t0, size];
  }, requests);
  const one = [], zipped = [];
  let sizes;
  for (let i = 0; i < reps; i++) {
    const [filesMs, filesSize] = await timed(KINDS.map((kind) => ({ format: 'make', kind })));
    const [zipMs, zipSize] = await timed([{ format: 'zip', maps: 1 }]);
    one.push(filesMs), zipped.push(zipMs), sizes = [filesSize, zipSize];
  }
  console.log(`  "Download all" of the largest map, median of ${reps} (its files ${sizes[0]} bytes, the zip ${sizes[1]}):`);
  console.log(`    its five files one by one: ${median(one).toFixed(0)} ms; as one stored zip: ${median(zipped).toFixed(0)} ms ` +
    `(${(median(zipped) / median(one)).toFixed(2)}x)`);
  await (await browser.context.newCDPSession(page)).send('HeapProfiler.collectGarbage');
  const before = memory(browser);
  let peak = before;
  const sampler = setInterval(() => { peak = Math.max(peak, memory(browser)); }, 200);
  const [tenMs, tenSize] = await timed([{ format: 'zip', maps: 10 }]);
  clearInterval(sampler);
  console.log(`    ten of it in one zip (${(tenSize / 2 ** 20).toFixed(0)} MiB): ${(tenMs / 1000).toFixed(1)} s; ` +
    `browser memory ${before.toFixed(0)} MiB before, at most ${peak.toFixed(0)} MiB while zipping`);
  await page.evaluate(() => { self.benchWorker.terminate(); document.getElementById('bench').remove(); });
  const cdp = await browser.context.newCDPSession(page);
  const settled = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    await page.waitForTimeout(1000);
    return memory(browser).toFixed(0);
  };
  const idle = await settled();
  const views = [], frames = [], pixels = [];
  for (let i = 0; i < reps; i++) {
    await page.setInputFiles('#files', largest);
    await page.locator('#results > li').nth(i).and(page.locator('[data-state="done"]')).waitFor({ timeout: 120000 });
    views.push(await lastMeasure(page, 'blockmqo-choose-to-view'));
    await page.waitForFunction((n) => performance.getEntriesByName('blockmqo-choose-to-frame').length > n, i);
    frames.push(await lastMeasure(page, 'blockmqo-choose-to-frame'));
    pixels.push(await lastMeasure(page, 'blockmqo-choose-to-pixels'));
  }
  console.log(`  in the page, median of ${reps} (first run: conversion ${alone[0].toFixed(1)} ms):`);
  console.log(`    conversion alone (bytes in, document out, the worker on its own): ${median(alone).toFixed(1)} ms`);
  console.log(`    from choosing the file to its first frame drawn (handed to WebGL): ${median(views).toFixed(1)} ms`);
  console.log(`    ... to the next animation frame, which shows it: ${median(frames).toFixed(1)} ms`);
  console.log(`    ... to that frame's pixels finished by the GPU: ${median(pixels).toFixed(1)} ms`);
  const full = await settled();
  await page.getByRole('button', { name: 'Clear the list' }).click();
  console.log(`  browser memory (MiB): idle ${idle}, with ${reps} results ${full}, cleared ${await settled()}`);
  await page.setInputFiles('#files', largest);
  await page.locator('#results > li').and(page.locator('[data-state="done"]')).waitFor({ timeout: 120000 });

  // "Download all" pressed in the page: its time to the download, and the
  // page's longest task meanwhile (the zip is made in the worker).
  const longest = await page.evaluate(async () => {
    let most = 0;
    const observer = new PerformanceObserver((list) => list.getEntries().forEach((e) => { most = Math.max(most, e.duration); }));
    observer.observe({ type: 'longtask' });
    const zip = document.getElementById('zip');
    zip.click();
    while (zip.ariaDisabled === 'true') await new Promise((wait) => setTimeout(wait, 50));
    observer.disconnect();
    return most;
  });
  console.log(`  "Download all" pressed, largest map: ${(await lastMeasure(page, 'blockmqo-download-all')).toFixed(0)} ms to the download; ` +
    `the page's longest task meanwhile: ${longest ? `${longest.toFixed(0)} ms` : 'none over 50 ms'}`);

  // Frames per second while the view turns on its own. At the starting view
  // the boxes of this map are a pixel or less; ten steps closer they fill the
  // canvas, which is the dearer case for a software renderer.
  const framesPerSecond = () => page.evaluate(() => new Promise((done) => {
    let frames = 0;
    const t0 = performance.now();
    const tick = () => {
      frames++;
      const t = performance.now() - t0;
      if (t < 5000) requestAnimationFrame(tick);
      else done(frames / (t / 1000));
    };
    requestAnimationFrame(tick);
  }));
  await page.getByRole('button', { name: 'Turn the map' }).click();
  const far = await framesPerSecond();
  await page.locator('#view').focus();
  for (let i = 0; i < 10; i++) await page.keyboard.press('+');
  const near = await framesPerSecond();
  console.log(`  view turning on its own, 1280x860 window, software WebGL (SwiftShader):`);
  console.log(`    whole map in view: ${far.toFixed(1)} frames per second; ten steps closer: ${near.toFixed(1)}`);
} finally {
  await browser.close();
  rmSync(work, { recursive: true, force: true });
}

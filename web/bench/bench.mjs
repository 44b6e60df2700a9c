// The page's figures, measured, never asserted: sizes of what it loads, the
// time to load it, the largest map's conversion in the page against the
// native in-memory conversion, and the view's frame rate in headless Chromium.
//   node web/bench/bench.mjs [REPS]      (after node web/build.mjs)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { brotliCompressSync, gzipSync } from 'node:zlib';
import { BUILT, ROOT, openBrowser, openPage } from '../tests/browser.mjs';
import { boxesMap } from '../tests/maps.mjs';

const reps = Number(process.argv[2] || 7);
const work = mkdtempSync(join(tmpdir(), 'blockmqo-bench-'));
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const largest = join(work, 'largest.bd1');
writeFileSync(largest, boxesMap(32767, 5));

console.log('what the page loads (bytes: as served, gzip -9, brotli)');
for (const f of ['blockmqo.wasm', 'worker.js', 'app.js', 'index.html', 'style.css']) {
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

const browser = await openBrowser();
try {
  const loads = [];
  for (let i = 0; i < reps; i++) {
    const page = await openPage(browser);
    loads.push(Number(await page.evaluate(() => document.body.dataset.readyMs)));
    await page.close();
  }
  console.log(`  page load to converter ready (loopback), median of ${reps}: ${median(loads)} ms`);

  const page = await openPage(browser);
  const runs = [];
  for (let i = 0; i < reps; i++) {
    await page.setInputFiles('#files', largest);
    const item = page.locator('#results li').nth(i);
    await item.and(page.locator('[data-state="done"]')).waitFor({ timeout: 120000 });
    runs.push(await item.evaluate((e) => ({ ...e.dataset })));
  }
  const pick = (key) => median(runs.map((r) => Number(r[key])));
  console.log('  conversion in the page, each run (ms):', runs.map((r) => r.convertMs).join(' '));
  console.log(`  in the page (worker, WebAssembly), median of ${reps}:`);
  console.log(`    conversion (bytes in, document out): ${pick('convertMs')} ms (first run ${runs[0].convertMs} ms)`);
  console.log(`    reading the document back for the view: ${pick('viewMs')} ms`);
  console.log(`    from choosing the file to the map on show: ${pick('totalMs')} ms`);

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

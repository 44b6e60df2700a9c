// Builds the page into one folder that any static server can serve:
//   node web/build.mjs [OUTDIR]        (default: out/web under the project)
// The core goes to WebAssembly with clang and WASI's C library; the page's
// scripts, three.js included, are bundled by esbuild; a service worker made
// by Workbox keeps every file, so the page opens offline after one visit.
// Nothing is fetched from anywhere at run time but these files.
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, readFileSync, readdirSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { build } from 'esbuild';
import { generateSW } from 'workbox-build';

const web = dirname(fileURLToPath(import.meta.url));
const root = resolve(web, '..');
const out = resolve(process.argv[2] || join(root, 'out', 'web'));
mkdirSync(out, { recursive: true });

// The core's rooms, whole. The page is given bytes and images and takes the
// files from a sink, so the module is a "reactor" (no main) whose imports
// are that sink and the few system calls of standard output, which the page
// never uses (the worker answers them "not supported"): the job's file steps
// are left out of a WASI build, and what is never called is dropped at link
// time.
const sources = (folder) => readdirSync(join(root, folder))
  .filter((f) => f.endsWith('.cpp')).map((f) => join(root, folder, f));
const core = ['numtext', 'blockdata', 'mqo', 'mesh', 'image', 'job'].flatMap(sources);
execFileSync(process.env.WASM_CXX || 'clang++-14', [
  '--target=wasm32-wasi', '-std=c++20', '-O2', '-fno-exceptions', '-fno-rtti',
  '-Wall', '-Wextra', '-Wconversion', '-Wshadow', '-Werror',
  `-I${root}`, '-I/usr/include/stb', '-mexec-model=reactor', '-Wl,--gc-sections', '-Wl,--strip-all',
  ...core, join(web, 'wasm', 'bridge.cpp'), '-o', join(out, 'blockmqo.wasm'),
], { stdio: 'inherit' });

// The page is a module whose view (three.js, most of its bytes) is split off
// and loaded when a map is first shown; the worker is a classic script.
const bundle = { bundle: true, minify: true, target: ['es2020'], logLevel: 'warning', outdir: out };
await build({
  ...bundle, entryPoints: { app: join(web, 'src', 'main.js') }, format: 'esm', splitting: true,
  chunkNames: '[name]-[hash]',
});
await build({ ...bundle, entryPoints: { worker: join(web, 'src', 'worker.js') }, format: 'iife' });
for (const f of ['index.html', 'style.css', 'icon.svg', 'manifest.webmanifest']) {
  copyFileSync(join(web, f), join(out, f));
}
// "Try an example" loads this map and the images it names (its ten names of
// 31 bytes come first in the file) from example/, as files.json lists them.
const example = join(out, 'example'), map = readFileSync(join(root, 'examples', 'courtyard.bd1'));
const named = Array.from({ length: 10 }, (_, i) => map.subarray(31 * i, 31 * i + 31).toString('latin1').split('\0')[0]);
const exampleFiles = ['courtyard.bd1', ...named.filter((n) => n && existsSync(join(root, 'examples', n)))];
mkdirSync(example, { recursive: true });
for (const f of exampleFiles) copyFileSync(join(root, 'examples', f), join(example, f));
writeFileSync(join(example, 'files.json'), JSON.stringify(exampleFiles));

const { warnings } = await generateSW({
  globDirectory: out,
  globPatterns: ['*.{html,js,css,wasm,svg,webmanifest}', 'example/*'],
  globIgnores: ['sw.js'],
  swDest: join(out, 'sw.js'),
  inlineWorkboxRuntime: true,
  cleanupOutdatedCaches: true,
  maximumFileSizeToCacheInBytes: 4 << 20,
  sourcemap: false,
  mode: 'production',
});
for (const w of warnings) console.warn(`web: ${w}`);
console.log(`web: notices of ${(await (await import('./notices.mjs')).writeNotices(web, root, out)).join(', ')}`);
console.log(`web: built ${out}`);

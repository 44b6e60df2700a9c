// Builds the page into one folder that any static server can serve:
//   node web/build.mjs [OUTDIR]        (default: out/web under the project)
// The core goes to WebAssembly with clang and WASI's C library; the page's
// scripts, three.js included, are bundled by esbuild. Nothing is fetched from
// anywhere at run time but these files.
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdirSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { build } from 'esbuild';

const web = dirname(fileURLToPath(import.meta.url));
const root = resolve(web, '..');
const out = resolve(process.argv[2] || join(root, 'out', 'web'));
mkdirSync(out, { recursive: true });

// The reader and the document writer need no file system, so the module is a
// "reactor" (no main) that imports nothing. The file conversion
// (mqo/convert.cpp, mqo/output_file.cpp) is left out.
const core = [
  'numtext/numtext.cpp', 'numtext/exact.cpp', 'blockdata/blockdata.cpp',
  'mqo/document.cpp', 'mqo/result.cpp',
].map((f) => join(root, f));
execFileSync(process.env.WASM_CXX || 'clang++-14', [
  '--target=wasm32-wasi', '-std=c++20', '-O2', '-fno-exceptions', '-fno-rtti',
  '-Wall', '-Wextra', '-Wconversion', '-Wshadow', '-Werror',
  `-I${root}`, '-mexec-model=reactor', '-Wl,--gc-sections', '-Wl,--strip-all',
  ...core, join(web, 'wasm', 'bridge.cpp'), '-o', join(out, 'blockmqo.wasm'),
], { stdio: 'inherit' });

await build({
  entryPoints: { app: join(web, 'src', 'main.js'), worker: join(web, 'src', 'worker.js') },
  outdir: out,
  bundle: true,
  minify: true,
  format: 'iife',
  target: ['es2020'],
  logLevel: 'warning',
});
for (const f of ['index.html', 'style.css']) copyFileSync(join(web, f), join(out, f));
console.log(`web: built ${out}`);

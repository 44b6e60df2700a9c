// The page's notices (notices.html, linked from its footer): the licence of
// blockmqo and of every piece of others' code the page ships. The npm
// packages are not listed by hand: they are those esbuild takes into the
// bundles (by its metafile) and the Workbox modules inlined into the service
// worker (each marks itself there as "workbox:NAME:VERSION"). A package
// without a licence file of its own stops the build. The WebAssembly module
// holds stb's image code and WASI's C library.
import { existsSync, readdirSync, readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { build } from 'esbuild';

const escape = (text) => text.replace(/[&<>]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;' })[c]);

// The packages in the page's bundles and service worker, by name.
export async function shippedPackages(web, out) {
  const { metafile } = await build({
    entryPoints: [join(web, 'src', 'main.js'), join(web, 'src', 'worker.js')],
    bundle: true, write: false, metafile: true, format: 'esm', outdir: out, logLevel: 'silent',
  });
  const names = new Set(Object.keys(metafile.inputs)
    .map((input) => input.match(/node_modules\/((?:@[^/]+\/)?[^/]+)\//)?.[1]).filter(Boolean));
  for (const [, name] of readFileSync(join(out, 'sw.js'), 'utf8').matchAll(/workbox:([a-z-]+):/g)) {
    names.add(`workbox-${name}`);
  }
  return [...names].sort();
}

export async function writeNotices(web, root, out) {
  const sections = [['blockmqo', readFileSync(join(root, 'LICENSE'), 'utf8')]];
  const missing = [];
  for (const name of await shippedPackages(web, out)) {
    const folder = join(web, 'node_modules', name);
    const file = existsSync(folder) && readdirSync(folder).find((f) => /^(licen[cs]e|copying)(\.md|\.txt)?$/i.test(f));
    if (!file) { missing.push(name); continue; }
    const { version } = JSON.parse(readFileSync(join(folder, 'package.json'), 'utf8'));
    sections.push([`${name} ${version}`, readFileSync(join(folder, file), 'utf8')]);
  }
  if (missing.length) throw new Error(`web: no licence file to ship for ${missing.join(', ')}`);
  // stb's notice as the Windows programs ship it, less the paragraph on where they hold it.
  const stb = readFileSync(join(root, 'packaging', 'notices', 'stb.txt'), 'utf8').split('\n\n').slice(1).join('\n\n');
  sections.push(['stb_image and stb_image_write, in blockmqo.wasm', stb],
    ['WASI libc, in blockmqo.wasm', readFileSync('/usr/share/doc/wasi-libc/copyright', 'utf8')]);
  writeFileSync(join(out, 'notices.html'), `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>blockmqo: licences</title>
<style>body { font-family: system-ui, sans-serif; max-width: 48rem; margin: 1rem auto; padding: 0 1rem; }
pre { white-space: pre-wrap; font-size: 0.85rem; }</style>
</head>
<body>
<main>
<h1>Licences</h1>
<p>This page is blockmqo's, and carries code of others under these licences. <a href="./">Back to the converter</a></p>
${sections.map(([name, text]) => `<section>\n<h2>${escape(name)}</h2>\n<pre>${escape(text.trim())}</pre>\n</section>`).join('\n')}
</main>
</body>
</html>
`);
  return sections.map(([name]) => name);
}

// Serves the built page on the loopback interface only, for development and
// the browser tests:  node web/serve.mjs [--port N] [OUTDIR]
// The page is static; this server only hands out the built files, compressed
// (brotli or gzip, as the browser accepts) when that makes them smaller.
import { createServer } from 'node:http';
import { readFile, stat } from 'node:fs/promises';
import { promisify } from 'node:util';
import { brotliCompress, constants, gzip } from 'node:zlib';
import { dirname, extname, join, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.webmanifest': 'application/manifest+json',
  '.bd1': 'application/octet-stream',
  '.json': 'application/json',
  '.bmp': 'image/bmp',
  '.png': 'image/png',
  '.tga': 'image/x-tga',
};

const ENCODERS = {
  br: (body) => promisify(brotliCompress)(body, { params: { [constants.BROTLI_PARAM_QUALITY]: 9 } }),
  gzip: (body) => promisify(gzip)(body, { level: 9 }),
};
const packed = new Map();  // encoding and path -> { mtimeMs, body, encoded }, once per version of a file

// The body to send for `file`, and its encoding (none when that would not shrink it).
async function bodyOf(file, accepted) {
  const encoding = Object.keys(ENCODERS).find((e) => new RegExp(`\\b${e}\\b`).test(accepted || '')) || '';
  const { mtimeMs } = await stat(file);
  const key = `${encoding}:${file}`;
  let hit = packed.get(key);
  if (hit?.mtimeMs !== mtimeMs) {
    const raw = await readFile(file);
    const body = encoding ? await ENCODERS[encoding](raw) : raw;
    hit = body.length < raw.length ? { mtimeMs, body, encoded: encoding } : { mtimeMs, body: raw, encoded: '' };
    packed.set(key, hit);
  }
  return hit;
}

// Resolves to the listening server; port 0 picks a free one.
export function startServer(folder, port = 0) {
  const base = resolve(folder);
  const server = createServer(async (request, response) => {
    let path;
    try {
      path = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    } catch {
      response.writeHead(400).end();  // a malformed escape such as "/%"
      return;
    }
    const file = resolve(join(base, path.endsWith('/') ? path + 'index.html' : path));
    const type = TYPES[extname(file)];
    if ((request.method !== 'GET' && request.method !== 'HEAD') || !file.startsWith(base + sep) || !type) {
      response.writeHead(404).end();
      return;
    }
    try {
      const { body, encoded } = await bodyOf(file, request.headers['accept-encoding']);
      const headers = { 'Content-Type': type, 'Cache-Control': 'no-cache', Vary: 'Accept-Encoding' };
      if (encoded) headers['Content-Encoding'] = encoded;
      response.writeHead(200, headers);
      response.end(request.method === 'HEAD' ? undefined : body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, '127.0.0.1', () => done(server));
  });
}

if (process.argv[1] === fileURLToPath(import.meta.url)) {
  const args = process.argv.slice(2);
  const at = args.indexOf('--port');
  const port = at >= 0 ? Number(args.splice(at, 2)[1]) : 8011;
  const folder = args[0] || join(dirname(fileURLToPath(import.meta.url)), '..', 'out', 'web');
  const server = await startServer(folder, port).catch((error) => {
    console.error(error.code === 'EADDRINUSE'
      ? `web/serve.mjs: port ${port} is already in use; choose another with --port N`
      : `web/serve.mjs: ${error.message}`);
    process.exit(1);
  });
  console.log(`Serving ${resolve(folder)} at http://127.0.0.1:${server.address().port}/`);
}

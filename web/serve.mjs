// Serves the built page on the loopback interface only, for development and
// the browser tests:  node web/serve.mjs [--port N] [OUTDIR]
// The page is static; this server only hands out the built files.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
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
};

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
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-cache' });
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

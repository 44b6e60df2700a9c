// Converts files off the page's main thread, so the page stays responsive
// while the largest map is written. The module is fetched once, when the page
// loads; after that the worker needs no network at all.
//
// Requests: { id, bytes, format } where format is 'open' (the texture names,
// the block count and the warnings; the view's mesh too with withView),
// 'view' (the mesh alone), 'mqo' (the exact document) or one of the mesh's
// files, with the command-line program's warnings for it; answers
// { type: 'done', id, ... } in the same order.
let core = null;

async function start() {
  try {
    const response = await fetch(new URL('blockmqo.wasm', self.location.href));
    if (!response.ok) throw new Error(`the server answered ${response.status}`);
    const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(), {});
    core = instance.exports;
    core._initialize();
    self.postMessage({ type: 'ready' });
  } catch (error) {
    self.postMessage({ type: 'broken', message: String(error.message || error) });
  }
}

const MESH_FORMATS = { optimized: 0, obj: 1, mtl: 2, glb: 3 };
const CLASSES = 11;

function bytesAt(pointer, length) {
  return new Uint8Array(core.memory.buffer, pointer, length).slice();
}

function cString(pointer) {
  const memory = new Uint8Array(core.memory.buffer);
  let end = pointer;
  while (memory[end]) end++;
  return memory.slice(pointer, end);
}

// Names are bytes in whatever code page the map was made with: shown as UTF-8
// when they are valid UTF-8, otherwise as Windows-1252.
function decodeName(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder('windows-1252').decode(bytes);
  }
}

// The bridge's warnings 0..kinds-1, each read before the next call reuses
// the bridge's buffer.
function lines(warning, kinds) {
  const all = [];
  for (let i = 0, line; i < kinds; i++) if ((line = warning(i))) all.push(new TextDecoder().decode(cString(line)));
  return all;
}

function open(input) {
  const pointer = core.bm_input(input.byteLength);
  if (pointer) new Uint8Array(core.memory.buffer, pointer, input.byteLength).set(new Uint8Array(input));
  // With no room for the file the core reports its own allocation failure.
  const failure = core.bm_open(input.byteLength);
  if (!failure) return null;
  return {
    error: new TextDecoder().decode(cString(failure)),
    facts: [0, 1, 2, 3].map((i) => core.bm_fact(i)),  // read result, size, stated count, bytes needed
  };
}

function pull(next) {
  const parts = [];
  for (let n; (n = next());) parts.push(bytesAt(core.bm_chunk(), n));
  return new Blob(parts, { type: 'application/octet-stream' });
}

// The mesh as three.js draws it: see bm_view in the bridge. Positions and
// texture coordinates share one buffer, copied out of the module at once.
function view() {
  const head = core.bm_view();
  if (!head) return null;
  const words = 2 + CLASSES + 6;
  const header = new Uint32Array(core.memory.buffer, head, words).slice();
  const faces = header[0];
  const bounds = new Float32Array(header.buffer, 4 * (2 + CLASSES), 6);
  const buffer = core.memory.buffer.slice(head + 4 * words, head + 4 * (words + 20 * faces));
  return {
    faces, dropped: header[1], perClass: [...header.subarray(2, 2 + CLASSES)],
    min: [...bounds.subarray(0, 3)], max: [...bounds.subarray(3)],
    positions: new Float32Array(buffer, 0, 12 * faces), uvs: new Float32Array(buffer, 48 * faces, 8 * faces),
  };
}

function convert({ bytes, format, mtlName, withView }) {
  const t0 = performance.now();
  const failed = open(bytes);
  if (failed) return failed;
  try {
    if (format === 'view') return { view: view() };
    if (format === 'open') {
      const names = [];
      for (let i = 0; i < 10; i++) names.push(decodeName(cString(core.bm_texture_name(i))));
      return {
        names, blocks: core.bm_block_count(), view: withView ? view() : null,
        warnings: lines(core.bm_warning, 3),
      };
    }
    if (format === 'mqo') {
      const file = pull(() => core.bm_next());
      // The conversion alone, as the benchmark compares it: reading and writing.
      performance.measure('blockmqo-convert', { start: t0 });
      return { file };
    }
    const name = new TextEncoder().encode(`${mtlName}\0`);
    new Uint8Array(core.memory.buffer, core.bm_mtl_name(), name.length).set(name);
    const failure = core.bm_mesh_begin(MESH_FORMATS[format]);
    if (failure) return { error: new TextDecoder().decode(cString(failure)) };
    return { file: pull(() => core.bm_mesh_next()), warnings: lines(core.bm_mesh_warning, 2) };
  } finally {
    core.bm_close();
  }
}

self.onmessage = (event) => {
  let result;
  try {
    result = convert(event.data);
  } catch (error) {
    // The module itself failed (out of memory while growing, a trap): the
    // worker's state is unknown, so say so plainly.
    result = { error: `Failed: ${error.message || error}` };
  }
  const v = result.view;
  self.postMessage({ type: 'done', id: event.data.id, ...result }, v ? [v.positions.buffer] : []);
};

start();

// Converts files off the page's main thread, so the page stays responsive
// while the largest map is written or zipped. The module is fetched once, when
// the page loads; after that the worker needs no network at all.
//
// Requests: { id, file, format } where format is 'open' (the texture names,
// the block count and the warnings; the view's mesh too with withView),
// 'view' (the mesh alone), 'mqo' (the exact document), one of the mesh's
// files, with the command-line program's warnings for it, or 'zip' (every
// file of `maps`, stored in one zip, with { type: 'progress' } messages on
// the way); answers { type: 'done', id, ... }. The worker reads the file
// itself: one moved or changed since it was chosen fails as unreadable. A
// mesh's file, or a map of the zip, may come with `images` (Files): the glb
// holds those its texture names pick, the MTL names them. Requests are served
// one at a time, as the converter holds one map.
import { Zip } from 'fflate';
import { createCRC32 } from 'hash-wasm';

let core = null;
// What the bridge names, so that nothing here copies its numbers.
let COUNTS, READ_RESULTS, FACTS, MESH_FORMATS;

function names(nameOf) {
  const all = [];
  for (let i = 0, p; (p = nameOf(i)); i++) all.push(text(p));
  return all;
}

async function start() {
  try {
    const response = await fetch(new URL('blockmqo.wasm', self.location.href));
    if (!response.ok) throw new Error(`the server answered ${response.status}`);
    const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(), {});
    core = instance.exports;
    core._initialize();
    COUNTS = {
      textures: core.bm_texture_name_count(), classes: core.bm_view_classes(),
      warnings: core.bm_warning_kinds(), meshWarnings: core.bm_mesh_warning_kinds(), blocks: core.bm_max_block_count(),
    };
    READ_RESULTS = names(core.bm_read_result_name);
    FACTS = names(core.bm_fact_name);
    MESH_FORMATS = Object.fromEntries(names(core.bm_mesh_format_name).map((n, i) => [n, i]));
    self.postMessage({ type: 'ready' });
  } catch (error) {
    self.postMessage({ type: 'broken', message: String(error.message || error) });
  }
}

function bytesAt(pointer, length) {
  return new Uint8Array(core.memory.buffer, pointer, length).slice();
}

function cString(pointer) {
  const memory = new Uint8Array(core.memory.buffer);
  let end = pointer;
  while (memory[end]) end++;
  return memory.slice(pointer, end);
}
const text = (pointer) => new TextDecoder().decode(cString(pointer));

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
  for (let i = 0, line; i < kinds; i++) if ((line = warning(i))) all.push(text(line));
  return all;
}

// Why the last map failed, by the names the bridge gives: { result, size,
// count, needed }, and the most blocks a map holds.
function failure(message) {
  const facts = Object.fromEntries(FACTS.map((name, i) => [name, core.bm_fact(i)]));
  facts.result = READ_RESULTS[facts.result];
  facts.most = COUNTS.blocks;
  return { error: text(message), facts };
}

// Opens a file's bytes (null: the file could not be read); null when it opened.
function open(input) {
  if (!input) return failure(core.bm_unreadable());
  const pointer = core.bm_input(input.byteLength);
  if (pointer) new Uint8Array(core.memory.buffer, pointer, input.byteLength).set(new Uint8Array(input));
  // With no room for the file the core reports its own allocation failure.
  const failed = core.bm_open(input.byteLength);
  return failed ? failure(failed) : null;
}

const read = (file) => file.arrayBuffer().catch(() => null);

// Each piece of a file, copied out before the next call reuses the buffer.
function pull(next, each) {
  for (let n; (n = next());) each(bytesAt(core.bm_chunk(), n));
}
function pullBlob(next) {
  const parts = [];
  pull(next, (part) => parts.push(part));
  return new Blob(parts, { type: 'application/octet-stream' });
}

// One of the mesh's files begun on the open map; the failure's text, or null.
function meshBegin(format, mtlName) {
  const name = new TextEncoder().encode(`${mtlName}\0`);
  new Uint8Array(core.memory.buffer, core.bm_mtl_name(), name.length).set(name);
  const failed = core.bm_mesh_begin(MESH_FORMATS[format]);
  return failed ? text(failed) : null;
}

// The images given with the open map, for the mesh's files: the bridge picks
// each texture name's file (as blockmqo-cli picks among a folder's), and for
// a glb makes each picked file's image, reading each file once. A file that
// cannot be read is refused like a broken one.
async function attach(images = [], format) {
  if (!images.length || !['obj', 'mtl', 'glb'].includes(format)) return;
  const names = images.map((f) => new TextEncoder().encode(`${f.name}\0`));
  const pointer = core.bm_file_names(names.length, names.reduce((n, b) => n + b.length, 0));
  if (!pointer) return;
  let at = pointer;
  for (const name of names) new Uint8Array(core.memory.buffer, at, name.length).set(name), at += name.length;
  const picked = [];
  for (let t = 0; t < COUNTS.textures; t++) {
    picked[t] = core.bm_pick_texture(t);
    if (format !== 'glb' || picked[t] < 0) continue;
    const same = picked.indexOf(picked[t]);
    const bytes = same < t ? null : new Uint8Array(await read(images[picked[t]]) || new ArrayBuffer(0));
    const input = bytes && core.bm_input(bytes.length);
    if (input) new Uint8Array(core.memory.buffer, input, bytes.length).set(bytes);
    core.bm_image(t, bytes ? bytes.length : 0, same < t ? same : -1);
  }
}

// An image's pixels, for the view when the browser cannot decode the file.
function pixels(bytes) {
  const input = bytes && core.bm_input(bytes.byteLength);
  if (input) new Uint8Array(core.memory.buffer, input, bytes.byteLength).set(new Uint8Array(bytes));
  const rgba = input && core.bm_pixels(bytes.byteLength);
  try {
    if (!rgba) return { error: 'not an image the converter reads' };
    const width = core.bm_pixels_width(), height = core.bm_pixels_height();
    return { width, height, data: new Uint8ClampedArray(core.memory.buffer.slice(rgba, rgba + 4 * width * height)) };
  } finally {
    core.bm_close();
  }
}

// The mesh as three.js draws it: see bm_view in the bridge. Positions and
// texture coordinates share one buffer, copied out of the module at once.
function view() {
  const head = core.bm_view();
  if (!head) return null;
  const words = 2 + COUNTS.classes + 6;
  const header = new Uint32Array(core.memory.buffer, head, words).slice();
  const faces = header[0];
  const bounds = new Float32Array(header.buffer, 4 * (2 + COUNTS.classes), 6);
  const buffer = core.memory.buffer.slice(head + 4 * words, head + 4 * (words + 20 * faces));
  return {
    faces, dropped: header[1], perClass: [...header.subarray(2, 2 + COUNTS.classes)],
    min: [...bounds.subarray(0, 3)], max: [...bounds.subarray(3)],
    positions: new Float32Array(buffer, 0, 12 * faces), uvs: new Float32Array(buffer, 48 * faces, 8 * faces),
  };
}

async function convert({ format, mtlName, withView, images }, bytes) {
  const t0 = performance.now();
  const failed = open(bytes);
  if (failed) return failed;
  try {
    if (format === 'view') return { view: view() };
    if (format === 'open') {
      const names = [];
      for (let i = 0; i < COUNTS.textures; i++) names.push(decodeName(cString(core.bm_texture_name(i))));
      return {
        names, blocks: core.bm_block_count(), view: withView ? view() : null,
        warnings: lines(core.bm_warning, COUNTS.warnings),
      };
    }
    if (format === 'mqo') {
      const file = pullBlob(() => core.bm_next());
      // The conversion alone, as the benchmark compares it: reading and writing.
      performance.measure('blockmqo-convert', { start: t0 });
      return { file };
    }
    await attach(images, format);
    const error = meshBegin(format, mtlName);
    if (error) return { error };
    return { file: pullBlob(() => core.bm_mesh_next()), warnings: lines(core.bm_mesh_warning, COUNTS.meshWarnings) };
  } finally {
    core.bm_close();
  }
}

// The zip's bytes are gathered into blobs of this size as they come, so the
// worker holds at most this much beyond what the browser keeps for the zip.
const PIECE = 8 << 20;

// Every file of every map, stored (not deflated: the documents are text to be
// read, and the time matters more than the bytes), each map opened once and
// its files written straight into the zip a piece at a time. fflate lays out
// the zip; each file's CRC comes from hash-wasm, three times as fast as
// fflate's own in JavaScript, which took a third of the zip's time. A map
// that cannot be read or made is left out, with its failure; the others go in.
async function zipAll({ id, maps }) {
  const t0 = performance.now();
  const crc = await createCRC32();
  const pieces = [], held = [], left = [], warnings = [];
  let heldBytes = 0, total = 0, zipError = null;
  const zip = new Zip((error, chunk, final) => {
    if (error) zipError = error;
    else if (chunk) held.push(chunk), heldBytes += chunk.length, total += chunk.length;
    if (heldBytes >= PIECE || final) pieces.push(new Blob(held.splice(0))), heldBytes = 0;
  });
  for (const [index, map] of maps.entries()) {
    self.postMessage({ type: 'progress', id, done: index, total: maps.length });
    const failed = open(await read(map.file));
    if (failed) {
      left.push({ index, ...failed });
      continue;
    }
    try {
      for (const { name, format, mtlName } of map.files) {
        if (format !== 'mqo') await attach(map.images, format);
        const error = format === 'mqo' ? null : meshBegin(format, mtlName);
        if (error) throw new Error(error);
        // A stored file whose size and CRC are known once its last piece is in.
        const entry = { filename: name, compression: 0, size: 0, crc: 0 };
        zip.add(entry);
        crc.init();
        pull(format === 'mqo' ? () => core.bm_next() : () => core.bm_mesh_next(), (part) => {
          crc.update(part);
          entry.size += part.length;
          entry.ondata(null, part, false);
        });
        entry.crc = parseInt(crc.digest(), 16);
        entry.ondata(null, new Uint8Array(0), true);
        if (format !== 'mqo') for (const line of lines(core.bm_mesh_warning, COUNTS.meshWarnings)) warnings.push({ index, name, line });
      }
    } catch (error) {
      // Its files made before stay in the zip; the map is named as failed.
      left.push({ index, error: error.message });
    } finally {
      core.bm_close();
    }
    // A zip without its 64-bit extension counts its offsets in 32 bits.
    if (total >= 2 ** 32) return { error: 'The zip would pass 4 GiB, the most a plain zip can hold: download fewer maps at once.' };
  }
  zip.end();
  if (zipError) return { error: zipError.message };
  performance.measure('blockmqo-zip', { start: t0 });
  return { file: new Blob(pieces, { type: 'application/zip' }), left, warnings };
}

let served = Promise.resolve();
self.onmessage = (event) => { served = served.then(() => serve(event.data)); };
async function serve(request) {
  let result;
  try {
    result = request.format === 'zip' ? await zipAll(request)
      : request.format === 'pixels' ? pixels(await read(request.file)) : await convert(request, await read(request.file));
  } catch (error) {
    // The module itself failed (out of memory while growing, a trap): the
    // worker's state is unknown, so say so plainly.
    result = { error: `Failed: ${error.message || error}` };
  }
  const v = result.view;
  self.postMessage({ type: 'done', id: request.id, ...result }, v ? [v.positions.buffer] : []);
}

start();

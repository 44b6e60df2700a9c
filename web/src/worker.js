// Converts files off the page's main thread, so the page stays responsive
// while the largest map is written or zipped. The module is fetched once, when
// the page loads; after that the worker needs no network at all.
//
// Requests { id, file, name, images, format } (images: the Files given with
// the map, which the core picks from by texture name):
//   'open'   what the page shows of the map: the core's names and warnings
//            and, withView, the view;
//   'images' its glb, kept whole, with the core's decision for each texture
//            name's image;
//   'view'   the view's mesh alone;
//   'make'   one kind of file: 'mqo', 'optimized', 'obj' (with its MTL), 'glb';
//   'zip'    every kind of file of `maps`, stored in one zip, with
//            { type: 'progress' } messages on the way;
//   'pixels' an image's pixels, where the browser cannot decode it.
// Answers { type: 'done', id, ... }. The worker reads the files itself: one
// moved or changed since it was chosen fails as unreadable. Requests are
// served one at a time, as the converter holds one map.
import { Zip } from 'fflate';
import { createCRC32 } from 'hash-wasm';

let core = null;
// What the bridge names, so that nothing here copies its numbers.
let COUNTS, RESULTS, IMAGE_USES, IMAGE_RESULTS, FORMATS, VIEW;
// Each kind of file a map offers: the core's format and whether optimised.
// The mesh formats come only optimised, so only the document's name says so.
const KINDS = {
  mqo: ['mqo', false], optimized: ['mqo', true], obj: ['obj', true], glb: ['glb', true],
};

const names = (nameOf) => {
  const all = [];
  for (let i = 0, p; (p = nameOf(i)); i++) all.push(text(p));
  return all;
};

// The sink of the job running: each piece of each file, copied out at once.
let sink = null;
function bmSink(file, pointer, size) {
  sink(file, new Uint8Array(core.memory.buffer, pointer, size).slice());
  return 1;
}

async function start() {
  try {
    const response = await fetch(new URL('blockmqo.wasm', self.location.href));
    if (!response.ok) throw new Error(`the server answered ${response.status}`);
    // The core never touches files here: any call of the system's it could make is "not supported" (ENOSYS).
    const system = new Proxy({}, { get: () => () => 52 });
    const imports = { env: { bm_sink: bmSink }, wasi_snapshot_preview1: system };
    const { instance } = await WebAssembly.instantiate(await response.arrayBuffer(), imports);
    core = instance.exports;
    core._initialize();
    COUNTS = {
      textures: core.bm_texture_name_count(), groups: core.bm_view_groups(), other: core.bm_other_group(),
      warnings: core.bm_warning_kinds(), blocks: core.bm_max_block_count(),
    };
    RESULTS = names(core.bm_result_name);
    IMAGE_USES = names(core.bm_image_use_name);
    IMAGE_RESULTS = names(core.bm_image_result_name);
    FORMATS = Object.fromEntries(names(core.bm_format_name).map((n, i) => [n, i]));
    VIEW = names(core.bm_view_field_name);
    self.postMessage({ type: 'ready' });
  } catch (error) {
    self.postMessage({ type: 'broken', message: String(error.message || error) });
  }
}

function cString(pointer) {
  const memory = new Uint8Array(core.memory.buffer);
  let end = pointer;
  while (memory[end]) end++;
  return memory.slice(pointer, end);
}
const text = (pointer) => new TextDecoder().decode(cString(pointer));
const put = (pointer, bytes) => new Uint8Array(core.memory.buffer, pointer, bytes.length).set(bytes);

// Names are bytes in whatever code page the map was made with: shown as UTF-8
// when they are valid UTF-8, otherwise as Windows-1252.
function decodeName(bytes) {
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch {
    return new TextDecoder('windows-1252').decode(bytes);
  }
}

const read = (file) => file.arrayBuffer().then((b) => new Uint8Array(b), () => null);

// Why a map failed, by the names the bridge gives: { result, size, count,
// needed, most }, with the core's own text.
let heldSize = 0;  // the held map's file's bytes
function failure(result) {
  const facts = { result: RESULTS[result], size: heldSize, count: core.bm_stated_count(), needed: core.bm_bytes_needed(), most: COUNTS.blocks };
  return { error: text(core.bm_message()), reason: text(core.bm_reason()), facts };
}

// Holds a map's file, its name and the images given with it, in the module
// until the next; the failure when its file could not be read, else null.
async function hold({ file, name, images = [] }) {
  const bytes = await read(file);
  heldSize = bytes ? bytes.length : 0;
  if (!bytes) return failure(core.bm_unreadable());
  const pointer = core.bm_input(bytes.length);
  if (pointer) put(pointer, bytes);
  // The bridge holds a name of up to 1023 bytes; a longer one keeps its end, and with it its extension.
  const named = new TextEncoder().encode(name);
  put(core.bm_name(), [...named.subarray(Math.max(0, named.length - 1000)), 0]);
  // An image that cannot be read is handed over empty, and refused as such.
  const given = images.length && core.bm_images(images.length);
  for (const [i, image] of (given ? images : []).entries()) {
    const imageName = new TextEncoder().encode(image.name), data = await read(image) || new Uint8Array(0);
    const room = core.bm_image(i, imageName.length, data.length);
    if (room) put(room, imageName), put(room + imageName.length, data);
  }
  return null;
}

const lines = () => {
  const all = [];
  for (let i = 0, line; i < COUNTS.warnings; i++) if ((line = core.bm_warning(i))) all.push(text(line));
  return all;
};

// Runs one kind of file on the held map. `each(file, bytes)` takes the pieces
// (file: the core's JobFile, the MTL's before the OBJ's); returns the names
// of the files made, by the core's JobFile, or the failure.
// The core's names for a kind's files, by JobFile: 2 the document (or the OBJ), 3 its MTL.
function outputNames(kind) {
  const [format] = KINDS[kind];
  const named = { 2: text(core.bm_output_name(FORMATS[format], kind === 'optimized')) };
  if (format === 'obj') named[3] = text(core.bm_output_name(FORMATS.mtl, false));
  return named;
}

function run(kind, each) {
  const [format, optimized] = KINDS[kind];
  sink = each;
  const result = core.bm_run(FORMATS[format], optimized);
  sink = null;
  return RESULTS[result] === 'ok' ? { named: outputNames(kind), warnings: lines() } : failure(result);
}

// One kind of file as blobs by name, with the core's warnings for them.
function make(kind) {
  const parts = {};
  const made = run(kind, (file, bytes) => (parts[file] ||= []).push(bytes));
  if (made.error) return made;
  const files = Object.entries(made.named).map(([file, name]) => ({ name, file: new Blob(parts[file] || []) }));
  return { files, warnings: made.warnings };
}

// The mesh as three.js draws it, at the offsets the bridge names, from
// bm_view's answer (made now when not given).
function view(head = core.bm_view()) {
  if (!head) return null;
  const at = (field) => head + core.bm_view_offset(VIEW.indexOf(field));
  const memory = core.memory.buffer, faces = new Uint32Array(memory, at('faces'), 1)[0];
  const floats = (field, n) => new Float32Array(memory.slice(at(field), at(field) + 4 * n));
  return {
    faces, dropped: new Uint32Array(memory, at('dropped'), 1)[0],
    perClass: [...new Uint32Array(memory, at('perClass'), COUNTS.groups)],
    min: [...floats('min', 3)], max: [...floats('max', 3)],
    positions: floats('positions', 12 * faces), uvs: floats('uvs', 8 * faces),
  };
}

// The map opened: what the page shows of it, decided by the document's job
// (whose document is made when asked for).
function open(withView) {
  const result = core.bm_decide(FORMATS.mqo, false);
  if (RESULTS[result] !== 'output-write-failed') return failure(result);
  const texts = [];
  for (let t = 0; t < COUNTS.textures; t++) texts.push(decodeName(cString(core.bm_texture_name(t))));
  // The document's warnings are the map's own.
  const map = { names: texts, blocks: core.bm_block_count(), warnings: lines() };
  const obj = outputNames('obj');
  map.files = [outputNames('mqo')[2], outputNames('optimized')[2], obj[2], obj[3], outputNames('glb')[2]];
  // The view's mesh is the files' one: the materials are named after it.
  const head = core.bm_view();
  map.materials = [];
  for (let g = 0; g < COUNTS.groups; g++) map.materials.push(decodeName(cString(core.bm_material_name(g))));
  map.other = { number: COUNTS.other, name: map.materials.pop() };
  return { map, view: withView ? view(head) : null };
}

// The glb made with the images given, and what became of each texture name's.
function images() {
  const glb = make('glb');
  if (glb.error) return glb;
  const decided = [];
  for (let t = 0; t < COUNTS.textures; t++) {
    decided.push({ use: IMAGE_USES[core.bm_image_use(t)], why: IMAGE_RESULTS[core.bm_image_cause(t)], given: core.bm_image_given(t) });
  }
  return { images: decided, glb };
}

// An image's pixels, for the view when the browser cannot decode the file.
function pixels(bytes) {
  const input = bytes && core.bm_input(bytes.length);
  if (input) put(input, bytes);
  const rgba = input && core.bm_pixels();
  if (!rgba) return { error: 'not an image the converter reads' };
  const width = core.bm_pixels_width(), height = core.bm_pixels_height();
  return { width, height, data: new Uint8ClampedArray(core.memory.buffer.slice(rgba, rgba + 4 * width * height)) };
}

// The zip's bytes are gathered into blobs of this size as they come, so the
// worker holds at most this much beyond what the browser keeps for the zip.
const PIECE = 8 << 20;

// Every kind of file of every map, stored (not deflated: the documents are
// text to be read, and the time matters more than the bytes): the kinds the
// page has made already as they are, the others made now, each map held once
// and its files written straight into the zip a piece at a time. fflate
// lays out the zip; each file's CRC comes from hash-wasm, three times as fast
// as fflate's own in JavaScript. A map that cannot be read or made is left
// out, with its failure; the others go in.
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
  // A stored entry whose size and CRC are known once its last piece is in.
  const stored = (filename) => {
    const entry = { filename, compression: 0, size: 0, crc: 0 };
    zip.add(entry);
    crc.init();
    return {
      add(bytes) { crc.update(bytes), entry.size += bytes.length, entry.ondata(null, bytes, false); },
      finish() { entry.crc = parseInt(crc.digest(), 16), entry.ondata(null, new Uint8Array(0), true); },
    };
  };
  for (const [index, map] of maps.entries()) {
    self.postMessage({ type: 'progress', id, done: index, total: maps.length });
    let failed = null, opened = false;
    for (const kind of Object.keys(KINDS)) {
      // A kind the page already has goes in as it was made.
      if (map.made?.[kind]) {
        for (const { name, file } of map.made[kind].files) {
          const entry = stored(`${map.folder}${name}`);
          entry.add(new Uint8Array(await file.arrayBuffer()));
          entry.finish();
        }
        for (const line of map.made[kind].warnings) warnings.push({ index, name: map.made[kind].files[0].name, line });
        continue;
      }
      if (!opened && (failed = await hold(map))) break;
      opened = true;
      const named = outputNames(kind);
      let entry = null, file = -1;
      const made = run(kind, (f, bytes) => {
        if (f !== file) entry?.finish(), file = f, entry = stored(`${map.folder}${named[f]}`);
        entry.add(bytes);
      });
      entry?.finish();
      // Its files made before stay in the zip; the map is named as failed.
      if ((failed = made.error ? made : null)) break;
      for (const line of made.warnings) warnings.push({ index, name: made.named[2], line });
    }
    if (failed) left.push({ index, ...failed });
    core.bm_close();
    // A zip without its 64-bit extension counts its offsets in 32 bits.
    if (total >= 2 ** 32) return { error: 'The zip would pass 4 GiB, the most a plain zip can hold: download fewer maps at once.' };
  }
  zip.end();
  if (zipError) return { error: zipError.message };
  performance.measure('blockmqo-zip', { start: t0 });
  return { file: new Blob(pieces, { type: 'application/zip' }), left, warnings };
}

async function serve(request) {
  const { format } = request;
  if (format === 'zip') return zipAll(request);
  if (format === 'pixels') return pixels(await read(request.file));
  const failed = await hold(request);
  try {
    if (failed) return failed;
    if (format === 'open') return open(request.withView);
    if (format === 'images') return images();
    if (format === 'view') return { view: view() };
    const t0 = performance.now(), made = make(request.kind);
    // The conversion alone, as the benchmark compares it: reading and writing.
    if (request.kind === 'mqo') performance.measure('blockmqo-convert', { start: t0 });
    return made;
  } finally {
    core.bm_close();
  }
}

let served = Promise.resolve();
self.onmessage = (event) => { served = served.then(() => answer(event.data)); };
async function answer(request) {
  let result;
  try {
    result = await serve(request);
  } catch (error) {
    // The module itself failed (out of memory while growing, a trap): the
    // worker's state is unknown, so say so plainly.
    result = { error: `Failed: ${error.message || error}` };
  }
  const v = result.view;
  self.postMessage({ type: 'done', id: request.id, ...result }, v ? [v.positions.buffer, v.uvs.buffer] : []);
}

start();

// Converts files off the page's main thread, so the page stays responsive
// while the largest map is written. The module is fetched once, when the page
// loads; after that the worker needs no network at all.
import { newDocumentReader, readDocumentChunk, finishDocument } from './document.js';
import { buildView } from './geometry.js';

let core = null;

async function start() {
  try {
    const url = new URL('blockmqo.wasm', self.location.href);
    const bytes = await (await fetch(url)).arrayBuffer();
    const { instance } = await WebAssembly.instantiate(bytes, {});
    core = instance.exports;
    core._initialize();
    self.postMessage({ type: 'ready' });
  } catch (error) {
    self.postMessage({ type: 'broken', message: String(error) });
  }
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

function convert(input) {
  const t0 = performance.now();
  const pointer = core.bm_input(input.byteLength);
  if (pointer) new Uint8Array(core.memory.buffer, pointer, input.byteLength).set(new Uint8Array(input));
  // With no room for the file the core reports its own allocation failure.
  const failure = core.bm_open(input.byteLength);
  if (failure) return { error: new TextDecoder().decode(cString(failure)) };

  const blocks = core.bm_block_count();
  const names = [];
  for (let i = 0; i < 10; i++) names.push(decodeName(cString(core.bm_texture_name(i))));
  const parts = [];
  for (let n; (n = core.bm_next());) {
    parts.push(new Uint8Array(core.memory.buffer, core.bm_chunk(), n).slice());
  }
  core.bm_close();
  const convertMs = performance.now() - t0;

  const document = new Blob(parts, { type: 'application/octet-stream' });
  let view = null, viewError = null;
  const t1 = performance.now();
  try {
    const reader = newDocumentReader();
    for (const part of parts) readDocumentChunk(reader, part);
    view = buildView(finishDocument(reader));
  } catch (error) {
    viewError = String(error.message || error);
  }
  const viewMs = performance.now() - t1;
  return { document, blocks, names, view, viewError, convertMs, viewMs };
}

self.onmessage = (event) => {
  const { id, bytes } = event.data;
  let result;
  try {
    result = convert(bytes);
  } catch (error) {
    // The module itself failed (out of memory while growing, a trap): the
    // worker's state is unknown, so say so plainly.
    result = { error: `Failed: ${error.message || error}` };
  }
  const transfer = result.view ? [result.view.positions.buffer, result.view.index.buffer] : [];
  self.postMessage({ type: 'done', id, ...result }, transfer);
};

start();

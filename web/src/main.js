// The page: choosing and dropping files, the list of results with their
// downloads and failures, and the map's counts, warnings and legend beside the
// view. The worker does all the converting; this side only shows.
import { zip } from 'fflate';
import { createView, showMap, resetCamera, setTurning, PALETTE, WARNING } from './view.js';

const $ = (id) => document.getElementById(id);
const IMAGE = /\.(bmp|png|jpe?g)$/i;

const page = {
  worker: null,
  ready: false,
  nextId: 1,
  waiting: new Map(),  // request id -> its answer's callback
  queue: [],           // requests made before the converter was ready
  busy: 0,             // maps being converted
  batches: 0,          // choices and drops so far
  shownBatch: 0,       // the latest choice or drop that put a map on show
  shownItem: null,
  view: null,
};

// NAME.bd1 becomes NAME.mqo; any other name just gains ".mqo", as the
// command-line companion names its documents.
const baseName = (name) => name.replace(/\.bd1$/i, '');
const FILES = [
  // The document, then the mesh's files as blockmqo-cli --optimize writes
  // them: the request's format and the file's name.
  { label: '.mqo', format: 'mqo', name: (b) => `${b}.mqo` },
  { label: 'optimized .mqo', format: 'optimized', name: (b) => `${b}.optimized.mqo` },
  { label: '.obj', format: 'obj', name: (b) => `${b}.obj` },
  { label: '.mtl', format: 'mtl', name: (b) => `${b}.mtl` },
  { label: '.glb', format: 'glb', name: (b) => `${b}.glb` },
];

function element(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  for (const c of children) e.append(c);
  return e;
}

function button(text, onClick, label) {
  const b = element('button', { type: 'button', textContent: text });
  if (label) b.setAttribute('aria-label', label);
  b.addEventListener('click', onClick);
  return b;
}

function start() {
  try {
    page.view = createView($('view'));
  } catch {
    // No WebGL here: the converter works all the same, only the picture is missing.
    $('view-keys').textContent = 'This browser cannot draw the 3D view (no WebGL); converting works all the same.';
  }
  startWorker();
  $('files').addEventListener('change', (event) => {
    convertFiles([...event.target.files]);
    event.target.value = '';  // the same file may be chosen again
  });
  $('example').addEventListener('click', async () => {
    try {
      const response = await fetch('courtyard.bd1');
      if (!response.ok) throw new Error(`the server answered ${response.status}`);
      convertFiles([new File([await response.blob()], 'courtyard.bd1')]);
    } catch (error) {
      setStatus(`The example could not be loaded: ${error.message}`);
    }
  });
  const zone = $('drop-zone');
  // Drops anywhere on the page; the browser would otherwise open the file.
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    zone.classList.add('dragging');
  });
  window.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) zone.classList.remove('dragging');
  });
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    zone.classList.remove('dragging');
    convertFiles([...event.dataTransfer.files]);
  });
  $('turn').addEventListener('click', (event) => {
    const on = event.target.getAttribute('aria-pressed') !== 'true';
    event.target.setAttribute('aria-pressed', String(on));
    if (page.view) setTurning(page.view, on);
  });
  $('reset').addEventListener('click', () => page.view && resetCamera(page.view));
  $('clear').addEventListener('click', () => {
    [...$('results').children].forEach(removeItem);
    // A module's memory only grows: a fresh worker gives back what the largest map took.
    if (page.ready && !page.waiting.size) startWorker();
  });
  $('zip').addEventListener('click', downloadAll);
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
}

function startWorker() {
  page.worker?.terminate();
  page.ready = false;
  setStatus('Loading the converter…');
  page.worker = new Worker('worker.js');
  page.worker.onmessage = (event) => onWorker(event.data);
  page.worker.onerror = (event) => {
    event.preventDefault();
    const why = event.message || 'the worker could not be started';
    if (!page.ready) return broken(why);
    // It stopped while working: what it had in hand fails, a fresh one takes the rest.
    for (const done of page.waiting.values()) done({ error: `Failed: the converter stopped (${why})` });
    page.waiting.clear();
    startWorker();
  };
}

function broken(why) {
  page.ready = false;
  $('status').replaceChildren(
    element('span', { className: 'failure', textContent: `The converter could not be loaded: ${why}. ` }),
    'Files already chosen wait for it. ',
    button('Try again', startWorker));
}

function setStatus(text) {
  $('status').textContent = text;
}

function updateStatus() {
  if (!page.ready) return;
  setStatus(page.busy ? `Converting ${page.busy} file${page.busy > 1 ? 's' : ''}…`
    : 'Ready. Nothing is uploaded: the conversion runs in this page.');
  const done = $('results').querySelector('[data-state="done"]');
  $('zip').disabled = !done;
  $('clear').disabled = !$('results').children.length;
}

function onWorker(message) {
  if (message.type === 'ready') {
    page.ready = true;
    performance.mark('blockmqo-ready');
    for (const [request, transfer] of page.queue.splice(0)) page.worker.postMessage(request, transfer);
    updateStatus();
  } else if (message.type === 'broken') {
    broken(message.message);
  } else {
    const done = page.waiting.get(message.id);
    page.waiting.delete(message.id);
    done(message);
  }
}

// One request to the worker; waits for the converter when it is not ready.
function ask(request, transfer = []) {
  return new Promise((done) => {
    request.id = page.nextId++;
    page.waiting.set(request.id, done);
    if (page.ready) page.worker.postMessage(request, transfer);
    else page.queue.push([request, transfer]);
  });
}

async function convertFiles(files) {
  const batch = ++page.batches;
  const maps = files.filter((f) => !IMAGE.test(f.name));
  const images = files.filter((f) => IMAGE.test(f.name));
  if (!maps.length) {
    for (const image of images) {
      const item = element('li', {}, element('span', { className: 'name', textContent: image.name }), ' ',
        element('span', { className: 'detail', textContent: 'Not a map: an image textures the view of a map chosen or dropped with it.' }));
      item.dataset.state = 'failed';
      item.querySelector('.detail').append(removeButton(item));
      $('results').append(item);
    }
    updateStatus();
  }
  for (const file of maps) {
    const item = element('li', {}, element('span', { className: 'name', textContent: file.name }));
    item.append(' ', element('span', {
      className: 'detail', textContent: page.ready ? 'Converting…' : 'Waiting for the converter…',
    }));
    item.dataset.state = 'busy';
    $('results').append(item);
    page.busy++;
    updateStatus();
    const started = performance.now();
    let answer;
    try {
      const bytes = await file.arrayBuffer();
      // The view is made now only for a map that may be shown at once;
      // another's is made if it is shown later.
      answer = await ask({ bytes, format: 'open', withView: batch > page.shownBatch }, [bytes]);
    } catch {
      // The file is gone or unreadable: what the desktop program says when it
      // cannot open its input.
      answer = { error: 'Failed: open file (bd)', facts: [1] };
    }
    page.busy--;
    if (!item.isConnected) continue;  // removed while converting
    if (!answer.error) {
      // Every file is made on demand from the file itself: a chosen file
      // stays on disk, not in memory (one changed meanwhile fails to read).
      item.input = file;
      item.textures = await loadTextures(answer.names, images);
      item.map = { name: file.name, base: baseName(file.name), ...answer };
    }
    finishItem(item, answer);
    // Each choice or drop shows its first map, unless a later one has shown its own.
    if (answer.view && batch > page.shownBatch) {
      page.shownBatch = batch;
      await showItem(item);
      // Measured once the view has drawn the map's first frame, and at the
      // next animation frame, the one that puts it on the screen.
      performance.measure('blockmqo-choose-to-view', { start: started });
      requestAnimationFrame(() => performance.measure('blockmqo-choose-to-frame', { start: started }));
    }
    updateStatus();
  }
}

// The images whose names match the map's texture names (the name's last
// part, any case), decoded; a name with no image is listed as missing.
async function loadTextures(names, images) {
  const bitmaps = [], missing = [];
  for (const [i, name] of names.entries()) {
    const want = name.split(/[\\/]/).pop().toLowerCase();
    if (!want) continue;
    const file = images.find((f) => f.name.toLowerCase() === want);
    try {
      bitmaps[i] = file ? await createImageBitmap(file) : null;
    } catch {
      bitmaps[i] = null;
    }
    if (!bitmaps[i]) missing.push(name);
  }
  return { bitmaps, missing };
}

// Plain words for a failed map, from the numbers the converter gives.
function explain([result, size, count, needed]) {
  const bytes = (n) => `${n.toLocaleString('en')} byte${n === 1 ? '' : 's'}`;
  switch (result) {
    case 1: return 'The browser could not read the file; it may have been moved or deleted.';
    case 2:
      if (size === 0) return `The file is empty; a map needs at least ${bytes(needed)}.`;
      if (count < 0) return `The file is ${bytes(size)}; a map needs at least ${needed.toLocaleString('en')}.`;
      return `The file is ${bytes(size)}, but the ${count.toLocaleString('en')} blocks it says it ` +
        `holds need ${bytes(needed)}: it is cut short, or not a block data file.`;
    case 3: return `Its block count is negative (${count.toLocaleString('en')}); a map holds 0 to 32,767 blocks. ` +
      'It is damaged, or not a block data file.';
    case 4: return 'The browser gave the converter too little memory for this map.';
    default: return '';
  }
}

function finishItem(item, result) {
  const detail = item.querySelector('.detail');
  if (result.error) {
    item.dataset.state = 'failed';
    detail.replaceChildren(element('span', { className: 'failure', textContent: result.error }),
      element('span', { className: 'why', textContent: explain(result.facts || []) }), removeButton(item));
    return;
  }
  item.dataset.state = 'done';
  const { name, base } = item.map;
  const links = element('span', { className: 'downloads' });
  for (const f of FILES) links.append(button(f.label, () => download(item, f), `Download ${f.name(base)}`), ' ');
  const view = button('View', () => showItem(item), `View ${name}`);
  view.setAttribute('aria-pressed', String(page.shownItem === item));
  detail.replaceChildren(links, view, removeButton(item));
}

function removeButton(item) {
  return button('Remove', () => removeItem(item), `Remove ${item.querySelector('.name').textContent}`);
}

// Forgets a result: its view, its images and its file go.
function removeItem(item) {
  for (const b of item.textures?.bitmaps || []) b?.close();
  if (page.shownItem === item) {
    page.shownItem = null;
    if (page.view) showMap(page.view, null);
    $('summary').replaceChildren(element('p', { textContent: 'No map yet.' }));
    $('view').setAttribute('aria-label', '3D view, no map yet');
    for (const id of ['turn', 'reset']) $(id).disabled = true;
  }
  item.remove();
  item.map = item.input = item.textures = null;
  updateStatus();
}

// One of the map's files, made from its file; what the file loses is said
// in the map's row, once, as blockmqo-cli warns when it writes the file.
async function meshFile(item, f) {
  const bytes = await item.input.arrayBuffer();
  const answer = await ask({ bytes, format: f.format, mtlName: `${item.map.base}.mtl` }, [bytes]);
  if (answer.error) throw new Error(answer.error);
  let list = item.querySelector('.warnings');
  for (const text of answer.warnings || []) {
    const line = `${f.name(item.map.base)}: ${text}`;
    if (!list) item.append(list = element('ul', { className: 'warnings', ariaLabel: `Warnings for ${item.map.name}` }));
    if (![...list.children].some((li) => li.textContent === line)) list.append(element('li', { textContent: line }));
  }
  return answer.file;
}

function save(blob, name) {
  const url = URL.createObjectURL(blob);
  element('a', { href: url, download: name }).click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);  // once the browser has surely read it
}

async function download(item, f) {
  try {
    save(await meshFile(item, f), f.name(item.map.base));
  } catch (error) {
    setStatus(`${f.name(item.map.base)} could not be made: ${error.message}`);
  }
}

// Every map of the list, in every format, as one zip.
async function downloadAll() {
  const entries = {};
  try {
    for (const item of $('results').querySelectorAll('[data-state="done"]')) {
      // A name chosen twice gets a folder per choice, so no file hides another.
      let folder = '';
      for (let n = 2; FILES.some((f) => `${folder}${f.name(item.map.base)}` in entries); n++) folder = `${n}/`;
      for (const f of FILES) entries[folder + f.name(item.map.base)] = new Uint8Array(await (await meshFile(item, f)).arrayBuffer());
    }
  } catch (error) {
    setStatus(`The zip could not be made: ${error.message}`);
    return;
  }
  zip(entries, { level: 6 }, (error, data) => {
    if (error) setStatus(`The zip could not be made: ${error.message}`);
    else save(new Blob([data], { type: 'application/zip' }), 'blockmqo.zip');
  });
}

// Puts a result on show. Its view's arrays go to the GPU and are let go here:
// a result shown later, or again, has its view made from its file.
const counts = ({ faces, dropped, perClass }) => ({ faces, dropped, perClass });

async function showItem(item) {
  let { view } = item.map;
  if (!view?.positions) {
    try {
      const bytes = await item.input.arrayBuffer();
      ({ view } = await ask({ bytes, format: 'view' }, [bytes]));
    } catch {
      view = null;
    }
    if (!item.map) return;  // removed meanwhile
    if (!view) return setStatus(`${item.map.name} could not be shown: its file cannot be read or is too large.`);
  }
  if (page.shownItem) page.shownItem.querySelector('[aria-label^="View"]')?.setAttribute('aria-pressed', 'false');
  page.shownItem = item;
  item.querySelector('[aria-label^="View"]')?.setAttribute('aria-pressed', 'true');
  const { name } = item.map;
  if (page.view) showMap(page.view, view, item.textures.bitmaps);
  item.map.view = counts(view);
  for (const id of ['turn', 'reset']) $(id).disabled = !page.view;
  $('view').setAttribute('aria-label', `3D view of ${name}`);
  $('summary').replaceChildren(...summary(item.map, item.textures.missing));
}

function summary({ name, blocks, names, view, warnings }, missing) {
  const counts = element('dl');
  const row = (label, value, key, warn = false) => {
    const dd = element('dd', { textContent: value.toLocaleString('en') });
    dd.dataset.count = key;
    if (warn && value > 0) {
      // Not by colour alone: a sign for the eye, a word for a screen reader.
      dd.className = 'warning';
      dd.prepend(element('span', { ariaHidden: 'true', textContent: '⚠ ' }),
        element('span', { className: 'visually-hidden', textContent: 'Warning: ' }));
    }
    counts.append(element('dt', { textContent: label }), dd);
  };
  row('Blocks', blocks, 'blocks');
  row('Faces drawn', view.faces, 'faces');
  row('Blocks not drawn (a number is infinite or not a number)', view.dropped, 'dropped', true);
  const parts = [element('h3', { textContent: name }), counts];
  if (warnings.length) {
    parts.push(element('ul', { className: 'warnings', ariaLabel: 'Warnings' },
      ...warnings.map((w) => element('li', { textContent: w }))));
  }
  if (missing.length) {
    parts.push(element('p', { className: 'tex', textContent: `No image given for: ${missing.join(', ')}` }));
  }

  const legend = element('table', {}, element('caption', { textContent: 'Materials' }));
  legend.append(element('tr', {},
    element('th', { scope: 'col', textContent: 'No.' }),
    element('th', { scope: 'col', textContent: 'Name' }),
    element('th', { scope: 'col', textContent: 'Faces' })));
  const legendRow = (number, label, colour, faces, extra) => {
    const swatch = element('span', { className: 'swatch' });
    swatch.style.background = colour;
    const nameCell = element('td', {}, swatch, label);
    if (extra) nameCell.append(element('span', { className: 'tex', textContent: extra }));
    const count = element('td', { className: 'count', textContent: faces.toLocaleString('en') });
    count.dataset.material = String(number);
    return element('tr', {}, element('td', { textContent: String(number) }), nameCell, count);
  };
  // The document names an empty material "empty", with no texture.
  names.forEach((n, m) => legend.append(legendRow(m, n || 'empty', PALETTE[m], view.perClass[m], n ? '' : ' (no texture)')));
  if (view.perClass[10]) {
    const other = legendRow('other', 'outside 0 to 9', WARNING, view.perClass[10]);
    other.className = 'warning';
    legend.append(other);
  }
  return [...parts, legend];
}

start();

// The page: choosing and dropping files, the list of results with their
// downloads and failures, and the map's counts, warnings and legend beside the
// view. The worker does all the converting and zipping; this side only shows,
// and says in the status line (a live region) what happened.
import { PALETTE, WARNING } from './colours.js';

const $ = (id) => document.getElementById(id);
const IMAGE = /\.(bmp|png|jpe?g|tga)$/i;
// Where the map section stacks below the list (as style.css lays it out).
const NARROW = '(max-width: 60rem)';

const page = {
  worker: null,
  ready: false,
  nextId: 1,
  waiting: new Map(),  // request id -> { done, progress } for its answer
  queue: [],           // requests made before the converter was ready
  busy: 0,             // maps being converted
  run: null,           // the maps of the conversions under way, for the status line
  zipping: false,
  batches: 0,          // choices and drops so far
  shownBatch: 0,       // the latest choice or drop that put a map on show
  shownItem: null,
  view: undefined,     // the view's module and state once first needed; null: not available
};

// NAME.bd1 becomes NAME.mqo; any other name just gains ".mqo", as the
// command-line companion names its documents.
const baseName = (name) => name.replace(/\.bd1$/i, '');
const FILES = [
  // The document, then the mesh's files as blockmqo-cli --optimize writes
  // them: the kind the button shows, the request's format and the file's name.
  { kind: '.mqo', format: 'mqo', name: (b) => `${b}.mqo` },
  { kind: 'optimized .mqo', format: 'optimized', name: (b) => `${b}.optimized.mqo` },
  { kind: '.obj', format: 'obj', name: (b) => `${b}.obj` },
  { kind: '.mtl', format: 'mtl', name: (b) => `${b}.mtl` },
  { kind: '.glb', format: 'glb', name: (b) => `${b}.glb` },
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
      setStatus(`The example could not be loaded; check the connection and try again. (${error.message})`);
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
    if (page.view) page.view.api.setTurning(page.view.state, on);
  });
  $('reset').addEventListener('click', () => page.view && page.view.api.resetCamera(page.view.state));
  $('clear').addEventListener('click', () => {
    [...$('results').children].forEach((item) => removeItem(item));
    $('files').focus();
    // A module's memory only grows: a fresh worker gives back what the largest map took.
    if (page.ready && !page.waiting.size) startWorker();
    else setStatus('The list is cleared.');
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
    for (const { done } of page.waiting.values()) done({ error: `Failed: the converter stopped (${why})` });
    page.waiting.clear();
    startWorker();
  };
}

function broken(why) {
  page.ready = false;
  $('status').replaceChildren(
    element('span', { className: 'failure', textContent: 'The converter could not be loaded, so nothing can be converted yet. ' }),
    `Check the connection and try again; files already chosen wait for it. (${why}.) `,
    button('Try again', startWorker));
}

function setStatus(text) {
  $('status').textContent = text;
}

const plural = (n, word) => `${n.toLocaleString('en')} ${word}${n === 1 ? '' : 's'}`;

// The status line while maps are converted, and what came of them once all are done.
function updateStatus() {
  const { run } = page;
  if (page.ready && page.busy) setStatus(`Converting ${Math.min(run.done + 1, run.total)} of ${run.total}…`);
  else if (run && !page.busy) {
    page.run = null;
    const [failed] = run.failed;
    if (run.total === 1 && failed) setStatus(`${failed.name} could not be converted: ${failed.why}`);
    else if (run.total === 1) setStatus(`${run.ok[0]} converted${run.warned.length ? ', with warnings' : ''}.`);
    else if (run.total) {
      let said = `${run.ok.length} of ${run.total} maps converted`;
      if (run.failed.length) said += `; not converted: ${run.failed.map((f) => f.name).join(', ')}`;
      if (run.warned.length) said += `; with warnings: ${run.warned.join(', ')}`;
      setStatus(`${said}.`);
    }
  }
  // While a zip is made its button keeps the focus it has, but starts no second one.
  $('zip').disabled = !page.zipping && !$('results').querySelector('[data-state="done"]');
  $('zip').setAttribute('aria-disabled', String(page.zipping));
  $('zip-progress').hidden = !page.zipping;
  $('clear').disabled = page.zipping || !$('results').children.length;
}

function onWorker(message) {
  if (message.type === 'ready') {
    page.ready = true;
    performance.mark('blockmqo-ready');
    for (const request of page.queue.splice(0)) page.worker.postMessage(request);
    if (!page.busy) setStatus('Ready. Nothing is uploaded: the conversion runs in this page.');
    updateStatus();
  } else if (message.type === 'broken') {
    broken(message.message);
  } else {
    const waiting = page.waiting.get(message.id);
    if (message.type === 'progress') return waiting.progress(message);
    page.waiting.delete(message.id);
    waiting.done(message);
  }
}

// One request to the worker; waits for the converter when it is not ready.
function ask(request, progress) {
  return new Promise((done) => {
    request.id = page.nextId++;
    page.waiting.set(request.id, { done, progress });
    if (page.ready) page.worker.postMessage(request);
    else page.queue.push(request);
  });
}

async function convertFiles(files) {
  const batch = ++page.batches;
  const maps = files.filter((f) => !IMAGE.test(f.name));
  const images = files.filter((f) => IMAGE.test(f.name));
  // The status line counts every map chosen until all are done.
  page.run ||= { total: 0, done: 0, ok: [], failed: [], warned: [] };
  page.run.total += maps.length;
  page.busy += maps.length;
  // Each map has its row at once, converted in turn.
  const rows = maps.map((file) => {
    const item = element('li', {}, element('span', { className: 'name', textContent: file.name }), ' ',
      element('span', { className: 'detail', textContent: page.ready ? 'Waiting…' : 'Waiting for the converter…' }));
    item.dataset.state = 'busy';
    $('results').append(item);
    return item;
  });
  updateStatus();
  if (images.length) await addImages(images, !maps.length);
  for (const [i, file] of maps.entries()) {
    const item = rows[i];
    if (page.ready) item.querySelector('.detail').textContent = 'Converting…';
    const started = performance.now();
    // The view is made now only for a map that may be shown at once;
    // another's is made if it is shown later.
    const answer = item.isConnected ? await ask({ file, format: 'open', withView: batch > page.shownBatch }) : {};
    page.busy--;
    const { run } = page;
    run.done++;
    if (!item.isConnected) continue;  // removed before or while converting
    if (!answer.error) {
      // Every file is made on demand from the file itself: a chosen file
      // stays on disk, not in memory (one moved or changed meanwhile fails).
      item.input = file;
      item.images = images;
      item.textures = await loadTextures(answer.names, images);
      item.map = { name: file.name, base: baseName(file.name), ...answer };
      run.ok.push(file.name);
      if (answer.warnings.length) run.warned.push(file.name);
    } else {
      run.failed.push({ name: file.name, why: explain(answer.facts) });
    }
    finishItem(item, answer);
    // Each choice or drop shows its first map, unless a later one has shown its own.
    if (answer.view && batch > page.shownBatch) {
      page.shownBatch = batch;
      await showItem(item, true);
      // Measured once the view has drawn the map's first frame, and at the
      // next animation frame, the one that puts it on the screen.
      performance.measure('blockmqo-choose-to-view', { start: started });
      requestAnimationFrame(() => performance.measure('blockmqo-choose-to-frame', { start: started }));
    }
    updateStatus();
  }
}

// The images whose names match the map's texture names (the name's last
// part, any case), decoded: an ImageBitmap or null per texture number. What
// the browser cannot decode (TGA) the converter does.
const wanted = (name) => name.split(/[\\/]/).pop().toLowerCase();
async function decoded(file) {
  const { width, height, data } = await ask({ file, format: 'pixels' });
  return data ? createImageBitmap(new ImageData(data, width, height)) : null;
}
async function loadTextures(names, images) {
  const bitmaps = [];
  for (const [i, name] of names.entries()) {
    const file = wanted(name) && images.findLast((f) => f.name.toLowerCase() === wanted(name));
    try {
      bitmaps[i] = file ? await createImageBitmap(file).catch(() => decoded(file)) : null;
    } catch {
      bitmaps[i] = null;
    }
  }
  return bitmaps;
}

// Images given after their maps texture every map on the list that names
// them; `alone` (no map came with them): one that no map names is said to be
// no map itself.
async function addImages(images, alone) {
  const used = new Set();
  for (const item of $('results').querySelectorAll('[data-state="done"]')) {
    const names = item.map.names.map(wanted);
    const fit = images.filter((f) => names.includes(f.name.toLowerCase()));
    if (!fit.length) continue;
    for (const f of fit) used.add(f);
    item.images = [...item.images, ...fit];
    const bitmaps = await loadTextures(item.map.names, item.images);
    if (!item.map) continue;  // removed meanwhile
    for (const b of item.textures) b?.close();
    item.textures = bitmaps;
    if (page.shownItem === item) await showItem(item);
  }
  if (!alone) return;
  const unused = images.filter((f) => !used.has(f)).map((f) => f.name);
  const parts = [];
  if (used.size) parts.push(`Textured: ${[...used].map((f) => f.name).join(', ')}.`);
  if (unused.length) {
    parts.push(`Not a map, and no map on the list names it: ${unused.join(', ')}. ` +
      'An image textures a map whose texture names name it, chosen or dropped with it or after it.');
  }
  setStatus(parts.join(' '));
}

// Plain words for a failed map, from the facts the converter gives.
function explain({ result, size, count, needed, most } = {}) {
  const bytes = (n) => plural(n, 'byte');
  switch (result) {
    case 'open-failed': return 'The file can no longer be read: it was moved, deleted or changed after it was chosen. Choose it again.';
    case 'truncated':
      if (size === 0) return `The file is empty; a map needs at least ${bytes(needed)}.`;
      if (count < 0) return `The file is ${bytes(size)}; a map needs at least ${bytes(needed)}.`;
      return `The file is ${bytes(size)}, but the ${count.toLocaleString('en')} blocks it says it ` +
        `holds need ${bytes(needed)}: it is cut short, or not a block data file.`;
    case 'negative-count': return `Its block count is negative (${count.toLocaleString('en')}); a map holds 0 to ${most.toLocaleString('en')} blocks. ` +
      'It is damaged, or not a block data file.';
    case 'out-of-memory': return 'The browser gave the converter too little memory for this map.';
    // The converter stopped, or ran out of memory making a file: its own text says which.
    default: return 'The converter could not finish it; trying again may work.';
  }
}

function finishItem(item, result) {
  const detail = item.querySelector('.detail');
  if (result.error) {
    item.dataset.state = 'failed';
    // The plain words first, then the converter's own text.
    detail.replaceChildren(element('span', { className: 'why', textContent: explain(result.facts) }),
      element('span', { className: 'failure', textContent: result.error }), removeButton(item));
    return;
  }
  item.dataset.state = 'done';
  const { name, base } = item.map;
  const links = element('span', { className: 'downloads' });
  for (const f of FILES) {
    // The verb and the kind in sight; the file's name for a screen reader too.
    const b = button(`Download ${f.kind}`, () => download(item, f));
    b.append(element('span', { className: 'visually-hidden', textContent: ` (${f.name(base)})` }));
    links.append(b, ' ');
  }
  const view = button('View', () => showItem(item, true), `View ${name}`);
  view.setAttribute('aria-pressed', String(page.shownItem === item));
  detail.replaceChildren(links, view, removeButton(item));
}

function removeButton(item) {
  const name = item.querySelector('.name').textContent;
  return button('Remove', () => {
    // Focus goes to the row that takes its place, or the one before, or to choosing files.
    const next = item.nextElementSibling || item.previousElementSibling;
    removeItem(item);
    (next?.querySelector('button') || $('files')).focus();
    setStatus(`${name} removed.`);
  }, `Remove ${name}`);
}

// Forgets a result: its view, its images and its file go.
function removeItem(item) {
  for (const b of item.textures || []) b?.close();
  if (page.shownItem === item) {
    page.shownItem = null;
    if (page.view) page.view.api.showMap(page.view.state, null);
    $('summary').replaceChildren(element('p', { textContent: 'No map yet.' }));
    setStage(null);
  }
  item.remove();
  item.map = item.input = item.textures = item.images = null;
  updateStatus();
}

// The view's canvas: a Tab stop only while it shows a map; otherwise the note
// over it says what will appear there, or that this browser cannot show it.
function setStage(name) {
  const canvas = $('view'), shown = Boolean(name && page.view);
  if (shown) {
    canvas.setAttribute('aria-label', `3D view of ${name}`);
    canvas.tabIndex = 0;
  } else canvas.removeAttribute('tabindex');
  canvas.setAttribute('aria-hidden', String(!shown));
  canvas.toggleAttribute('hidden', page.view === null);
  $('view-empty').hidden = shown;
  if (page.view === null) {
    $('view-empty').textContent = 'The 3D view is not available: this browser cannot draw it (no WebGL). ' +
      'Converting and downloading work all the same.';
  }
  for (const id of ['turn', 'reset']) $(id).disabled = !shown;
}

// What the map's rows say of its files, once each, as blockmqo-cli warns when it writes them.
function warn(item, lines) {
  let list = item.querySelector('.warnings');
  for (const line of lines) {
    if (!list) item.append(list = element('ul', { className: 'warnings', ariaLabel: `Warnings for ${item.map.name}` }));
    if (![...list.children].some((li) => li.textContent === line)) list.append(element('li', { textContent: line }));
  }
}

function save(blob, name) {
  const url = URL.createObjectURL(blob);
  element('a', { href: url, download: name }).click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);  // once the browser has surely read it
}

async function download(item, f) {
  const name = f.name(item.map.base);
  const answer = await ask({ file: item.input, format: f.format, mtlName: `${item.map.base}.mtl`, images: item.images });
  if (answer.error) return setStatus(`${name} could not be made: ${explain(answer.facts)} (${answer.error})`);
  const lines = (answer.warnings || []).map((text) => `${name}: ${text}`);
  if (item.map) warn(item, lines);
  save(answer.file, name);
  setStatus(`${name} downloaded.${lines.length ? ` Warnings: ${lines.join(' ')}` : ''}`);
}

// Every map of the list, in every format, as one zip made by the worker.
async function downloadAll() {
  if (page.zipping) return;
  const started = performance.now();
  const items = [...$('results').querySelectorAll('[data-state="done"]')];
  const used = new Set();
  const maps = items.map((item) => {
    // A name chosen twice gets a folder per choice, so no file hides another.
    let folder = '';
    for (let n = 2; FILES.some((f) => used.has(folder + f.name(item.map.base))); n++) folder = `${n}/`;
    const files = FILES.map((f) => ({ name: folder + f.name(item.map.base), format: f.format, mtlName: `${item.map.base}.mtl` }));
    for (const f of files) used.add(f.name);
    return { file: item.input, files, images: item.images };
  });
  page.zipping = true;
  updateStatus();
  // Said in the status line; shown beside the button too, which may be far below it.
  const progress = (done) => {
    Object.assign($('zip-progress'), { max: maps.length, value: done });
    setStatus(`Making the zip: map ${done + 1} of ${maps.length} (${items[done].map?.name ?? 'removed'})…`);
  };
  progress(0);
  const answer = await ask({ format: 'zip', maps }, ({ done }) => progress(done));
  page.zipping = false;
  updateStatus();
  if (answer.error) return setStatus(`The zip could not be made: ${answer.error}`);
  for (const { index, name, line } of answer.warnings) {
    if (items[index].map) warn(items[index], [`${name.split('/').pop()}: ${line}`]);  // the name, not its folder in the zip
  }
  const left = answer.left.map(({ index, facts, error }) => `${items[index].map?.name ?? ''} (${explain(facts)} ${error})`);
  if (left.length === maps.length) return setStatus(`No zip: no map could be made. ${left.join(' ')}`);
  save(answer.file, 'blockmqo.zip');
  performance.measure('blockmqo-download-all', { start: started });
  setStatus(`blockmqo.zip downloaded: ${plural(maps.length - left.length, 'map')}.` +
    (left.length ? ` Left out: ${left.join('; ')}` : ''));
}

// The view's code and state, loaded and made when a map is first shown; null
// when this browser cannot draw it.
async function theView() {
  if (page.view === undefined) {
    try {
      const api = await import('./view.js');
      page.view = { api, state: api.createView($('view')) };
    } catch {
      page.view = null;
    }
  }
  return page.view;
}

// Puts a result on show. Its view's arrays go to the GPU and are let go here:
// a result shown later, or again, has its view made from its file. `reveal`:
// the user chose it, so a narrow screen scrolls to it.
const counts = ({ faces, dropped, perClass }) => ({ faces, dropped, perClass });

async function showItem(item, reveal = false) {
  let { view } = item.map;
  if (!view?.positions) {
    const answer = await ask({ file: item.input, format: 'view' });
    if (!item.map) return;  // removed meanwhile
    view = answer.view;
    if (!view) return setStatus(`${item.map.name} could not be shown: ${answer.error ? explain(answer.facts) : 'it is too large for the memory the browser gives.'}`);
  }
  const shown = await theView();
  if (!item.map) return;
  if (page.shownItem) page.shownItem.querySelector('[aria-label^="View"]')?.setAttribute('aria-pressed', 'false');
  page.shownItem = item;
  item.querySelector('[aria-label^="View"]')?.setAttribute('aria-pressed', 'true');
  if (shown) shown.api.showMap(shown.state, view, item.textures);
  item.map.view = counts(view);
  setStage(item.map.name);
  $('summary').replaceChildren(...summary(item.map, item.textures));
  if (reveal && matchMedia(NARROW).matches) $('map').scrollIntoView();
}

function summary({ name, blocks, names, view, warnings }, bitmaps) {
  // A name no face uses needs no image.
  const missing = names.filter((n, i) => wanted(n) && view.perClass[i] && !bitmaps[i]);
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

// The page: choosing and dropping files, the list of results with their
// downloads and failures, and the map's counts and legend beside the view.
import { MATERIAL_COUNT } from './geometry.js';
import { createView, showMap, resetCamera, setTurning, PALETTE, WARNING } from './view.js';

const $ = (id) => document.getElementById(id);

const page = {
  worker: null,
  ready: false,
  nextId: 1,
  waiting: new Map(),  // id -> the file's list item, until the worker answers
  shownItem: null,
  view: null,
  batchShown: true,    // whether this batch has put a map on show yet
};

// NAME.bd1 becomes NAME.mqo; any other name just gains ".mqo", as the
// command-line companion names its documents.
function documentName(name) {
  return name.replace(/\.bd1$/i, '') + '.mqo';
}

function formatBytes(n) {
  if (n < 1024) return `${n} bytes`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
  return `${(n / 1024 / 1024).toFixed(1)} MiB`;
}

function element(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  for (const c of children) e.append(c);
  return e;
}

function start() {
  try {
    page.view = createView($('view'));
  } catch {
    // No WebGL here: the converter works all the same, only the picture is missing.
    $('view-keys').textContent = 'This browser cannot draw the 3D view (no WebGL); converting works all the same.';
  }
  page.worker = new Worker('worker.js');
  page.worker.onmessage = (event) => onWorker(event.data);
  page.worker.onerror = () => setStatus('The converter could not be started in this browser.');

  $('files').addEventListener('change', (event) => {
    convertFiles([...event.target.files]);
    event.target.value = '';  // the same file may be chosen again
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
    if (page.ready) convertFiles([...event.dataTransfer.files]);
  });
  $('turn').addEventListener('click', (event) => {
    const on = event.target.getAttribute('aria-pressed') !== 'true';
    event.target.setAttribute('aria-pressed', String(on));
    if (page.view) setTurning(page.view, on);
  });
  $('reset').addEventListener('click', () => page.view && resetCamera(page.view));
}

function setStatus(text) {
  $('status').textContent = text;
}

function onWorker(message) {
  if (message.type === 'ready') {
    page.ready = true;
    $('files').disabled = false;
    setStatus('Ready. Nothing is uploaded: the conversion runs in this page.');
    document.body.dataset.readyMs = performance.now().toFixed(0);  // for the benchmark
    document.body.dataset.ready = 'true';
    return;
  }
  if (message.type === 'broken') {
    setStatus(`The converter could not be loaded: ${message.message}`);
    return;
  }
  const item = page.waiting.get(message.id);
  page.waiting.delete(message.id);
  finishItem(item, message);
}

async function convertFiles(files) {
  page.batchShown = false;
  for (const file of files) {
    const item = element('li', {}, element('span', { className: 'name', textContent: file.name }));
    item.append(' ', element('span', { className: 'detail', textContent: 'Converting…' }));
    item.dataset.state = 'busy';
    item.started = performance.now();
    $('results').append(item);
    let bytes;
    try {
      bytes = await file.arrayBuffer();
    } catch {
      // The file is gone or unreadable: what the desktop program says when it
      // cannot open its input.
      finishItem(item, { error: 'Failed: open file (bd)' });
      continue;
    }
    const id = page.nextId++;
    page.waiting.set(id, item);
    item.file = file;
    page.worker.postMessage({ id, bytes }, [bytes]);
  }
}

function finishItem(item, result) {
  const detail = item.querySelector('.detail');
  if (result.error) {
    item.dataset.state = 'failed';
    detail.replaceWith(element('span', { className: 'failure', textContent: result.error }));
    return;
  }
  item.dataset.state = 'done';
  item.dataset.convertMs = result.convertMs.toFixed(1);
  item.dataset.viewMs = result.viewMs.toFixed(1);
  const name = documentName(item.querySelector('.name').textContent);
  const link = element('a', {
    href: URL.createObjectURL(result.document), download: name, textContent: `Download ${name}`,
  });
  detail.replaceChildren(link, ` (${formatBytes(result.document.size)})`);
  item.map = { name: item.querySelector('.name').textContent, ...result };
  if (result.view) {
    const button = element('button', { type: 'button', textContent: 'View' });
    button.setAttribute('aria-label', `View ${item.map.name}`);
    button.addEventListener('click', () => showItem(item));
    detail.append(button);
  } else {
    detail.append(element('span', { className: 'failure', textContent: ` No view: ${result.viewError}` }));
  }
  if (!page.batchShown && result.view) {
    page.batchShown = true;
    showItem(item);
  }
  // From the file's choice to its result on show, for the benchmark.
  item.dataset.totalMs = (performance.now() - item.started).toFixed(1);
}

function showItem(item) {
  if (page.shownItem) page.shownItem.querySelector('button')?.setAttribute('aria-pressed', 'false');
  page.shownItem = item;
  item.querySelector('button').setAttribute('aria-pressed', 'true');
  const { name, view, blocks, names } = item.map;
  if (page.view) showMap(page.view, view);
  $('view').setAttribute('aria-label', `3D view of ${name}`);
  $('summary').replaceChildren(...summary(name, blocks, names, view));
}

function summary(name, blocks, names, view) {
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
  row('Vertices', view.vertexCount, 'vertices');
  row('Faces', view.faceCount, 'faces');
  row('Faces with a material outside 0 to 9', view.outOfRange, 'out-of-range', true);
  row('Blocks with non-finite coordinates (not drawn)', view.nonFiniteBlocks, 'non-finite', true);

  const legend = element('table', {}, element('caption', { textContent: 'Materials' }));
  legend.append(element('tr', {},
    element('th', { scope: 'col', textContent: 'No.' }),
    element('th', { scope: 'col', textContent: 'Name' }),
    element('th', { scope: 'col', textContent: 'Faces' })));
  for (let m = 0; m < MATERIAL_COUNT; m++) {
    // The document names an empty material "empty", with no texture.
    const label = names[m] ? names[m] : 'empty';
    const swatch = element('span', { className: 'swatch' });
    swatch.style.background = PALETTE[m];
    const nameCell = element('td', {}, swatch, label);
    if (!names[m]) nameCell.append(element('span', { className: 'tex', textContent: ' (no texture)' }));
    const count = element('td', { className: 'count', textContent: view.faceCounts[m].toLocaleString('en') });
    count.dataset.material = String(m);
    legend.append(element('tr', {}, element('td', { textContent: String(m) }), nameCell, count));
  }
  if (view.outOfRange) {
    const swatch = element('span', { className: 'swatch' });
    swatch.style.background = WARNING;
    legend.append(element('tr', { className: 'warning' }, element('td', { textContent: 'other' }),
      element('td', {}, swatch, 'outside 0 to 9'),
      element('td', { className: 'count', textContent: view.outOfRange.toLocaleString('en') })));
  }
  return [element('h3', { textContent: name }), counts, legend];
}

start();

// The page: choosing and dropping files, the list of results with their
// downloads and failures, and the map on show. The worker does all the
// converting and zipping, and the core decides every fact; this side keeps a
// plain record per map and says in the status line (the one live region)
// what happened, once and briefly.
import { ask, isIdle, isReady, startWorker } from './client.js';
import { $, button, element, plural, setStatus } from './dom.js';
import { addRow, addWarnings, explain, finishRow, markShown, setDetail } from './rows.js';
import { clear, refresh, resetView, setTurning, show, shownRecord } from './stage.js';

// Which files are images to hand over rather than maps to convert.
const IMAGE = /\.(bmp|png|jpe?g|tga)$/i;
// Where the map section stacks below the list (as style.css lays it out).
const NARROW = '(max-width: 60rem)';

const page = {
  records: new Map(),  // record id -> record, in the list's order
  nextId: 1,
  run: null,           // the conversions under way, for the status line
  zipping: false,
  batches: 0,          // choices and drops so far
  shownBatch: 0,       // the latest choice or drop that put a map on show
  quiet: false,        // a fresh converter after clearing the list is not announced
  broken: false,       // the converter could not be loaded
};
// A record still on the list, after an await.
const listed = (record) => page.records.get(record.id) === record;
const done = () => [...page.records.values()].filter((r) => r.state === 'done');

const READY = 'Ready. Nothing is uploaded: the conversion runs in this page.';
const loading = {
  loading() {
    page.broken = false;
    if (!page.quiet) setStatus('Loading the converter…');
  },
  ready() {
    performance.mark('blockmqo-ready');
    if (!page.quiet && !page.run) setStatus(READY);
    page.quiet = false;
    for (const record of page.records.values()) if (record.state === 'waiting') setDetail(record, 'Waiting…');
  },
  broken(why) {
    page.quiet = false;
    page.broken = true;
    setStatus(element('span', { className: 'failure', textContent: 'The converter could not be loaded, so nothing can be converted yet. ' }),
      `Check the connection and try again; files already chosen wait for it. (${why}.) `,
      button('Try again', () => startWorker()));
  },
};

function start() {
  startWorker(loading);
  $('files').addEventListener('change', (event) => {
    convertFiles([...event.target.files]);
    event.target.value = '';  // the same file may be chosen again
  });
  $('example').addEventListener('click', async () => {
    try {
      // The map with the images it names, so that its view and glb show them.
      const get = async (name) => {
        const response = await fetch(`example/${name}`);
        if (!response.ok) throw new Error(`the server answered ${response.status}`);
        return response;
      };
      const names = await (await get('files.json')).json();
      convertFiles(await Promise.all(names.map(async (name) => new File([await (await get(name)).blob()], name))));
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
    setTurning(on);
  });
  $('reset').addEventListener('click', resetView);
  $('clear').addEventListener('click', () => {
    for (const record of [...page.records.values()]) remove(record);
    $('files').focus();
    setStatus('The list is cleared.');
    // A module's memory only grows: a fresh worker gives back what the largest
    // map took. One that could not be loaded is tried again, or its "Try again" would be gone.
    if ((isReady() && isIdle()) || page.broken) page.quiet = true, startWorker(loading);
  });
  $('zip').addEventListener('click', downloadAll);
  if ('serviceWorker' in navigator) navigator.serviceWorker.register('sw.js').catch(() => {});
}

// The buttons under the list, as the records stand.
function updateButtons() {
  // While a zip is made its button keeps the focus it has, but starts no second one.
  $('zip').disabled = !page.zipping && !done().length;
  $('zip').setAttribute('aria-disabled', String(page.zipping));
  $('zip-progress').hidden = !page.zipping;
  $('clear').disabled = page.zipping || !page.records.size;
}

// What came of the maps chosen since the list was last idle, said once all are done.
function sayRun(run) {
  // Every map removed meanwhile: each was said as it went.
  if (!run.ok.length && !run.failed.length) return isReady() && setStatus(READY);
  const failedImages = run.ok.filter((r) => r.map.images?.some((i) => i.use === 'unreadable')).map((r) => r.name);
  const images = failedImages.length ? ` An image given for ${failedImages.join(', ')} could not be read.` : '';
  const [failed] = run.failed;
  if (run.total === 1 && failed) return setStatus(`${failed.name} could not be converted: ${explain(failed.failure.facts)}`);
  if (run.total === 1) return setStatus(`${run.ok[0].name} converted${run.ok[0].warnings.length ? ', with warnings' : ''}.${images}`);
  let said = `${run.ok.length} of ${run.total} maps converted`;
  if (run.failed.length) said += `; not converted: ${run.failed.map((f) => f.name).join(', ')}`;
  const warned = run.ok.filter((r) => r.warnings.length).map((r) => r.name);
  if (warned.length) said += `; with warnings: ${warned.join(', ')}`;
  setStatus(`${said}.${images}`);
}

function newRecord(file, images) {
  const record = { id: page.nextId++, file, name: file.name, images, state: 'waiting', warnings: [], textures: [], made: {} };
  page.records.set(record.id, record);
  addRow(record, isReady());
  return record;
}

// The images the core picked for the view, decoded: an ImageBitmap or null
// per texture number. What the browser cannot decode (TGA) the converter does.
async function decoded(file) {
  const { width, height, data } = await ask({ format: 'pixels', file });
  return data ? createImageBitmap(new ImageData(data, width, height)) : null;
}
async function textures(record) {
  const bitmaps = [];
  for (const [t, { use, given }] of record.map.images.entries()) {
    const file = use === 'used' ? record.images[given] : null;
    bitmaps[t] = file ? await createImageBitmap(file).catch(() => decoded(file)).catch(() => null) : null;
  }
  return bitmaps;
}

// What the core decided of a record's images (given `images`, the files
// handed over): its glb made with them, and its textures for the view.
// Returns the decisions, or null when its glb could not be made.
const decide = (record, images) => ask({ format: 'images', file: record.file, name: record.name, images });
async function take(record, images, answer) {
  if (answer.error) return;
  const bitmaps = await textures({ ...record, images, map: { images: answer.images } });
  if (!listed(record)) return;
  for (const b of record.textures) b?.close();
  // An OBJ made before named other images in its MTL.
  record.made = { mqo: record.made.mqo, optimized: record.made.optimized, glb: answer.glb };
  Object.assign(record, { images, textures: bitmaps });
  record.map.images = answer.images;
  refresh(record);
}

async function convertFiles(files) {
  const batch = ++page.batches;
  const maps = files.filter((f) => !IMAGE.test(f.name));
  const images = files.filter((f) => IMAGE.test(f.name));
  if (maps.length && !page.run) {
    setStatus(maps.length === 1 ? `Converting ${maps[0].name}…` : `Converting ${plural(maps.length, 'map')}…`);
    page.run = { total: 0, busy: 0, ok: [], failed: [] };
  }
  const run = page.run || { total: 0, busy: 0 };
  run.total += maps.length;
  run.busy += maps.length;
  const records = maps.map((file) => newRecord(file, images));
  updateButtons();
  if (images.length) await addImages(images, !maps.length);
  for (const record of records) {
    if (listed(record) && isReady()) setDetail(record, 'Converting…');
    const started = performance.now();
    // The view is made now only for a map that may be shown at once;
    // another's is made if it is shown later.
    const answer = listed(record) ? await ask({ format: 'open', file: record.file, name: record.name, withView: batch > page.shownBatch }) : {};
    if (listed(record)) {
      Object.assign(record, answer.error ? { state: 'failed', failure: answer } : { state: 'done', map: answer.map });
      // Each choice or drop shows its first map, unless a later one has shown its own.
      if (answer.view && batch > page.shownBatch) {
        page.shownBatch = batch;
        await showRecord(record, false, answer.view);
        // Measured once the view has drawn the map's first frame, and at the
        // next animation frame, the one that puts it on the screen.
        performance.measure('blockmqo-choose-to-view', { start: started });
        // The glb below waits for that frame (where WebGL draws on the CPU, they
        // would share it), or a moment in a hidden tab, which draws no frames.
        await new Promise((shown) => {
          requestAnimationFrame(() => shown(performance.measure('blockmqo-choose-to-frame', { start: started })));
          setTimeout(shown, 250);
        });
      }
      // Its images after it is on show: the glb that decides them takes longer than the view.
      if (record.state === 'done') await take(record, images, await decide(record, images));
      if (listed(record)) finishRow(record, { download, view: (r) => showRecord(r, true), remove: removeByHand }, shownRecord() === record);
    }
    run.busy--;
    if (listed(record)) run[record.state === 'done' ? 'ok' : 'failed'].push(record);
    if (!run.busy) finishRun(run);
    updateButtons();
  }
}

// Once every map chosen is done: said in the status line; on a narrow screen
// the first failure, or the last map converted, is brought into sight.
function finishRun(run) {
  page.run = null;
  sayRun(run);
  const first = run.failed.find(listed) || run.ok.filter(listed).at(-1);
  if (first && matchMedia(NARROW).matches) first.row.scrollIntoView({ block: 'nearest' });
}

// Images given after their maps go to every map on the list; each keeps them
// when the core picks one for a texture name. `alone` (no map came with
// them): one that no map names is said to be no map itself.
async function addImages(images, alone) {
  const used = new Set(), broken = new Set();
  for (const record of done()) {
    // The latest first, so that of two images of one name the later is picked.
    const all = [...images, ...record.images], answer = await decide(record, all);
    const picked = answer.error ? [] : answer.images.filter((i) => i.given >= 0 && i.given < images.length);
    if (!picked.length || !listed(record)) continue;
    for (const { given, use } of picked) (use === 'unreadable' ? broken : used).add(all[given]);
    await take(record, all, answer);
  }
  if (!alone) return;
  const unused = images.filter((f) => !used.has(f) && !broken.has(f)).map((f) => f.name);
  const parts = [];
  if (used.size) parts.push(`Textured: ${[...used].map((f) => f.name).join(', ')}.`);
  if (broken.size) parts.push(`Named by a map, but could not be read: ${[...broken].map((f) => f.name).join(', ')}.`);
  if (unused.length) {
    parts.push(`Not a map, and no map on the list names it: ${unused.join(', ')}. ` +
      'An image textures a map whose texture names name it, chosen or dropped with it or after it.');
  }
  setStatus(parts.join(' '));
}

function removeByHand(record) {
  // Focus goes to the row that takes its place, or the one before, or to choosing files.
  const next = record.row.nextElementSibling || record.row.previousElementSibling;
  remove(record);
  (next?.querySelector('button') || $('files')).focus();
  setStatus(`${record.name} removed.`);
}

// Forgets a record: its view, its images, its files made.
function remove(record) {
  for (const b of record.textures) b?.close();
  clear(record);
  record.row.remove();
  page.records.delete(record.id);
  updateButtons();
}

function save(blob, name) {
  const url = URL.createObjectURL(blob);
  element('a', { href: url, download: name }).click();
  setTimeout(() => URL.revokeObjectURL(url), 60000);  // once the browser has surely read it
}

// One file of a record; each kind is made once while the record is listed.
async function download(record, kind, index) {
  const name = record.map.files[index];
  const made = record.made[kind] || await ask({ format: 'make', kind, file: record.file, name: record.name, images: record.images });
  if (made.error) return setStatus(`${name} could not be made: ${explain(made.facts)} (${made.error})`);
  if (!listed(record)) return;
  record.made[kind] = made;
  // The plain document's warnings are the map's own, in its row already.
  if (kind !== 'mqo') addWarnings(record, made.warnings.map((line) => `${made.files[0].name}: ${line}`));
  save(made.files.find((f) => f.name === name).file, name);
  setStatus(`${name} downloaded${made.warnings.length ? ', with warnings, listed in its row' : ''}.`);
}

// Every map of the list, in every format, as one zip made by the worker.
async function downloadAll() {
  if (page.zipping) return;
  const started = performance.now();
  const records = done(), used = new Set();
  const maps = records.map(({ file, name, images, map, made }) => {
    // A name chosen twice gets a folder per choice, so no file hides another.
    let folder = '';
    for (let n = 2; map.files.some((f) => used.has(folder + f)); n++) folder = `${n}/`;
    for (const f of map.files) used.add(folder + f);
    return { file, name, images, folder, made };
  });
  page.zipping = true;
  updateButtons();
  // Said once; the progress beside the button shows the maps done.
  setStatus(`Making the zip of ${plural(maps.length, 'map')}…`);
  const progress = ({ done: n }) => Object.assign($('zip-progress'), { max: maps.length, value: n });
  progress({ done: 0 });
  const answer = await ask({ format: 'zip', maps }, progress);
  page.zipping = false;
  updateButtons();
  if (answer.error) return setStatus(`The zip could not be made: ${answer.error}`);
  for (const { index, name, line } of answer.warnings) {
    const record = records[index];
    if (listed(record) && name !== record.map.files[0]) addWarnings(record, [`${name}: ${line}`]);
  }
  const left = answer.left.map(({ index, facts, error }) => `${records[index].name} (${explain(facts)} ${error})`);
  if (left.length === maps.length) return setStatus(`No zip: no map could be made. ${left.join(' ')}`);
  save(answer.file, 'blockmqo.zip');
  performance.measure('blockmqo-download-all', { start: started });
  setStatus(`blockmqo.zip downloaded: ${plural(maps.length - left.length, 'map')}.` +
    (left.length ? ` Left out: ${left.join('; ')}` : ''));
}

// Puts a record on show; its view is made again from its file when it has
// none in hand. `reveal`: the user chose it, so a narrow screen scrolls to it.
async function showRecord(record, reveal = false, view = null) {
  if (!view) {
    const answer = await ask({ format: 'view', file: record.file, name: record.name });
    if (!listed(record)) return;
    view = answer.view;
    if (!view) return setStatus(`${record.name} could not be shown: ${answer.error ? explain(answer.facts) : 'it is too large for the memory the browser gives.'}`);
  }
  const before = shownRecord();
  await show(record, view, listed);
  if (!listed(record)) return;
  if (before && before !== record) markShown(before, false);
  markShown(record, true);
  if (reveal && matchMedia(NARROW).matches) $('map').scrollIntoView();
}

start();

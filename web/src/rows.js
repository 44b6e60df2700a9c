// The list of results: one row per map chosen, drawn from its record. A
// record is a plain object the page keeps; its row only shows it.
//   { id, file, name, images (Files given with it), state ('waiting',
//     'done', 'failed'), map (the core's answer: names, warnings, images,
//     materials), made (files already made, by kind), failure, warnings (the
//     lines its row shows), textures (ImageBitmaps the view draws), row }
import { $, button, element } from './dom.js';

// What a map offers, in order: the kind the button shows and the request's kind.
export const KINDS = [['.mqo', 'mqo'], ['optimized .mqo', 'optimized'], ['.obj', 'obj'], ['.mtl', 'obj'], ['.glb', 'glb']];

// Plain words for a failed map, from the facts the converter gives.
export function explain({ result, size, count, needed, most } = {}) {
  const bytes = (n) => `${n.toLocaleString('en')} byte${n === 1 ? '' : 's'}`;
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

// A new row, waiting for its map.
export function addRow(record, ready) {
  record.row = element('li', {}, element('span', { className: 'name', textContent: record.name }), ' ',
    element('span', { className: 'detail', textContent: ready ? 'Waiting…' : 'Waiting for the converter…' }));
  record.row.dataset.state = 'busy';
  $('results').append(record.row);
}

export function setDetail(record, text) {
  record.row.querySelector('.detail').textContent = text;
}

// The row once its map is converted or has failed. `on`: download(record,
// kind, index), view(record), remove(record).
export function finishRow(record, on, shown) {
  const { row, name } = record;
  const detail = row.querySelector('.detail');
  const remove = button('Remove', () => on.remove(record), `Remove ${name}`);
  row.dataset.state = record.state;
  if (record.state === 'failed') {
    // The plain words first, then the converter's own text.
    detail.replaceChildren(element('span', { className: 'why', textContent: explain(record.failure.facts) }),
      element('span', { className: 'failure', textContent: record.failure.error }), remove);
    return;
  }
  const links = element('span', { className: 'downloads' });
  KINDS.forEach(([label, kind], index) => {
    // The verb and the kind in sight; the file's name for a screen reader too.
    const b = button(`Download ${label}`, () => on.download(record, kind, index));
    b.append(element('span', { className: 'visually-hidden', textContent: ` (${record.map.files[index]})` }));
    if (kind === 'optimized') b.setAttribute('aria-describedby', 'optimized-note');
    links.append(b, ' ');
  });
  const view = button('View', () => on.view(record), `View ${name}`);
  view.setAttribute('aria-pressed', String(shown));
  detail.replaceChildren(links, view, remove);
  addWarnings(record, record.map.warnings);
}

export function markShown(record, shown) {
  record.row?.querySelector('[aria-label^="View"]')?.setAttribute('aria-pressed', String(shown));
}

// Lines the row says of its map and its files, once each, under a disclosure
// that says how many there are; open at first unless they are many.
export function addWarnings(record, lines) {
  const fresh = lines.filter((line) => !record.warnings.includes(line));
  if (!fresh.length) return;
  record.warnings.push(...fresh);
  const { row } = record;
  let list = row.querySelector('.warnings');
  if (!list) {
    list = element('ul', { className: 'warnings', ariaLabel: `Warnings for ${record.name}` });
    row.append(element('details', { className: 'warned', open: fresh.length <= 2 }, element('summary'), list));
  }
  for (const line of fresh) list.append(element('li', { textContent: line }));
  const n = record.warnings.length;
  row.querySelector('details.warned > summary').textContent = `${n} warning${n === 1 ? '' : 's'}`;
}

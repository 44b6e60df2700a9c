// The map's summary beside the view: its counts, its warnings, what became of
// each texture name's image, and the legend of its materials with the view's
// colours (or the image a material is drawn with).
import { PALETTE, WARNING } from './colours.js';
import { element } from './dom.js';

// What the page says of an image, by the core's decision for its texture name.
export function imageWords({ use, why } = {}) {
  switch (use) {
    case 'used': return 'used';
    case 'not-given': return 'no image given';
    case 'unreadable': return `image given but unreadable: ${why}`;
    case 'not-used': return 'image given, but no face uses it';
    default: return '';
  }
}

function counts(map, view) {
  const list = element('dl');
  const row = (label, value, key, warn = false) => {
    const dd = element('dd', { textContent: value.toLocaleString('en') });
    dd.dataset.count = key;
    if (warn && value > 0) {
      // Not by colour alone: a sign for the eye, a word for a screen reader.
      dd.className = 'warning';
      dd.prepend(element('span', { ariaHidden: 'true', textContent: '⚠ ' }),
        element('span', { className: 'visually-hidden', textContent: 'Warning: ' }));
    }
    list.append(element('dt', { textContent: label }), dd);
  };
  row('Blocks', map.blocks, 'blocks');
  row('Faces drawn', view.faces, 'faces');
  row('Blocks not drawn (a number is infinite or not a number)', view.dropped, 'dropped', true);
  return list;
}

// A material's swatch: the image it is drawn with, or its colour.
function swatch(colour, bitmap) {
  if (!bitmap) {
    const s = element('span', { className: 'swatch' });
    s.style.background = colour;
    return s;
  }
  const c = element('canvas', { className: 'swatch', width: 16, height: 16 });
  c.setAttribute('aria-hidden', 'true');
  c.getContext('2d')?.drawImage(bitmap, 0, 0, 16, 16);
  return c;
}

// `map`: the record's conversion (texture and material names, images, the
// material for other numbers); `view`: the view's counts; `bitmaps`: the
// images the view draws, by texture number.
export function summary(name, map, view, bitmaps) {
  const parts = [element('h3', { textContent: name }), counts(map, view)];
  if (map.warnings.length) {
    parts.push(element('ul', { className: 'warnings', ariaLabel: 'Warnings' },
      ...map.warnings.map((w) => element('li', { textContent: w }))));
  }
  const legend = element('table', {}, element('caption', { textContent: 'Materials' }));
  legend.append(element('tr', {},
    element('th', { scope: 'col', textContent: 'No.' }),
    element('th', { scope: 'col', textContent: 'Name' }),
    element('th', { scope: 'col', textContent: 'Faces' })));
  const row = (number, label, colour, faces, bitmap, notes) => {
    const nameCell = element('td', {}, swatch(colour, bitmap), label);
    for (const note of notes) if (note) nameCell.append(element('span', { className: 'tex', textContent: note }));
    const count = element('td', { className: 'count', textContent: faces.toLocaleString('en') });
    count.dataset.material = String(number);
    return element('tr', {}, element('td', { textContent: String(number) }), nameCell, count);
  };
  map.materials.forEach((m, i) => {
    const words = imageWords(map.images?.[i]);
    legend.append(row(i, m, PALETTE[i], view.perClass[i], bitmaps[i],
      [map.names[i] ? '' : 'no texture', words === 'used' ? '' : words]));
  });
  const { number, name: otherName } = map.other;
  if (view.perClass[number]) {
    const other = row('other', otherName, WARNING, view.perClass[number], null, []);
    other.className = 'warning';
    legend.append(other);
  }
  return [...parts, legend];
}

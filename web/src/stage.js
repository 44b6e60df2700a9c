// The map section: the 3D view's canvas, its buttons and the summary beside
// it, for the one record on show.
import { $, element } from './dom.js';
import { summary } from './legend.js';

const stage = {
  view: undefined,  // the view's module and state once first needed; null: not available
  shown: null,      // the record on show
};

export const shownRecord = () => stage.shown;

// The view's code and state, loaded and made when a map is first shown; null
// when this browser cannot draw it.
async function theView() {
  if (stage.view === undefined) {
    try {
      const api = await import('./view.js');
      stage.view = { api, state: api.createView($('view')) };
    } catch {
      stage.view = null;
    }
  }
  return stage.view;
}

export function setTurning(on) {
  if (stage.view) stage.view.api.setTurning(stage.view.state, on);
}
export function resetView() {
  if (stage.view) stage.view.api.resetCamera(stage.view.state);
}

// The canvas: a Tab stop only while it shows a map; otherwise the note over
// it says what will appear there, or that this browser cannot show it.
function setCanvas(name) {
  const canvas = $('view'), shown = Boolean(name && stage.view);
  if (shown) {
    canvas.setAttribute('aria-label', `3D view of ${name}`);
    canvas.tabIndex = 0;
  } else canvas.removeAttribute('tabindex');
  canvas.setAttribute('aria-hidden', String(!shown));
  canvas.toggleAttribute('hidden', stage.view === null);
  $('view-empty').hidden = shown;
  if (stage.view === null) {
    $('view-empty').textContent = 'The 3D view is not available: this browser cannot draw it (no WebGL). ' +
      'Converting and downloading work all the same.';
  }
  for (const id of ['turn', 'reset']) $(id).disabled = !shown;
}

// Puts a record on show with its view's arrays, which go to the GPU and are
// let go here; the record keeps only its counts for the summary. `listed`
// says whether the record is still on the list once the view's code is in.
export async function show(record, view, listed) {
  const shown = await theView();
  if (!listed(record)) return;
  stage.shown = record;
  if (shown) shown.api.showMap(shown.state, view, record.textures);
  record.counts = { faces: view.faces, dropped: view.dropped, perClass: view.perClass };
  setCanvas(record.name);
  summarise(record);
}

function summarise(record) {
  $('summary').replaceChildren(...summary(record.name, record.map, record.counts, record.textures));
}

// The summary and the view's images again, as the record now holds them.
export function refresh(record) {
  if (stage.shown !== record) return;
  if (stage.view) stage.view.api.setImages(stage.view.state, record.textures);
  summarise(record);
}

export function clear(record) {
  if (stage.shown !== record) return;
  stage.shown = null;
  if (stage.view) stage.view.api.showMap(stage.view.state, null);
  $('summary').replaceChildren(element('p', { textContent: 'No map yet.' }));
  setCanvas(null);
}

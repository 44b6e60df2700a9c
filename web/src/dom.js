// The few helpers every part of the page makes its elements with.
export const $ = (id) => document.getElementById(id);

export function element(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, props);
  for (const c of children) e.append(c);
  return e;
}

export function button(text, onClick, label) {
  const b = element('button', { type: 'button', textContent: text });
  if (label) b.setAttribute('aria-label', label);
  b.addEventListener('click', onClick);
  return b;
}

export const plural = (n, word) => `${n.toLocaleString('en')} ${word}${n === 1 ? '' : 's'}`;

// The status line, the one live region: each thing that happens is said once.
export function setStatus(...parts) {
  const status = $('status');
  if (parts.length === 1 && typeof parts[0] === 'string' && status.textContent === parts[0]) return;
  status.replaceChildren(...parts);
}

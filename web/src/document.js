// A reader of the finished document, for the 3D view. The view is built from
// what a modeller will read, not from the block records: mirrored first axis,
// rounded coordinates and face corner order included. It reads the object's
// vertex and face chunks line by line, as they arrive.
//
// The document's numbers are plain fixed-point text; a coordinate that was not
// finite in the input is written as a marker such as "1.#INF", read here as NaN.

const TAB = 9, LF = 10, CR = 13, SPACE = 32, MINUS = 45, DOT = 46, ZERO = 48, NINE = 57;

export function newDocumentReader() {
  return {
    state: 'head',      // head, vertices, vertexEnd, faceHead, faces, faceEnd, tail
    line: 0,            // line number, for messages
    objectSeen: false,
    rest: null,         // a line cut by the end of a chunk
    vertexCount: 0,
    faceCount: 0,
    positions: null,    // Float32Array, three per vertex
    corners: null,      // Uint32Array, four per face, in the document's order
    materials: null,    // Int32Array, one per face
    vertices: 0,        // read so far
    faces: 0,
  };
}

// Reads `bytes` (a Uint8Array); a line cut at the end waits for the next call.
export function readDocumentChunk(reader, bytes) {
  if (reader.rest) {
    const joined = new Uint8Array(reader.rest.length + bytes.length);
    joined.set(reader.rest);
    joined.set(bytes, reader.rest.length);
    bytes = joined;
    reader.rest = null;
  }
  let start = 0;
  for (;;) {
    const end = bytes.indexOf(LF, start);
    if (end < 0) break;
    readLine(reader, bytes, start, end > start && bytes[end - 1] === CR ? end - 1 : end);
    start = end + 1;
  }
  if (start < bytes.length) reader.rest = bytes.slice(start);
}

// The reader's result once the whole document has been read.
export function finishDocument(reader) {
  if (reader.rest) readLine(reader, reader.rest, 0, reader.rest.length);
  reader.rest = null;
  if (reader.state !== 'tail') fail(reader, 'the object ends early');
  return {
    positions: reader.positions,
    corners: reader.corners,
    materials: reader.materials,
    vertexCount: reader.vertexCount,
    faceCount: reader.faceCount,
  };
}

function fail(reader, what) {
  throw new Error(`document line ${reader.line}: ${what}`);
}

function text(bytes, start, end) {
  let s = '';
  for (let i = start; i < end; i++) s += String.fromCharCode(bytes[i]);
  return s;
}

function readLine(reader, bytes, start, end) {
  reader.line++;
  switch (reader.state) {
    case 'head': {
      // Material lines may hold any bytes; only the object's own lines count.
      const line = text(bytes, start, Math.min(end, start + 64));
      if (line === 'Object "map" {') {
        reader.objectSeen = true;
      } else if (reader.objectSeen) {
        const m = /^\tvertex (\d+) \{$/.exec(line);
        if (m) {
          reader.vertexCount = Number(m[1]);
          reader.positions = new Float32Array(3 * reader.vertexCount);
          reader.state = reader.vertexCount ? 'vertices' : 'vertexEnd';
        }
      }
      break;
    }
    case 'vertices': {
      if (bytes[start] !== TAB || bytes[start + 1] !== TAB) fail(reader, 'a vertex line was expected');
      let p = start + 2;
      const base = 3 * reader.vertices;
      for (let k = 0; k < 3; k++) {
        if (k && bytes[p++] !== SPACE) fail(reader, 'three coordinates were expected');
        p = readNumber(reader, bytes, p, end, base + k);
      }
      if (p !== end) fail(reader, 'three coordinates were expected');
      if (++reader.vertices === reader.vertexCount) reader.state = 'vertexEnd';
      break;
    }
    case 'vertexEnd':
      if (text(bytes, start, end) !== '\t}') fail(reader, 'the vertex chunk does not close');
      reader.state = 'faceHead';
      break;
    case 'faceHead': {
      const m = /^\tface (\d+) \{$/.exec(text(bytes, start, end));
      if (!m) fail(reader, 'the face chunk was expected');
      reader.faceCount = Number(m[1]);
      reader.corners = new Uint32Array(4 * reader.faceCount);
      reader.materials = new Int32Array(reader.faceCount);
      reader.state = reader.faceCount ? 'faces' : 'faceEnd';
      break;
    }
    case 'faces':
      readFace(reader, bytes, start);
      if (++reader.faces === reader.faceCount) reader.state = 'faceEnd';
      break;
    case 'faceEnd':
      if (text(bytes, start, end) !== '\t}') fail(reader, 'the face chunk does not close');
      reader.state = 'tail';
      break;
    default:
      break;
  }
}

// A decimal number at p into positions[slot]; returns where it ends.
function readNumber(reader, bytes, p, end, slot) {
  let sign = 1;
  if (bytes[p] === MINUS) sign = -1, p++;
  let whole = 0, fraction = 0, scale = 1, inFraction = false, digits = 0, marker = false;
  for (; p < end && bytes[p] !== SPACE; p++) {
    const c = bytes[p];
    if (c >= ZERO && c <= NINE) {
      digits++;
      if (inFraction) fraction = fraction * 10 + (c - ZERO), scale *= 10;
      else whole = whole * 10 + (c - ZERO);
    } else if (c === DOT && !inFraction) {
      inFraction = true;
    } else {
      marker = true;  // "1.#INF" and the like: no number at all
    }
  }
  if (!digits) fail(reader, 'a number was expected');
  reader.positions[slot] = marker ? NaN : sign * (whole + fraction / scale);
  return p;
}

// A whole number at p, with an optional "-"; returns [value, end].
function readInt(reader, bytes, p) {
  let sign = 1, value = 0, digits = 0;
  if (bytes[p] === MINUS) sign = -1, p++;
  for (; bytes[p] >= ZERO && bytes[p] <= NINE; p++, digits++) value = value * 10 + (bytes[p] - ZERO);
  if (!digits) fail(reader, 'a whole number was expected');
  return [sign * value, p];
}

function expect(reader, bytes, p, literal) {
  for (let i = 0; i < literal.length; i++) {
    if (bytes[p + i] !== literal.charCodeAt(i)) fail(reader, `"${literal}" was expected`);
  }
  return p + literal.length;
}

// "\t\t4 V(a b c d) M(m) UV(...)": the corners and the material; the texture
// coordinates play no part in the view.
function readFace(reader, bytes, start) {
  let p = expect(reader, bytes, start, '\t\t4 V(');
  const base = 4 * reader.faces;
  for (let k = 0; k < 4; k++) {
    if (k) p = expect(reader, bytes, p, ' ');
    let v;
    [v, p] = readInt(reader, bytes, p);
    if (v < 0 || v >= reader.vertexCount) fail(reader, `vertex ${v} does not exist`);
    reader.corners[base + k] = v;
  }
  p = expect(reader, bytes, p, ') M(');
  let material;
  [material, p] = readInt(reader, bytes, p);
  expect(reader, bytes, p, ') UV(');
  reader.materials[reader.faces] = material;
}

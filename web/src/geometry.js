// From the document's vertices and faces to what the 3D view draws: one
// triangle list for the whole map, its faces gathered by colour so that the
// view needs one draw per colour, never one mesh per block.

export const MATERIAL_COUNT = 10;
export const OTHER = MATERIAL_COUNT;  // colour class of a material outside 0..9

// The document gives each block eight vertices, in block order.
const VERTICES_PER_BLOCK = 8;

export function buildView(doc) {
  const { corners, materials, faceCount, vertexCount } = doc;
  const positions = doc.positions;

  // Blocks with a coordinate that is not a number are counted and left out:
  // their vertices go to the origin so bounds stay finite, and their faces
  // are not drawn.
  const broken = new Uint8Array(Math.ceil(vertexCount / VERTICES_PER_BLOCK));
  for (let v = 0; v < vertexCount; v++) {
    for (let k = 3 * v; k < 3 * v + 3; k++) {
      if (!Number.isFinite(positions[k])) {
        broken[Math.floor(v / VERTICES_PER_BLOCK)] = 1;
        positions[k] = 0;
      }
    }
  }
  let nonFiniteBlocks = 0;
  for (const b of broken) nonFiniteBlocks += b;

  const faceCounts = new Array(MATERIAL_COUNT).fill(0);
  let outOfRange = 0;
  const classOf = new Uint8Array(faceCount);
  const drawn = new Uint32Array(MATERIAL_COUNT + 1);
  for (let f = 0; f < faceCount; f++) {
    const m = materials[f];
    const inRange = m >= 0 && m < MATERIAL_COUNT;
    if (inRange) faceCounts[m]++;
    else outOfRange++;
    classOf[f] = inRange ? m : OTHER;
    const hidden = broken[Math.floor(corners[4 * f] / VERTICES_PER_BLOCK)] ||
      broken[Math.floor(corners[4 * f + 1] / VERTICES_PER_BLOCK)] ||
      broken[Math.floor(corners[4 * f + 2] / VERTICES_PER_BLOCK)] ||
      broken[Math.floor(corners[4 * f + 3] / VERTICES_PER_BLOCK)];
    if (hidden) classOf[f] = 255;
    else drawn[classOf[f]]++;
  }

  // A counting sort by colour class; each four-sided face a, b, c, d becomes
  // the triangles a b c and a c d, keeping the document's corner order.
  const groups = [];
  const next = new Uint32Array(MATERIAL_COUNT + 1);
  let start = 0;
  for (let c = 0; c <= MATERIAL_COUNT; c++) {
    next[c] = start;
    if (drawn[c]) groups.push({ start, count: 6 * drawn[c], colourClass: c });
    start += 6 * drawn[c];
  }
  const index = new Uint32Array(start);
  for (let f = 0; f < faceCount; f++) {
    const c = classOf[f];
    if (c === 255) continue;
    const q = 4 * f;
    let i = next[c];
    index[i++] = corners[q]; index[i++] = corners[q + 1]; index[i++] = corners[q + 2];
    index[i++] = corners[q]; index[i++] = corners[q + 2]; index[i++] = corners[q + 3];
    next[c] = i;
  }

  return {
    positions, index, groups, faceCounts, outOfRange, nonFiniteBlocks,
    vertexCount, faceCount,
  };
}

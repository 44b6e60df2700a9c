// Block data files for the browser tests and the benchmark, written byte by
// byte: ten 31-byte names, a 16-bit count, 316-byte records.

const RECORD = 316;

// names: ten Buffers or strings (at most 31 bytes; a 31-byte name has no NUL).
// blocks: { x, y, z: 8 numbers each; u, v: 24 numbers each; tex: 6 integers },
// and optionally bits: [word, pattern] pairs written over the record (NaNs, infinities).
export function blockData(names, blocks, { count = blocks.length, extra = 0 } = {}) {
  const out = Buffer.alloc(312 + RECORD * blocks.length + extra);
  names.forEach((name, i) => Buffer.from(name, 'latin1').copy(out, 31 * i, 0, 31));
  out.writeUInt16LE(count & 0xffff, 310);
  blocks.forEach((b, n) => {
    const at = 312 + RECORD * n;
    const put = (word, value) => out.writeFloatLE(value, at + 4 * word);
    for (let c = 0; c < 8; c++) put(c, b.x[c]), put(8 + c, b.y[c]), put(16 + c, b.z[c]);
    for (let k = 0; k < 24; k++) put(24 + k, b.u[k]), put(48 + k, b.v[k]);
    for (let f = 0; f < 6; f++) out.writeInt32LE(b.tex[f], at + 4 * (72 + f));
    for (const [word, bits] of b.bits || []) out.writeUInt32LE(bits >>> 0, at + 4 * word);
  });
  return out;
}

// A small deterministic generator, so that every run sees the same maps.
export function random(seed) {
  let s = seed >>> 0 || 1;
  return () => {
    s ^= s << 13; s >>>= 0; s ^= s >>> 17; s ^= s << 5; s >>>= 0;
    return s / 4294967296;
  };
}

// A box from (x0, y0, z0) to (x1, y1, z1): corners 0..3 on top, 4..7 below.
export function box(x0, y0, z0, x1, y1, z1, tex, uv = [0, 1, 1, 0], vv = [0, 0, 1, 1]) {
  return {
    x: [x0, x1, x1, x0, x0, x1, x1, x0],
    y: [y1, y1, y1, y1, y0, y0, y0, y0],
    z: [z0, z0, z1, z1, z0, z0, z1, z1],
    u: Array.from({ length: 24 }, (_, k) => uv[k % 4]),
    v: Array.from({ length: 24 }, (_, k) => vv[k % 4]),
    tex,
  };
}

// The realistic largest map: boxes with corners on a 1/8 grid within ±2000
// and texture coordinates on a 1/64 grid.
export function boxesMap(count, seed) {
  const next = random(seed);
  const grid = (range, step) => Math.round((next() * 2 - 1) * range / step) * step;
  const blocks = [];
  for (let i = 0; i < count; i++) {
    const x = grid(2000, 0.125), y = grid(200, 0.125), z = grid(2000, 0.125);
    const t = Math.floor(next() * 10);
    const uv = [grid(4, 1 / 64), grid(4, 1 / 64), grid(4, 1 / 64), grid(4, 1 / 64)];
    blocks.push(box(x, y, z, x + 1 + grid(8, 0.125) ** 2 / 8, y + 1 + Math.abs(grid(8, 0.125)),
      z + 1 + Math.abs(grid(8, 0.125)), [t, t, (t + 1) % 10, (t + 2) % 10, t, t], uv, uv));
  }
  const names = ['wall.bmp', 'floor.bmp', 'roof.bmp', 'stone.bmp', 'wood.bmp',
    'grass.bmp', 'water.bmp', 'metal.bmp', 'glass.bmp', 'sand.bmp'];
  return blockData(names, blocks);
}

// The 3D view: the whole map as one indexed geometry, one draw per texture
// number (a colour, or the image given for it), orbit controls by mouse,
// touch and keyboard. Frames are drawn only when something moves, so an idle
// page costs nothing.
import {
  AmbientLight, Box3, BufferAttribute, BufferGeometry, Color, DirectionalLight, DoubleSide, Mesh,
  MeshLambertMaterial, PerspectiveCamera, RepeatWrapping, SRGBColorSpace, Scene, Sphere, Texture, Vector3,
  WebGLRenderer,
} from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';
import { PALETTE, WARNING } from './colours.js';

const BACKGROUND = { light: '#eef1f5', dark: '#14181d' };

const KEY_ZOOM = 1.25;
// How close and how far the camera may go, in distances of the starting view.
const NEAREST = 0.02, FARTHEST = 8;

// Whether WebGL runs on the CPU here (no GPU, or a GPU the browser refuses).
// Smoothing the edges there costs more than half the frame rate of a large
// map, so it is left off.
function softwareRenderer() {
  const gl = document.createElement('canvas').getContext('webgl2');
  const info = gl && gl.getExtension('WEBGL_debug_renderer_info');
  const name = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
  gl?.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|software/i.test(name);
}

export function createView(canvas) {
  const renderer = new WebGLRenderer({ canvas, antialias: !softwareRenderer() });
  renderer.setPixelRatio(Math.min(window.devicePixelRatio || 1, 2));
  const scene = new Scene();
  const dark = matchMedia('(prefers-color-scheme: dark)');
  const paint = () => { scene.background = new Color(dark.matches ? BACKGROUND.dark : BACKGROUND.light); };
  paint();
  const camera = new PerspectiveCamera(45, 1, 0.1, 1000);
  // The light comes from over the viewer's shoulder, so the face turned to
  // the viewer is the brightest wherever the map is turned.
  const light = new DirectionalLight('#ffffff', 2.2);
  light.position.set(0.4, 0.8, 1);
  camera.add(light);
  scene.add(camera, new AmbientLight('#ffffff', 0.9));

  const controls = new OrbitControls(camera, canvas);
  // A vertical swipe scrolls the page (a phone shows the counts below the
  // view); a sideways one turns the map, two fingers zoom and move it.
  canvas.style.touchAction = 'pan-y';
  controls.listenToKeyEvents(canvas);
  controls.keyRotateSpeed = 20;
  controls.keyPanSpeed = 20;
  controls.autoRotateSpeed = 4;

  const view = {
    renderer, scene, camera, controls, canvas, mesh: null, home: null, pending: 0, turning: false,
  };
  dark.addEventListener('change', () => { paint(); requestFrame(view); });

  controls.addEventListener('change', () => requestFrame(view));
  canvas.addEventListener('keydown', (event) => onKey(view, event));
  new ResizeObserver(() => requestFrame(view)).observe(canvas);
  requestFrame(view);
  return view;
}

function material(colour, image) {
  let map = null;
  if (image) {
    // The map's texture coordinates count v from the image's top row, as an
    // ImageBitmap lies in memory, so nothing is flipped.
    map = new Texture(image);
    map.flipY = false;
    map.wrapS = map.wrapT = RepeatWrapping;
    map.colorSpace = SRGBColorSpace;
    map.needsUpdate = true;
  }
  return new MeshLambertMaterial({ color: image ? '#ffffff' : colour, map, flatShading: true, side: DoubleSide });
}

// Face f's two triangles are 4f, 4f+1, 4f+2 and 4f, 4f+2, 4f+3 for every map,
// so one index serves them all, made once for the largest map so far. Each
// map gets its own view of it, which the GPU holds in its own buffer.
let quads = new Uint32Array(0);
function quadIndex(faces) {
  if (quads.length < 6 * faces) {
    quads = new Uint32Array(6 * faces);
    for (let i = 0, a = 0; i < quads.length; i += 6, a += 4) {
      quads[i] = quads[i + 3] = a;
      quads[i + 1] = a + 1;
      quads[i + 2] = quads[i + 4] = a + 2;
      quads[i + 5] = a + 3;
    }
  }
  return quads.subarray(0, 6 * faces);
}

const materials = (images) => [...PALETTE, WARNING].map((colour, c) => material(colour, images[c]));
const dispose = (all) => { for (const m of all) m.map?.dispose(), m.dispose(); };

// The map on show drawn with other images (an ImageBitmap or null per texture number).
export function setImages(view, images) {
  if (!view.mesh) return;
  dispose(view.mesh.material);
  view.mesh.material = materials(images);
  requestFrame(view);
}

// Replaces the map on show (none when `data` is null). `data` is the worker's
// view of a mesh; `images` holds an ImageBitmap or null per texture number.
export function showMap(view, data, images = []) {
  if (view.mesh) {
    view.scene.remove(view.mesh);
    view.mesh.geometry.dispose();
    dispose(view.mesh.material);
    view.mesh = null;
  }
  view.home = null;
  if (data) {
    const geometry = new BufferGeometry();
    // Once on the GPU the arrays are not needed here: a large map's are 20 MB.
    const attribute = (array, size) => new BufferAttribute(array, size).onUpload(function free() { this.array = null; });
    geometry.setAttribute('position', attribute(data.positions, 3));
    geometry.setAttribute('uv', attribute(data.uvs, 2));
    geometry.setIndex(new BufferAttribute(quadIndex(data.faces), 1));
    let start = 0;
    data.perClass.forEach((faces, c) => {
      geometry.addGroup(6 * start, 6 * faces, c);
      start += faces;
    });
    geometry.boundingBox = new Box3(new Vector3(...data.min), new Vector3(...data.max));
    geometry.boundingSphere = geometry.boundingBox.getBoundingSphere(new Sphere());
    view.mesh = new Mesh(geometry, materials(images));
    view.scene.add(view.mesh);
    if (data.faces) view.home = geometry.boundingBox.clone();
  }
  resetCamera(view);
  // Drawn at once rather than at the next animation frame, which then shows it.
  drawFrame(view);
}

// Looks at the map from above and in front, a little to the side, so that
// floors and walls both show, from just far enough for all of it to fit.
export function resetCamera(view) {
  const { camera, controls, canvas } = view;
  const box = view.home || new Box3(new Vector3(-1, -1, -1), new Vector3(1, 1, 1));
  const center = box.getCenter(new Vector3());
  const toCamera = new Vector3(0.6, 0.75, 1).normalize();
  camera.aspect = canvas.clientWidth / Math.max(canvas.clientHeight, 1) || 1;
  camera.position.copy(center).add(toCamera);
  camera.lookAt(center);
  camera.updateMatrixWorld();
  const right = new Vector3().setFromMatrixColumn(camera.matrixWorld, 0);
  const up = new Vector3().setFromMatrixColumn(camera.matrixWorld, 1);
  const tanY = Math.tan((camera.fov * Math.PI) / 360);
  const tanX = tanY * camera.aspect;
  let distance = 1e-3;
  for (let i = 0; i < 8; i++) {
    const q = new Vector3(i & 1 ? box.max.x : box.min.x, i & 2 ? box.max.y : box.min.y,
      i & 4 ? box.max.z : box.min.z).sub(center);
    const depth = q.dot(toCamera);
    distance = Math.max(distance, depth + Math.abs(q.dot(right)) / tanX, depth + Math.abs(q.dot(up)) / tanY);
  }
  distance *= 1.05;
  // The far plane lies beyond the whole map seen from the farthest point, so
  // zooming out never loses it; the near plane keeps depth precision.
  controls.minDistance = distance * NEAREST;
  controls.maxDistance = distance * FARTHEST;
  camera.near = controls.minDistance / 4;
  camera.far = controls.maxDistance + 2 * box.getSize(new Vector3()).length();
  camera.position.copy(center).add(toCamera.multiplyScalar(distance));
  camera.updateProjectionMatrix();
  controls.target.copy(center);
  controls.update();
  requestFrame(view);
}

// Keeps the view turning on its own (and drawing every frame) while on.
export function setTurning(view, on) {
  view.turning = on;
  view.controls.autoRotate = on;
  requestFrame(view);
}

function onKey(view, event) {
  const offset = view.camera.position.clone().sub(view.controls.target);
  if (event.key === '+' || event.key === '=') offset.multiplyScalar(1 / KEY_ZOOM);
  else if (event.key === '-' || event.key === '_') offset.multiplyScalar(KEY_ZOOM);
  else if (event.key === 'Home') return event.preventDefault(), resetCamera(view);
  else return;
  event.preventDefault();
  const { minDistance, maxDistance } = view.controls;
  offset.setLength(Math.min(Math.max(offset.length(), minDistance), maxDistance));
  view.camera.position.copy(view.controls.target).add(offset);
  view.controls.update();
}

function requestFrame(view) {
  view.pending ||= requestAnimationFrame(() => drawFrame(view));
}

function drawFrame(view) {
  cancelAnimationFrame(view.pending);
  view.pending = 0;
  const { canvas, renderer, camera } = view;
  const width = canvas.clientWidth, height = canvas.clientHeight;
  if (canvas.width !== Math.floor(width * renderer.getPixelRatio()) ||
      canvas.height !== Math.floor(height * renderer.getPixelRatio())) {
    renderer.setSize(width, height, false);
    camera.aspect = width / Math.max(height, 1);
    camera.updateProjectionMatrix();
  }
  if (view.turning) view.controls.update();  // turns the camera a step
  renderer.render(view.scene, camera);
  if (view.turning) requestFrame(view);
}

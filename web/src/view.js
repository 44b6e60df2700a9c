// The 3D view: the whole map as one indexed geometry, one draw per colour,
// orbit controls by mouse, touch and keyboard. Frames are drawn only when
// something moves, so an idle page costs nothing.
import {
  AmbientLight, Box3, BufferAttribute, BufferGeometry, Color, DirectionalLight, DoubleSide, Mesh,
  MeshLambertMaterial, PerspectiveCamera, Scene, Vector3, WebGLRenderer,
} from 'three';
import { OrbitControls } from 'three/examples/jsm/controls/OrbitControls.js';

// One colour per material number, told apart also by readers with the
// commonest colour blindness; none is close to the warning red.
export const PALETTE = [
  '#4e79a7', '#f28e2b', '#59a14f', '#b07aa1', '#76b7b2',
  '#edc948', '#9c755f', '#bab0ac', '#ff9da7', '#2f4b7c',
];
export const WARNING = '#d00000';

const KEY_ZOOM = 1.25;

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
  scene.background = new Color('#eef1f5');
  const camera = new PerspectiveCamera(45, 1, 0.1, 1000);
  // The light comes from over the viewer's shoulder, so the face turned to
  // the viewer is the brightest wherever the map is turned.
  const light = new DirectionalLight('#ffffff', 2.2);
  light.position.set(0.4, 0.8, 1);
  camera.add(light);
  scene.add(camera, new AmbientLight('#ffffff', 0.9));

  const controls = new OrbitControls(camera, canvas);
  controls.listenToKeyEvents(canvas);
  controls.keyRotateSpeed = 20;
  controls.keyPanSpeed = 20;
  controls.autoRotateSpeed = 4;

  const materials = [...PALETTE, WARNING].map((colour) =>
    new MeshLambertMaterial({ color: colour, flatShading: true, side: DoubleSide }));
  const view = {
    renderer, scene, camera, controls, materials, canvas,
    mesh: null, home: null, pending: false, turning: false,
  };

  controls.addEventListener('change', () => requestFrame(view));
  canvas.addEventListener('keydown', (event) => onKey(view, event));
  new ResizeObserver(() => requestFrame(view)).observe(canvas);
  requestFrame(view);
  return view;
}

// Replaces the map on show. `data` is what buildView made of a document.
export function showMap(view, data) {
  if (view.mesh) {
    view.scene.remove(view.mesh);
    view.mesh.geometry.dispose();
    view.mesh = null;
  }
  view.home = new Box3(new Vector3(-1, -1, -1), new Vector3(1, 1, 1));
  if (data) {
    const geometry = new BufferGeometry();
    geometry.setAttribute('position', new BufferAttribute(data.positions, 3));
    geometry.setIndex(new BufferAttribute(data.index, 1));
    for (const g of data.groups) geometry.addGroup(g.start, g.count, g.colourClass);
    geometry.computeBoundingSphere();
    geometry.computeBoundingBox();
    view.mesh = new Mesh(geometry, view.materials);
    view.scene.add(view.mesh);
    if (data.index.length) view.home = geometry.boundingBox.clone();
  }
  resetCamera(view);
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
  camera.near = distance / 1000;
  camera.far = distance * 10;
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
  view.camera.position.copy(view.controls.target).add(offset);
  view.controls.update();
}

function requestFrame(view) {
  if (view.pending) return;
  view.pending = true;
  requestAnimationFrame(() => drawFrame(view));
}

function drawFrame(view) {
  view.pending = false;
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

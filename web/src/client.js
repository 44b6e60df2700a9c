// The page's side of the worker: one request at a time in, one answer out.
// Requests made before the converter is ready wait for it; a worker that
// stops fails what it had in hand and a fresh one takes the rest.
const client = {
  worker: null,
  ready: false,
  nextId: 1,
  waiting: new Map(),  // request id -> { done, progress } for its answer
  queue: [],           // requests made before the converter was ready
  on: { loading() {}, ready() {}, broken() {} },
};

export const isReady = () => client.ready;
export const isIdle = () => !client.waiting.size;

// Starts a fresh worker (the old one, if any, goes with the memory it took).
// `on`: loading(), ready(constants) and broken(why), each when it happens.
export function startWorker(on = client.on) {
  client.on = on;
  client.worker?.terminate();
  client.ready = false;
  on.loading();
  client.worker = new Worker('worker.js');
  client.worker.onmessage = (event) => onWorker(event.data);
  client.worker.onerror = (event) => {
    event.preventDefault();
    const why = event.message || 'the worker could not be started';
    if (!client.ready) return broken(why);
    for (const { done } of client.waiting.values()) done({ error: `Failed: the converter stopped (${why})` });
    client.waiting.clear();
    startWorker(on);
  };
}

function broken(why) {
  client.ready = false;
  client.on.broken(why);
}

function onWorker(message) {
  if (message.type === 'ready') {
    client.ready = true;
    for (const request of client.queue.splice(0)) client.worker.postMessage(request);
    client.on.ready(message.constants);
  } else if (message.type === 'broken') {
    broken(message.message);
  } else {
    const waiting = client.waiting.get(message.id);
    if (message.type === 'progress') return waiting.progress(message);
    client.waiting.delete(message.id);
    waiting.done(message);
  }
}

// One request to the worker; waits for the converter when it is not ready.
export function ask(request, progress) {
  return new Promise((done) => {
    request.id = client.nextId++;
    client.waiting.set(request.id, { done, progress });
    if (client.ready) client.worker.postMessage(request);
    else client.queue.push(request);
  });
}

// The program's host in the page's worker (web/protocol.js names its hooks and messages): bytes
// typed come as messages, and what the program writes goes back to the page in chunks, with the
// input modes it wants, its title and its end. As at a terminal, the program waits while the
// screen is behind, and what was typed before the sum or the key wait is dropped there.
var Module = (() => {
  const { modes, chunkBytes, chunkDelay, behindBytes, caughtUpBytes } = zelmarProtocol;
  let typed = [];      // bytes not yet read; null where input was ended (Ctrl-D)
  const readers = [];  // reads waiting for a byte
  let epoch = 0;       // the number of the modes now in force
  const serve = () => {
    while (typed.length > 0 && readers.length > 0) {
      const byte = typed.shift();
      readers.shift()(byte === null ? new Uint8Array(0) : Uint8Array.of(byte));
    }
  };

  // Writes gather here and go as one message once the chunk is full, or a write comes more than
  // chunkDelay after the last message, or the program waits (to read, or for the screen), changes
  // modes or ends. The worker's own timers cannot fire while the program sums, hence the clock.
  let chunk = new Uint8Array(chunkBytes), held = 0, heldFd = 1, posted = performance.now();
  let unseen = 0, drained = null;  // bytes posted and not yet shown; the wait for the screen
  const host = {};
  const count = (bytes) => {  // bytes posted, or (fewer) shown
    unseen += bytes;
    host.zelmarBehind = unseen > behindBytes;
  };
  const post = (fd, bytes, transfer) => {
    count(bytes.length);  // before the transfer, which leaves `bytes` empty
    self.postMessage({ fd, write: bytes }, transfer);
    posted = performance.now();
  };
  const flush = () => {
    posted = performance.now();
    if (held === 0) return;
    post(heldFd, chunk.subarray(0, held), [chunk.buffer]);
    chunk = new Uint8Array(chunkBytes);
    held = 0;
  };
  const take = (fd, bytes) => {
    if (held > 0 && (fd !== heldFd || held + bytes.length > chunkBytes)) flush();
    if (bytes.length > chunkBytes) {
      post(fd, bytes.slice(), []);
      return;
    }
    chunk.set(bytes, held);
    held += bytes.length;
    heldFd = fd;
    if (performance.now() - posted >= chunkDelay) flush();
  };

  self.onmessage = ({ data }) => {
    if ("shown" in data) {
      count(-data.shown);
      if (drained && unseen <= caughtUpBytes) {
        drained();
        drained = null;
      }
    } else if (data.epoch === epoch) {  // typed under modes since changed, it is dropped
      if (data.input === null) typed.push(null);
      else for (const byte of data.input) typed.push(byte);
      serve();
    }
  };
  return Object.assign(host, {
    zelmarRead: () => new Promise((resolve) => {
      flush();
      readers.push(resolve);
      serve();
    }),
    zelmarWrite: (fd, bytes) => {
      take(fd, bytes);
      return bytes.length;
    },
    zelmarBehind: false,
    zelmarDrain: () => new Promise((resolve) => {
      flush();
      if (unseen <= caughtUpBytes) resolve();
      else drained = resolve;
    }),
    zelmarModes: (wanted) => {
      flush();
      if (wanted !== modes.line) typed = [];
      self.postMessage({ modes: wanted, epoch: ++epoch });
    },
    zelmarTitle: (title) => {
      flush();
      self.postMessage({ title });
    },
    zelmarTerminal: true,
    zelmarEnded: (status) => {
      flush();
      self.postMessage({ ended: status });
    },
  });
})();

// The flow between the program and the page, on the worker's side: what it writes, gathered into
// chunks for the screen, with the wait for the screen when it falls behind, and what is typed, with
// the input modes it was typed under. web/worker.js hooks it to the program; `now` (milliseconds)
// and `post` (a message to the page, with what to transfer) are given, so that tests/flow_test.js
// runs it under Node against a clock of its own.
//
// The program cannot run timers while it sums (its thread is in WebAssembly until it writes), so
// a chunk can go to the page only during a write, or when the program reads, changes modes, waits
// for the screen or ends, all of which post what is held. A write is posted at once when nothing
// was posted for chunkDelay ms, and when it is the first since the modes changed (the sum's first
// progress line, even where the answers were typed ahead); one that comes sooner is held, and
// goes with the first later write at least chunkDelay after the last post, or once the chunk is
// full or standard error takes over from standard output (or the reverse). Hence the latency:
// - a write after chunkDelay of quiet, or the first after a change of modes: none;
// - writes that come at a steady pace, one every p ms with p < chunkDelay: under chunkDelay + p;
// so a progress line is on its way within 2 chunkDelay of being written, however long the sum
// takes to the next. A quick run of writes that then stops is held until the next write, read,
// change of modes or end: in this program, each such run (the banner, a question, the report) is
// followed at once by a read or the end.
// While more than behindBytes are posted and not yet shown, `behind` is true and the program waits
// for drain(), which ends once no more than caughtUpBytes are, so the page's memory stays bounded.
var zelmarFlow = (now, post, tuning = {}) => {
  const { chunkBytes = 1 << 16, chunkDelay = 20, behindBytes = 1 << 18, caughtUpBytes = 1 << 17 } = tuning;
  const { line } = zelmarProtocol.modes;
  let chunk = new Uint8Array(chunkBytes), held = 0, heldFd = 1;
  let posted = -Infinity, fresh = false;  // when output was last posted; whether modes changed since
  let unseen = 0, drained = null;         // bytes posted and not yet shown; the end of the wait for them
  let typed = [];                          // bytes typed and not yet read; null where input was ended
  const readers = [];                      // reads waiting for a byte
  let epoch = 0;                           // the number of the modes now in force
  const flow = { get behind() { return unseen > behindBytes; } };

  const count = (bytes) => {  // bytes posted, or (fewer) shown
    unseen += bytes;
    if (drained && unseen <= caughtUpBytes) {
      drained();
      drained = null;
    }
  };
  const send = (fd, bytes, transfer) => {
    count(bytes.length);  // before the transfer, which leaves `bytes` empty
    post({ fd, write: bytes }, transfer);
    posted = now();
    fresh = false;
  };
  const flush = () => {  // posting nothing, it leaves the clock be
    if (held === 0) return;
    send(heldFd, chunk.subarray(0, held), [chunk.buffer]);
    chunk = new Uint8Array(chunkBytes);
    held = 0;
  };
  const serve = () => {
    while (typed.length > 0 && readers.length > 0) {
      const byte = typed.shift();
      readers.shift()(byte === null ? new Uint8Array(0) : Uint8Array.of(byte));
    }
  };

  const say = (message) => {  // a message for the page ({title}, {ended}), after the output before it
    flush();
    post(message, []);
  };

  return Object.assign(flow, {
    say,
    // Takes a write (a view it copies) to fd 1 or 2, all of it.
    write: (fd, bytes) => {
      if (held > 0 && (fd !== heldFd || held + bytes.length > chunkBytes)) flush();
      if (bytes.length > chunkBytes) {
        const whole = bytes.slice();  // a copy of its own, handed over rather than cloned again
        send(fd, whole, [whole.buffer]);
      } else {
        chunk.set(bytes, held);
        held += bytes.length;
        heldFd = fd;
        if (fresh || now() - posted >= chunkDelay) flush();
      }
      return bytes.length;
    },
    shown: (bytes) => count(-bytes),
    drain: () => new Promise((resolve) => {
      flush();
      if (unseen <= caughtUpBytes) resolve();
      else drained = resolve;
    }),
    // A Promise of the next byte typed (none: input ended).
    read: () => new Promise((resolve) => {
      flush();
      readers.push(resolve);
      serve();
    }),
    // Bytes typed (null: input ended) under the modes of `under`: dropped if they have changed since.
    typed: (bytes, under) => {
      if (under !== epoch) return;
      if (bytes === null) typed.push(null);
      else for (const byte of bytes) typed.push(byte);
      serve();
    },
    // New modes, posted after the output before them; leaving the line's mode drops what was typed.
    modes: (wanted) => {
      if (wanted !== line) typed = [];
      say({ modes: wanted, epoch: ++epoch });
      fresh = true;
    },
  });
};

// The program's host in the page's worker: bytes typed come as messages, and all that the program
// writes, the input modes it wants, its title and its end go back to the page as messages.
var Module = (() => {
  const typed = [];    // bytes not yet read; null where input was ended (Ctrl-D)
  const readers = [];  // reads waiting for a byte
  const serve = () => {
    while (typed.length > 0 && readers.length > 0) {
      const byte = typed.shift();
      readers.shift()(byte === null ? new Uint8Array(0) : Uint8Array.of(byte));
    }
  };
  self.onmessage = (event) => {
    typed.push(...event.data);
    serve();
  };
  return {
    zelmarRead: () => new Promise((resolve) => {
      readers.push(resolve);
      serve();
    }),
    zelmarWrite: (fd, bytes) => {
      self.postMessage({ write: bytes, fd });
      return bytes.length;
    },
    zelmarModes: (modes) => self.postMessage({ modes }),
    zelmarTitle: (title) => self.postMessage({ title }),
    zelmarTerminal: true,
    zelmarEnded: (status) => self.postMessage({ ended: status }),
  };
})();

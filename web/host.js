// The program's host under Node, put in front of the compiled program (after web/protocol.js, the
// hooks it fills in): standard input, output and error are the process's own, byte for byte, and
// the program's status is the process's. Writes are synchronous, so none is ever behind.
// A page that loads the program sets up a host of its own in Module first, which this leaves be.
if (typeof process === "object" && !Module["zelmarRead"]) {
  const fs = require("fs");
  // Once a byte at a time, so that what the program does not read is left for the next reader.
  const retrying = (call) => {
    for (;;) {
      try {
        return call();
      } catch (e) {
        if (e.code === "EOF") return 0;
        if (e.code !== "EAGAIN") return -1;
      }
    }
  };
  Module["zelmarRead"] = () => {
    const byte = Buffer.alloc(1);
    return Promise.resolve(byte.subarray(0, Math.max(retrying(() => fs.readSync(0, byte, 0, 1, null)), 0)));
  };
  Module["zelmarWrite"] = (fd, bytes) => {
    let done = 0;
    while (done < bytes.length) {
      const wrote = retrying(() => fs.writeSync(fd, bytes, done));
      if (wrote <= 0) return done;
      done += wrote;
    }
    return done;
  };
  Module["zelmarBehind"] = () => false;
  Module["zelmarDrain"] = () => Promise.resolve();
  Module["zelmarModes"] = () => {};
  Module["zelmarTitle"] = () => {};
  Module["zelmarTerminal"] = false;
  Module["zelmarEnded"] = (status) => process.exit(status);
}

// main may wait for input, which suspends it; called this way, its status comes back when it ends.
Module["noInitialRun"] = true;
Module["onRuntimeInitialized"] = () =>
  Module["ccall"]("main", "number", [], [], { async: true }).then((status) => Module["zelmarEnded"](status));

// The program's host in the page's worker (web/protocol.js names its hooks and messages): bytes
// typed come as messages, and what the program writes goes back to the page in chunks, with the
// input modes it wants, its title and its end. How output and input flow, and when the program
// waits for the screen, is web/flow.js, put in front of this.
var Module = (() => {
  const flow = zelmarFlow(() => performance.now(), (message, transfer) => self.postMessage(message, transfer));
  self.onmessage = ({ data }) => {
    if ("shown" in data) flow.shown(data.shown);
    else flow.typed(data.input, data.epoch);
  };
  return {
    zelmarRead: () => flow.read(),
    zelmarWrite: (fd, bytes) => flow.write(fd, bytes),
    zelmarBehind: () => flow.behind,
    zelmarDrain: () => flow.drain(),
    zelmarModes: (wanted) => flow.modes(wanted),
    zelmarTitle: (title) => flow.say({ title }),
    zelmarTerminal: true,
    zelmarEnded: (status) => flow.say({ ended: status }),
  };
})();

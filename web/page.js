// The page: a terminal, and the program run in a worker, so that the page stays responsive
// while it sums. Keys are taken as a terminal's line discipline takes them.
(() => {
  const term = new Terminal({ convertEol: true, cols: 80, rows: 24, fontSize: 15 });
  term.open(document.getElementById("terminal"));
  term.focus();
  const program = document.getElementById("program").textContent;
  const host = document.getElementById("host").textContent;
  const usersTitle = document.title;
  const encoder = new TextEncoder();
  const decoder = { 1: new TextDecoder(), 2: new TextDecoder() };
  const { line: LINE, quiet: QUIET, key: KEY } = zelmarProtocol.modes;
  let worker = null, modes = LINE, line = "";
  let epoch = 0;  // the number of the worker's modes that keys are now typed under

  const finish = (status) => {
    worker.terminate();
    worker = null;
    document.title = usersTitle;
    document.body.dataset.status = status;
    term.write(`\r\n\x1b[2m[Zelmar ended with status ${status}. Press a key to run it again.]\x1b[0m\r\n`);
  };
  const start = () => {
    delete document.body.dataset.status;
    modes = LINE;
    epoch = 0;
    line = "";
    let lines = 0;  // line ends of the program's that the terminal has taken, for whoever watches
    document.body.dataset.lines = lines;
    const running = new Worker(URL.createObjectURL(new Blob([host, program], { type: "text/javascript" })));
    worker = running;
    running.onmessage = ({ data }) => {
      if ("write" in data) {
        // Each chunk is acknowledged once the terminal has taken it: until then the program waits
        // (web/protocol.js), so the page's own keys and timers always get their turn.
        const text = decoder[data.fd].decode(data.write, { stream: true });
        const ends = data.write.reduce((count, byte) => count + (byte === 10), 0);
        term.write(data.fd === 2 ? `\x1b[31m${text}\x1b[0m` : text, () => {
          if (worker && worker !== running) return;  // a run since started afresh
          document.body.dataset.lines = lines += ends;
          running.postMessage({ shown: data.write.length });  // after Ctrl-C, to no one
        });
      } else if ("modes" in data) {
        modes = data.modes;
        epoch = data.epoch;
        line = "";  // as a terminal's flush drops the line being typed
      } else if ("title" in data) {
        document.title = data.title;
      } else if ("ended" in data) {
        finish(data.ended);
      }
    };
  };
  // What is typed goes with the number of the modes it was typed under.
  const send = (bytes) => worker.postMessage({ input: bytes, epoch });

  term.onData((data) => {
    if (!worker) {
      term.reset();
      start();
      return;
    }
    for (const key of data) {
      if (key === "\x03") {  // Ctrl-C ends the run, as a shell shows it
        term.write("^C");
        finish(130);
        return;
      }
      if (modes === QUIET) continue;
      if (modes === KEY) {
        send(encoder.encode(key));
        return;  // one key; the rest of what it sent is dropped
      }
      if (key === "\r") {
        term.write("\r\n");
        send(encoder.encode(line + "\n"));
        line = "";
      } else if (key === "\x7f" || key === "\b") {
        if (line) {
          line = line.slice(0, -1);
          term.write("\b \b");
        }
      } else if (key === "\x04") {  // Ctrl-D: sends the line so far, or at its start ends input
        if (line) send(encoder.encode(line));
        else send(null);
        line = "";
      } else if (key >= " ") {
        line += key;
        term.write(key);
      }
    }
  });
  start();
})();

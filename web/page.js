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
  const LINE = 0, QUIET = 1, KEY = 2;
  let worker = null, modes = LINE, line = "";

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
    line = "";
    worker = new Worker(URL.createObjectURL(new Blob([host, program], { type: "text/javascript" })));
    worker.onmessage = ({ data }) => {
      if ("write" in data) {
        const text = decoder[data.fd].decode(data.write, { stream: true });
        term.write(data.fd === 2 ? `\x1b[31m${text}\x1b[0m` : text);
      } else if ("modes" in data) {
        modes = data.modes;
      } else if ("title" in data) {
        document.title = data.title;
      } else if ("ended" in data) {
        finish(data.ended);
      }
    };
  };
  const send = (bytes) => worker.postMessage(Array.from(bytes));

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
        else worker.postMessage([null]);
        line = "";
      } else if (key >= " ") {
        line += key;
        term.write(key);
      }
    }
  });
  start();
})();

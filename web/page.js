// The page: a terminal, and the program run in a worker, so that the page stays responsive
// while it sums. Keys are taken as a terminal's line discipline takes them.
(() => {
  const notice = document.getElementById("notice");
  const say = (words) => {
    notice.textContent = words;
    notice.hidden = false;
  };
  if (typeof Worker !== "function" || typeof WebAssembly !== "object") {
    say("Zelmar cannot run in this browser: it needs Web Workers and WebAssembly, which are missing or off here.");
    return;
  }
  // Red as 4.5 times brighter than the black behind it, and every other colour kept as legible;
  // the screen reader's mode puts the screen's text in the accessibility tree and reads new output.
  const term = new Terminal({
    convertEol: true, minimumContrastRatio: 4.5, screenReaderMode: true, scrollback: 1000,
    theme: { red: "#ff6e6e" }, wordSeparator: " ()[]{}',\"`?=:",  // a double click takes an answer, or Pi's digits
  });
  const fit = new FitAddon.FitAddon();
  term.loadAddon(fit);
  const box = document.getElementById("terminal");
  box.hidden = document.getElementById("keys").hidden = false;  // the page can run the program
  term.open(box);
  term.textarea.setAttribute("aria-label", "Zelmar's input");
  const resize = () => {  // a phone's narrow screen gets a smaller font, which stays legible
    term.options.fontSize = window.innerWidth < 600 ? 13 : 15;
    fit.fit();
  };
  resize();
  new ResizeObserver(resize).observe(box);
  term.focus();
  // A click anywhere on the page, but for its keys, gives the terminal the keyboard.
  document.body.addEventListener("click", (event) => {
    if (!event.target.closest("button") && !term.hasSelection()) term.focus();
  });

  const program = document.getElementById("program").textContent;
  const host = document.getElementById("host").textContent;
  const usersTitle = document.title;
  const encoder = new TextEncoder();
  const decoder = { 1: new TextDecoder(), 2: new TextDecoder() };
  const { line: LINE } = zelmarProtocol.modes;
  let worker = null, modes = LINE, line = "";
  const keys = zelmarKeys(zelmarProtocol.modes);
  // What the terminal passes on came from a key with Ctrl, Alt or Cmd, or from a paste.
  let modified = false, pasted = false;
  let epoch = 0;  // the number of the worker's modes that keys are now typed under

  // A number is asked for in the line's mode: a phone offers its keyboard of digits and signs.
  const setModes = (value) => {
    modes = value;
    term.textarea.setAttribute("inputmode", modes === LINE ? "tel" : "text");
  };
  const finish = (status) => {
    worker.terminate();
    worker = null;
    document.title = usersTitle;
    document.body.dataset.status = status;
    term.write(`\r\n\x1b[2m[Zelmar ended with status ${status}. Press a key to run it again.]\x1b[0m\r\n`);
  };
  const start = () => {
    delete document.body.dataset.status;
    setModes(LINE);
    epoch = 0;
    line = "";
    term.scrollToBottom();
    let lines = 0;  // line ends of the program's that the terminal has taken, for whoever watches
    document.body.dataset.lines = lines;
    const running = new Worker(URL.createObjectURL(new Blob([host, program], { type: "text/javascript" })));
    worker = running;
    held = begun = null;
    running.addEventListener("message", () => { notice.hidden = true; }, { once: true });  // it runs
    running.onerror = (event) => {
      event.preventDefault();
      say(`Zelmar could not start here: ${event.message || "its worker failed"}.`);
      finish(1);
    };
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
        // The modes take effect once the output before them is on the screen: taken by the terminal
        // (the write's callback, in order), then drawn (its frame, whose drawing is asked for first).
        // Until then keys go under the modes before, and the worker drops them if these dropped them:
        // no key ends the key wait before its prompt is seen.
        term.write("", () => requestAnimationFrame(() => {
          if (worker !== running) return;  // ended since, or started afresh
          setModes(data.modes);
          epoch = data.epoch;
          line = "";  // as a terminal's flush drops the line being typed
        }));
      } else if ("title" in data) {
        document.title = data.title;
      } else if ("ended" in data) {
        finish(data.ended);
      }
    };
  };
  // What is typed goes with the number of the modes it was typed under.
  const send = (bytes) => worker.postMessage({ input: bytes, epoch });

  // Keys: web/keys.js says which events carry what, and edits the line. The terminal's custom
  // handler leaves text to the browser's beforeinput, which passes it on to the terminal here, once.
  term.attachCustomKeyEventHandler((event) => {
    if (event.type === "keydown") modified = event.ctrlKey || event.altKey || event.metaKey;
    return keys.forTerminal(event, term.hasSelection());
  });
  term.textarea.addEventListener("beforeinput", (event) => {
    const text = keys.fromInput(event);
    if (text === null) return;
    event.preventDefault();
    if (text) term.input(text, true);
  }, true);
  term.element.addEventListener("paste", () => {
    pasted = true;
    queueMicrotask(() => { pasted = false; });
  }, true);

  // The echo. Where a line begins on the screen is marked when the terminal has drawn all before
  // it (the marker follows the row as the screen scrolls); an erase goes back there, clears to the
  // end of the screen and draws what is left of the line, so that all the cells the erased
  // character took go with it, however wide it was, and across a wrap. An erase typed before the
  // terminal has drawn up to the line's start waits for it, and the echoes after it wait in turn.
  let held = null, begun = null, marker = null;  // held: what waits for an erase, while one does
  const inTurn = (act) => (held ? held.push(act) : act());
  const release = () => {
    const acts = held;
    held = null;
    for (const [at, act] of acts.entries()) {
      if (held) return held.push(...acts.slice(at));  // an erase among them waits in turn
      act();
    }
  };
  const erase = (place, text) => {
    let row = place.marker.line - term.buffer.active.baseY + 1, column = place.x + 1;
    if (column > term.cols) {  // the line began past the row's end, at the start of the next
      row++;
      column = 1;
    }
    term.write(`\x1b[${Math.max(row, 1)};${column}H\x1b[J${text}`);
  };
  const begin = (text) => () => {
    const place = begun = {};
    term.write("", () => {
      marker?.dispose();
      marker = place.marker = term.registerMarker(0);
      place.x = term.buffer.active.cursorX;
    });
    term.write(text);
  };
  const redraw = (text) => () => {
    if (begun.marker) return erase(begun, text);
    const place = begun, run = worker;
    held = [];
    term.write("", () => {
      if (worker !== run) return;  // the run has ended, and what it held is dropped
      erase(place, text);
      release();
    });
  };

  const typed = (data) => {
    const { line: after, steps } = keys.type(line, modes, data);
    line = after;
    for (const step of steps) {
      if ("send" in step) {
        send(step.send === null ? null : encoder.encode(step.send));
      } else if ("echo" in step) {
        inTurn(step.begins ? begin(step.echo) : () => term.write(step.echo));
      } else if ("redraw" in step) {
        inTurn(redraw(step.redraw));
      } else {  // Ctrl-C ends the run, as a shell shows it
        held = null;
        term.write("^C");
        finish(130);
        return;
      }
    }
  };
  term.onData((data) => {
    if (worker) typed(data);
    else if (!modified && !pasted) start();  // a key runs it again, below what the last run left
  });

  // The keys a phone's keyboard lacks, on the screen; pressing one leaves the keyboard where it is.
  for (const button of document.querySelectorAll("#keys button")) {
    button.addEventListener("pointerdown", (event) => event.preventDefault());
    button.addEventListener("click", () => {
      if (worker) typed(button.dataset.key === "c" ? "\x03" : "\x04");
      term.focus();
    });
  }
  start();
})();

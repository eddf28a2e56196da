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
    convertEol: true, minimumContrastRatio: 4.5, screenReaderMode: true,
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
  const { line: LINE, quiet: QUIET, key: KEY } = zelmarProtocol.modes;
  let worker = null, modes = LINE, line = "";
  // What the terminal passes on came from a key with Ctrl, Alt or Cmd, or from a paste.
  let modified = false, pasted = false, held = false;
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

  // As terminals do: with a selection, Ctrl-C (or Cmd-C, or Ctrl-Insert) copies it; Ctrl-V, Cmd-V
  // and Shift-Insert paste, as Ctrl-Shift-V does. The browser does each, and the terminal passes
  // on what is pasted.
  term.attachCustomKeyEventHandler((event) => {
    held = event.type === "keydown" && event.keyCode !== 229;
    if (event.type !== "keydown") return true;
    modified = event.ctrlKey || event.altKey || event.metaKey;
    const key = event.key.toLowerCase(), command = event.ctrlKey || event.metaKey;
    if (command && (key === "c" || key === "insert") && term.hasSelection()) return false;
    return !((command && key === "v") || (event.shiftKey && key === "insert"));
  });
  // Text that arrives without a key the terminal took (a phone's keyboard sends keyCode 229, then
  // the text; or the text alone) is passed on here, once; an Enter sent as text ends the line.
  const texts = { insertText: null, insertReplacementText: null, insertLineBreak: "\r", insertParagraph: "\r",
                  deleteContentBackward: "\x7f" };
  term.textarea.addEventListener("beforeinput", (event) => {
    if (held || event.isComposing || !(event.inputType in texts)) return;
    const text = texts[event.inputType] ?? event.data;
    event.preventDefault();
    if (text) term.input(text, true);
  }, true);
  term.textarea.addEventListener("blur", () => { held = false; });  // its key's release goes elsewhere
  term.element.addEventListener("paste", () => {
    pasted = true;
    queueMicrotask(() => { pasted = false; });
  }, true);

  const typeKey = (key) => {
    if (key === "\x03") {  // Ctrl-C ends the run, as a shell shows it
      term.write("^C");
      finish(130);
      return false;
    }
    if (modes === QUIET) return true;
    if (modes === KEY) {
      send(encoder.encode(key));
      return false;  // one key; the rest of what it sent is dropped
    }
    if (key === "\r" || key === "\n") {
      term.write("\r\n");
      send(encoder.encode(line + "\n"));
      line = "";
    } else if (key === "\x7f" || key === "\b") {
      if (line) {
        line = line.slice(0, -1);
        term.write("\b \b");
      }
    } else if (key === "\x04") {  // Ctrl-D: sends the line so far, or at its start ends input
      send(line ? encoder.encode(line) : null);
      line = "";
    } else if (key >= " ") {
      line += key;
      term.write(key);
    }
    return true;
  };
  term.onData((data) => {
    if (!worker) {
      if (!modified && !pasted) start();  // a key runs it again, below what the last run left
      return;
    }
    // A line holds no escape sequence (an arrow, a function key, Alt with a key), and CR LF
    // (or a keyboard's LF) is one Enter.
    // eslint-disable-next-line no-control-regex -- the escape sequences are what it takes out
    const keys = modes === LINE ? data.replace(/\x1b(\[[0-?]*[ -/]*[@-~]|O.|.)?/gs, "").replace(/\r\n/g, "\r") : data;
    for (const key of keys) {
      if (!typeKey(key)) return;
    }
  });

  // The keys a phone's keyboard lacks, on the screen; pressing one leaves the keyboard where it is.
  for (const button of document.querySelectorAll("#keys button")) {
    button.addEventListener("pointerdown", (event) => event.preventDefault());
    button.addEventListener("click", () => {
      if (worker) typeKey(button.dataset.key === "c" ? "\x03" : "\x04");
      term.focus();
    });
  }
  start();
})();

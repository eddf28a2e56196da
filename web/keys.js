// The page's keyboard, without the page: which of a browser's events carries each typed character,
// so that every one reaches the program once, and the line discipline, which edits a line until
// Enter as a terminal's does. web/page.js hands it the events and does what it returns; it is put
// in front of the page's script (web/page.cmake), and Node's tests require it.
//
// One path for each character: the browser's beforeinput carries all text (typed, held to repeat,
// from a phone's keyboard, or with AltGr or Option); the terminal (xterm.js, in its screen reader's
// mode) takes the keys that are no text (Enter, Backspace, Tab, arrows, keys with Ctrl), composed
// text, which it reads off its textarea when the composition ends, and pastes.
var zelmarKeys = (modes) => {
  // A key that types text: one character, with no Ctrl, Alt or Cmd.
  const typesText = (event) =>
    [...event.key].length === 1 && event.key >= " " && event.key !== "\x7f" &&
    !(event.ctrlKey || event.altKey || event.metaKey);

  // For the terminal's custom key handler: whether the terminal takes a key event (false: the
  // browser alone does what it does with it). With a selection, Ctrl-C (or Cmd-C, or Ctrl-Insert)
  // copies it; Ctrl-V, Cmd-V and Shift-Insert paste, as Ctrl-Shift-V does: the browser does each,
  // and the terminal passes on what is pasted. A keypress is text, but for a control character,
  // which no beforeinput carries (WebKit's WebDriver types "\n" so).
  const forTerminal = (event, selected) => {
    if (event.type === "keypress") return [...event.key].length === 1 && event.key < " ";
    if (event.type !== "keydown") return true;
    if (typesText(event)) return false;
    const key = event.key.toLowerCase(), command = event.ctrlKey || event.metaKey;
    if ((command && (key === "c" || key === "insert") && selected) || (command && key === "v") ||
        (event.shiftKey && key === "insert")) return false;
    // The terminal sends it, and would leave the browser to edit its textarea too, whose
    // beforeinput would then be taken as a phone's Backspace.
    if (key === "backspace") event.preventDefault();
    return true;
  };

  // What a beforeinput types (the page passes it on to the terminal, and keeps the browser from
  // putting it in the textarea), or null where the event is left to the browser and the terminal:
  // text being composed, which the terminal takes when the composition ends, a paste, which it
  // takes from its paste event, and other edits.
  const typed = { insertText: null, insertReplacementText: null, insertLineBreak: "\r", insertParagraph: "\r",
                  deleteContentBackward: "\x7f" };
  const fromInput = (event) => {
    if (!(event.inputType in typed)) return null;
    return typed[event.inputType] ?? event.data ?? event.dataTransfer?.getData("text/plain") ?? "";
  };

  // Where the line's last character starts: a grapheme, as the screen shows one (a letter with its
  // accents, a flag, a family of emoji), or a code point where the browser cannot tell graphemes.
  const graphemes = typeof Intl === "object" && Intl.Segmenter ? new Intl.Segmenter() : null;
  const lastStart = (text) => {
    if (!graphemes) return text.length - [...text].pop().length;
    let start = 0;
    for (const { index } of graphemes.segment(text)) start = index;
    return start;
  };

  // What data typed under the modes does to the line typed so far: the line after it, and the steps
  // for the page, in order: {echo, begins} text to show (begins: where the line starts, which an
  // erase goes back to), {redraw} the line's text to show again from its start once a character is
  // erased, {send} bytes (a string) for the program (null: input ends), {stop} the run (Ctrl-C).
  const type = (line, mode, data) => {
    const steps = [];
    const echo = (text, begins) => {
      const last = steps[steps.length - 1];
      if (last && "echo" in last && !begins) last.echo += text;
      else steps.push({ echo: text, begins });
    };
    // A line holds no escape sequence (an arrow, a function key, Alt with a key), and CR LF
    // (or a keyboard's LF) is one Enter.
    const keys = mode !== modes.line ? data
      // eslint-disable-next-line no-control-regex -- the escape sequences are what it takes out
      : data.replace(/\x1b(\[[0-?]*[ -/]*[@-~]|O.|.)?/gs, "").replace(/\r\n/g, "\r");
    for (const key of keys) {
      if (key === "\x03") {
        steps.push({ stop: true });
        break;
      }
      if (mode === modes.quiet) continue;
      if (mode === modes.key) {  // one key; the rest of what it sent is dropped
        steps.push({ send: key });
        break;
      }
      if (key === "\r" || key === "\n") {
        echo("\r\n", false);
        steps.push({ send: line + "\n" });
        line = "";
      } else if (key === "\x7f" || key === "\b") {
        if (line) {
          line = line.slice(0, lastStart(line));
          steps.push({ redraw: line });
        }
      } else if (key === "\x04") {  // Ctrl-D: sends the line so far, or at its start ends input
        steps.push({ send: line || null });
        line = "";
      } else if (key >= " ") {
        echo(key, !line);
        line += key;
      }
    }
    return { line, steps };
  };

  return { forTerminal, fromInput, type };
};
if (typeof module === "object") module.exports = zelmarKeys;

// The page's keyboard (web/keys.js) under Node: the events that Chromium, Firefox and WebKit send, through the
// terminal as xterm.js 6.0 takes keys in its screen reader's mode, to what the program gets and the screen shows.
"use strict";
const [assert, { readFileSync }, test, vm] = ["assert", "fs", "test", "vm"].map((name) => require(`node:${name}`));
const { modes } = vm.runInNewContext(`${readFileSync(`${__dirname}/../web/protocol.js`)};zelmarProtocol`);
const keys = require("../web/keys.js")(modes);

// xterm.js's keydown (CoreBrowserTerminal._keyDown, evaluateKeyboardEvent): what it sends, and whether it cancels
// the key; its keypress sends the text of a key it sent nothing for (A-Z, Space, AltGr, Option).
const NAMED = { Enter: ["\r", 1], Tab: ["\t", 1], Escape: ["\x1b", 1], Backspace: ["\x7f"], ArrowLeft: ["\x1b[D"] };
const xterm = (e) => {
  if (/^[a-z]$/.test(e.key) && e.ctrlKey !== e.altKey) {
    return { data: e.ctrlKey ? String.fromCharCode(e.key.charCodeAt(0) - 96) : `\x1b${e.key}`, cancel: true };
  }
  if (e.key in NAMED) return { data: NAMED[e.key][0], cancel: NAMED[e.key][1] };
  return /^[A-Z ]$/.test(e.key) || e.key < " " || e.altKey || e.ctrlKey || e.key.length > 2 ? {} : { data: e.key };
};
// The browser's own input for a key that nothing cancelled; a key as all three send it: keydown, keypress where
// it types, beforeinput (WebKit's phone keyboards send keys so too); a phone's keyboard in Chromium and Firefox:
// keyCode 229 (key "Unidentified"), then its text; an input method's composition, ended.
const input = (k, m = {}) => k === "Enter" ? ["insertLineBreak"] : k === "Backspace" ? ["deleteContentBackward"]
  : k.length > 2 || (m.ctrlKey && !m.AltGraph) || (m.altKey && /^[a-z]$/.test(k)) ? [] : ["insertText", { data: k }];
const key = (k, m = {}) => [["keydown", k, m], ...(input(k, m)[1] || k === "Enter" ? [["keypress", k, m]] : []),
  ["beforeinput", ...input(k, m)]];
const NAMES = { "\r": "Enter", "\b": "Backspace", "\t": "Tab", "←": "ArrowLeft", "⎋": "Escape" };
const ctrl = (k, m) => key(k, { ctrlKey: true, ...m });
const typing = (text) => [...text].flatMap((c) => key(NAMES[c] ?? c, /[A-Z!#+]/.test(c) ? { shiftKey: true } : {}));
const soft = (text) => [...text].flatMap((c) => [["keydown", "Unidentified"],
  ["beforeinput", ...input(NAMES[c] || c)]]);
const composed = (text) => [["beforeinput", "insertCompositionText", { data: text }], ["compositionend", text]];
// Chromium and Firefox send keyCode 229 first; WebKit types the text again, as insertFromComposition, and then
// sends the keydown (229) that ended the composition.
const compose = (text) => [["keydown", "Unidentified"], ...composed(text)];
const composeWebKit = (text) => [...composed(text), ["beforeinput", "deleteCompositionText"],
  ["beforeinput", "insertFromComposition", { data: text }], ["keydown", "Unidentified"]];

// The page, as web/page.js wires it: what the program is sent (null: the end of input), and the screen.
const run = (events, mode) => {
  const sent = [];
  let line = "", screen = "", start = 0, prevented = false, handled = false;
  const type = (data) => {
    const result = keys.type(line, mode, data);
    line = result.line;
    for (const { echo, begins, redraw, send, stop } of result.steps) {
      if (echo) [start, screen] = [begins ? screen.length : start, screen + echo];
      if (redraw !== undefined) screen = screen.slice(0, start) + redraw;
      if (send !== undefined) sent.push(send);
      if (stop) [mode, screen] = [modes.quiet, `${screen}^C`];
    }
  };
  for (const [kind, k, m = {}] of events) {
    const event = { type: kind, key: k, ...m, preventDefault: () => { prevented = true; } };
    if (kind === "keydown") [prevented, handled] = [false, false];
    if (kind === "keydown" && keys.forTerminal(event, m.selected)) {
      const { data, cancel } = xterm(event);
      [prevented, handled] = [cancel || prevented, !!data];
      if (data) type(data);
    } else if (kind === "keypress" && !prevented && !handled && keys.forTerminal(event)) type(k);
    else if (kind === "beforeinput" && !prevented && k) type(keys.fromInput({ inputType: k, ...m }) ?? "");
    else if (kind === "compositionend") type(k);  // the terminal reads it off its textarea
    else if (kind === "paste") type(k.replace(/\r?\n/g, "\r"));  // as the terminal passes a paste on
  }
  return { sent, screen };
};

const ROWS = [  // what, the events, what the program is sent, the screen; in the line's mode, or the mode given
  ["capitals with Shift, Space, Enter", typing("1E6 x\r"), ["1E6 x\n"], "1E6 x\r\n"],
  ["Space, Backspace, then a digit", typing("5 \b0\r"), ["50\n"], "50\r\n"],
  ["Caps Lock, shifted symbols, a held key, AltGr and Option", [...key("CapsLock"), ...typing("E+!#7"),
    ...key("7", { repeat: true }), ...ctrl("@", { altKey: true, AltGraph: true }), ...key("π", { altKey: true }),
    ...typing("\r")], ["E+!#77@π\n"], "E+!#77@π\r\n"],
  ["Tab, an arrow, Escape and Alt are no text", [...typing("1\t←⎋"), ...key("x", { altKey: true }), ...typing("0\r")],
    ["10\n"], "10\r\n"],
  ["a phone's digits, Backspace and Enter", soft("12\b3\r"), ["13\n"], "13\r\n"],
  ["a phone's Enter, and CR LF, as text", [...soft("4\n"), ["beforeinput", "insertText", { data: "5\x1b[D\r\n6\r\n" }]],
    ["4\n", "5\n", "6\n"], "4\r\n5\r\n6\r\n"],
  ["WebKit's WebDriver types Enter as a keypress of LF", [...typing("7"), ["keydown", "\n"], ["keypress", "\n"]],
    ["7\n"], "7\r\n"],
  ["input methods", [...compose("日本"), ...composeWebKit("語"), ...typing("\r")], ["日本語\n"], "日本語\r\n"],
  ["a Backspace erases a whole character", [...soft("😀"), ...compose("日本"), ...typing("\b\b\b\r")], ["\n"], "\r\n"],
  ["graphemes of many code points", [...soft("1e\u0301🇫🇷👨‍👩‍👧"), ...typing("\b\b\b2\r")], ["12\n"], "12\r\n"],
  ["a CR LF paste is two lines", [["paste", "10\r\n3\r\n"], ["beforeinput", "insertFromPaste"]], ["10\n", "3\n"],
    "10\r\n3\r\n"],
  ["Ctrl-V pastes, Ctrl-C copies a selection", [...ctrl("v"), ["paste", "8"], ...ctrl("c", { selected: true })], [],
    "8"],
  ["Ctrl-D sends the line, then ends input", [...typing("12"), ...ctrl("d"), ...ctrl("d")], ["12", null], "12"],
  ["Ctrl-C stops the run", [...typing("3"), ...ctrl("c"), ...typing("4\r")], [], "3^C"],
  ["the key wait takes a key, and one of a paste", [...typing("Q"), ["paste", "yes"]], ["Q", "y"], "", modes.key],
  ["keys are dropped while summing, but Ctrl-C", [...typing("5\r"), ...ctrl("c")], [], "^C", modes.quiet],
];
for (const [what, events, sent, screen, mode = modes.line] of ROWS) {
  test(what, () => assert.deepStrictEqual(run(events, mode), { sent, screen }));
}

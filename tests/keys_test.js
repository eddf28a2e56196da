// The page's keyboard (web/keys.js) under Node: the events that Chromium, Firefox and WebKit send,
// through the terminal as xterm.js 6.0 handles a key in its screen reader's mode, to what reaches
// the program and the line on the screen. Usage: node --test tests/keys_test.js
"use strict";
const assert = require("node:assert");
const { readFileSync } = require("node:fs");
const test = require("node:test");
const vm = require("node:vm");
const { modes } = vm.runInNewContext(`${readFileSync(`${__dirname}/../web/protocol.js`)};zelmarProtocol`);
const keys = require("../web/keys.js")(modes);

// xterm.js's keydown (CoreBrowserTerminal._keyDown, evaluateKeyboardEvent): what it sends, and whether
// it cancels the key; where it sends nothing (A-Z, Space, AltGr), its keypress sends the text.
const xterm = (e) => {
  if (e.keyCode === 229) return {};  // its composition helper's
  if (e.ctrlKey && !e.altKey && /^[a-z]$/.test(e.key)) return { data: String.fromCharCode(e.keyCode - 64), cancel: true };
  if (e.altKey && !e.ctrlKey && /^[a-z]$/.test(e.key)) return { data: `\x1b${e.key}`, cancel: true };
  const named = { Enter: "\r", Tab: "\t", Escape: "\x1b", Backspace: "\x7f", ArrowLeft: "\x1b[D", ArrowUp: "\x1b[A" }[e.key];
  if (named) return { data: named, cancel: e.keyCode !== 8 && e.keyCode < 37 };
  return /^[A-Z]$/.test(e.key) || e.keyCode < 48 || e.altKey || e.ctrlKey || e.key.length > 2 ? {} : { data: e.key };
};
const CODES = { Enter: 13, Backspace: 8, Tab: 9, Escape: 27, " ": 32, ArrowLeft: 37, ArrowUp: 38, Unidentified: 229, "\n": 0 };
// The browser's own input for a key that nothing cancelled.
const input = (key, m = {}) => key === "Enter" ? ["insertLineBreak"] : key === "Backspace" ? ["deleteContentBackward"]
  : key.length > 2 || (m.ctrlKey && !m.AltGraph) || (m.altKey && /^[a-z]$/.test(key)) ? [] : ["insertText", { data: key }];
// A key as all three send it (and WebKit a phone's keys): keydown, keypress where it types, beforeinput, keyup.
const key = (k, m = {}) => [["keydown", k, m], ...(input(k, m)[0]?.startsWith("insert") ? [["keypress", k, m]] : []),
  ["beforeinput", ...input(k, m)], ["keyup", k, m]];
const NAMES = { "\r": "Enter", "\b": "Backspace", "\t": "Tab", "←": "ArrowLeft", "↑": "ArrowUp", "⎋": "Escape" };
const typing = (text) => [...text].flatMap((c) => key(NAMES[c] ?? c, /[A-Z!@#+]/.test(c) ? { shiftKey: true } : {}));
// A phone's keyboard in Chromium and Firefox: keyCode 229, then the text, an Enter or a Backspace.
const soft = (text) => [...text].flatMap((c) => [["keydown", "Unidentified"],
  ["beforeinput", ...(NAMES[c] ? input(NAMES[c]) : ["insertText", { data: c }])], ["keyup", "Unidentified"]]);
const composing = (text) => ["beforeinput", "insertCompositionText", { data: text, isComposing: true }];
// An input method: Chromium and Firefox end the composition before its last keyup; WebKit ends it,
// types it again as insertFromComposition, and then sends the keydown (229) that committed it.
const compose = (text) => [["keydown", "Unidentified"], ["compositionstart"], composing(text), ["compositionend", text]];
const composeWebKit = (text) => [["compositionstart"], composing(text), ["compositionend", text],
  ["beforeinput", "deleteCompositionText"], ["beforeinput", "insertFromComposition", { data: text }], ["keydown", "Unidentified"]];

// The page as web/page.js wires it: what the program is sent (null: input ended), and the screen.
const run = (events, mode) => {
  const sent = [];
  let line = "", screen = "", start = 0, prevented = false, handled = false;
  const type = (data) => {
    const steps = keys.type(line, mode, data);
    line = steps.line;
    for (const step of steps.steps) {
      if ("echo" in step) [start, screen] = [step.begins ? screen.length : start, screen + step.echo];
      if ("redraw" in step) screen = screen.slice(0, start) + step.redraw;
      if ("send" in step) sent.push(step.send);
      if ("stop" in step) [mode, screen] = [modes.quiet, `${screen}^C`];
    }
  };
  for (const [kind, k, m = {}] of events) {
    const event = { type: kind, key: k, keyCode: CODES[k] ?? (/^\w$/.test(k) ? k.toUpperCase().charCodeAt(0) : 190), ...m,
                    preventDefault: () => { prevented = true; } };
    if (kind === "keydown") [prevented, handled] = [false, false];
    if (kind === "keydown" && keys.forTerminal(event, m.selected)) {
      const sends = xterm(event);
      [prevented, handled] = [sends.cancel || prevented, !!sends.data];
      if (sends.data) type(sends.data);
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
  ["Caps Lock's capitals, shifted symbols, a key held to repeat", [...key("CapsLock"), ...key("E"),
    ...typing("+!#"), ...key("7", { repeat: true }), ...key("7", { repeat: true }), ...typing("\r")], ["E+!#77\n"], "E+!#77\r\n"],
  ["AltGr's and Option's symbols", [...key("@", { ctrlKey: true, altKey: true, AltGraph: true }),
    ...key("π", { altKey: true }), ...typing("\r")], ["@π\n"], "@π\r\n"],
  ["Tab, arrows, Escape and Alt are no text", [...typing("1\t←↑⎋"), ...key("x", { altKey: true }), ...typing("0\r")], ["10\n"], "10\r\n"],
  ["a phone's digits, Backspace and Enter", soft("12\b3\r"), ["13\n"], "13\r\n"],
  ["a phone's Enter sent as text", [...soft("4"), ["beforeinput", "insertText", { data: "\n" }]], ["4\n"], "4\r\n"],
  ["a phone that sends keys, in WebKit", typing("9\r"), ["9\n"], "9\r\n"],
  ["WebKit's WebDriver types Enter as a keypress of LF", [...typing("7"), ["keydown", "\n"], ["keypress", "\n"]], ["7\n"], "7\r\n"],
  ["an input method", [...compose("日本"), ...typing("\r")], ["日本\n"], "日本\r\n"],
  ["an input method in WebKit", [...composeWebKit("日本"), ...typing("\r")], ["日本\n"], "日本\r\n"],
  ["a Backspace erases a whole character", [...soft("😀"), ...compose("日本"), ...typing("\b\b\b\r")], ["\n"], "\r\n"],
  ["graphemes of many code points", [...soft("1e\u0301🇫🇷👨‍👩‍👧"), ...typing("\b\b\b2\r")], ["12\n"], "12\r\n"],
  ["a CR LF paste is two lines", [["paste", "10\r\n3\r\n"], ["beforeinput", "insertFromPaste"]], ["10\n", "3\n"], "10\r\n3\r\n"],
  ["text with CR LF and an arrow's sequence", [["beforeinput", "insertText", { data: "5\x1b[D\r\n6\n" }]], ["5\n", "6\n"],
    "5\r\n6\r\n"],
  ["Ctrl-V pastes, Ctrl-C copies a selection", [...key("v", { ctrlKey: true }), ["paste", "8"],
    ...key("c", { ctrlKey: true, selected: true })], [], "8"],
  ["Ctrl-D sends the line, then ends input", [...typing("12"), ...key("d", { ctrlKey: true }),
    ...key("d", { ctrlKey: true })], ["12", null], "12"],
  ["Ctrl-C stops the run", [...typing("3"), ...key("c", { ctrlKey: true }), ...typing("4\r")], [], "3^C"],
  ["the key wait takes a key, and one of a paste", [...typing("Q"), ["paste", "yes"]], ["Q", "y"], "", modes.key],
  ["keys are dropped while summing, but Ctrl-C", [...typing("5\r"), ...key("c", { ctrlKey: true })], [], "^C", modes.quiet],
];
for (const [what, events, sent, screen, mode = modes.line] of ROWS) {
  test(what, () => assert.deepStrictEqual(run(events, mode), { sent, screen }));
}

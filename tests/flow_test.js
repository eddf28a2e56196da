// The page's output and input flow (web/flow.js) under Node, against a clock of its own: each row
// of FLOWS is what happens, at what time, and what must reach the page, and when.
// Usage: node --test tests/flow_test.js
"use strict";
const assert = require("node:assert");
const fs = require("node:fs");
const path = require("node:path");
const test = require("node:test");
const vm = require("node:vm");

for (const script of ["protocol.js", "flow.js"]) {
  vm.runInThisContext(fs.readFileSync(path.join(__dirname, "..", "web", script), "utf8"), { filename: script });
}

// Events are [ms, what, ...]: "1" or "2" writes its text to that fd; "read" starts a read; "type"
// sends its text (null: input ended) under an epoch; "modes" changes them; "shown" acknowledges
// bytes; "drain" starts the wait for the screen; "behind" notes whether the writer must wait.
// What is seen is noted as "ms fd:text", "ms modes epoch", "ms read:text", "ms drained", "ms behind".
const SMALL = { chunkBytes: 8, behindBytes: 10, caughtUpBytes: 5 };
const FLOWS = [
  ["a write after a quiet spell goes at once; close ones gather, each for less than 20 ms more than the gap",
    [[0, "1", "0"], [5, "1", "1"], [10, "1", "2"], [15, "1", "3"], [20, "1", "4"], [25, "1", "5"], [60, "1", "6"],
     [61, "1", "7"], [70, "read"]],
    ["0 1:0", "20 1:1234", "60 1:56", "70 1:7"]],
  ["a read that posts nothing leaves the clock be", [[0, "1", "a"], [15, "read"], [25, "1", "b"], [26, "1", "c"]],
    ["0 1:a", "25 1:b"]],
  ["the first write after a change of modes goes at once, even close behind the answer's",
    [[0, "1", "ask?"], [1, "read"], [2, "type", 0, "7\n"], [3, "modes", "quiet"], [4, "1", "0\n"], [5, "1", "1\n"]],
    ["0 1:ask?", "2 read:7", "3 quiet 1", "4 1:0\n"]],
  ["standard error and output never share a chunk, and keep their order",
    [[0, "1", "a"], [1, "2", "b"], [2, "2", "c"], [3, "1", "d"], [4, "read"]],
    ["0 1:a", "3 2:bc", "4 1:d"]],
  ["a chunk goes once full; a write longer than one goes whole", [[0, "1", "ab"], [1, "1", "cdefg"],
     [2, "1", "hijk"], [3, "1", "0123456789"], [4, "1", "x"], [5, "read"]],
    ["0 1:ab", "2 1:cdefg", "3 1:hijk", "3 1:0123456789", "5 1:x"], SMALL],
  ["the writer waits while more than 10 bytes are unseen, until no more than 5 are",
    [[0, "1", "abcdef"], [1, "behind"], [30, "1", "ghijk"], [31, "behind"], [32, "drain"], [33, "shown", 5],
     [34, "behind"], [35, "shown", 1], [36, "drain"], [60, "1", "lmnopq"], [61, "behind"]],
    ["0 1:abcdef", "30 1:ghijk", "31 behind", "35 drained", "36 drained", "60 1:lmnopq", "61 behind"], SMALL],
  ["what the screen has not taken is posted before the wait", [[0, "1", "ab"], [1, "1", "cdefghij"],
     [2, "drain"], [3, "shown", 10]],
    ["0 1:ab", "2 1:cdefghij", "3 drained"], SMALL],
  ["keys typed ahead are dropped with the modes they were typed under, and when the sum or key wait starts",
    [[0, "type", 0, "12"], [1, "read"], [2, "modes", "line"], [3, "read"], [4, "type", 1, "3"], [5, "modes", "key"],
     [6, "type", 1, "4"], [7, "read"], [8, "type", 2, "6"], [9, "type", 2, "7"], [10, "modes", "line"],
     [11, "type", 3, null], [12, "read"], [13, "read"]],
    ["1 read:1", "2 line 1", "3 read:2", "5 key 2", "8 read:6", "10 line 3", "12 read:7", "13 read:"]],
];

for (const [name, events, expected, tuning] of FLOWS) {
  test(name, async () => {
    let time = 0;
    const seen = [];
    const text = (bytes) => new TextDecoder().decode(bytes);
    const flow = zelmarFlow(() => time, (message) => seen.push(
      "modes" in message ? `${time} ${message.modes} ${message.epoch}` : `${time} ${message.fd}:${text(message.write)}`),
    tuning);
    const note = (what) => () => seen.push(`${time} ${what}`);
    for (const [at, what, ...rest] of events) {
      time = at;
      if (what === "1" || what === "2") {
        const bytes = new TextEncoder().encode(rest[0]);
        assert.strictEqual(flow.write(Number(what), bytes), bytes.length, "all of a write is taken");
        bytes.fill(0);  // the program's memory is its own again
      } else if (what === "read") flow.read().then((bytes) => note(`read:${text(bytes)}`)());
      else if (what === "type") flow.typed(rest[1] === null ? null : new TextEncoder().encode(rest[1]), rest[0]);
      else if (what === "modes") flow.modes(zelmarProtocol.modes[rest[0]]);
      else if (what === "shown") flow.shown(rest[0]);
      else if (what === "drain") flow.drain().then(note("drained"));
      else if (what === "behind" && flow.behind) note("behind")();
      await new Promise(setImmediate);
    }
    assert.deepStrictEqual(seen, expected);
  });
}

test("the worker's hooks are the flow's: the program waits while over 2^18 bytes are unseen, and reads what is typed", async () => {
  const posted = [];
  globalThis.self = { postMessage: (message) => posted.push(message) };
  vm.runInThisContext(fs.readFileSync(path.join(__dirname, "..", "web", "worker.js"), "utf8"), { filename: "worker.js" });
  const host = globalThis.Module;
  const done = [];
  for (let i = 0; i < 6; ++i) assert.strictEqual(host.zelmarWrite(1 + (i % 2), new Uint8Array(1 << 16)), 1 << 16);
  assert.deepStrictEqual([host.zelmarBehind(), posted.slice(0, 5).map((m) => m.fd)], [true, [1, 2, 1, 2, 1]]);
  host.zelmarDrain().then(() => done.push("drained"));
  host.zelmarModes(zelmarProtocol.modes.key);
  host.zelmarRead(1).then((bytes) => done.push([...bytes]));
  for (const data of [{ shown: (1 << 18) - 1 }, { input: [7], epoch: 0 }, { shown: 1 }, { input: [9], epoch: 1 }]) {
    self.onmessage({ data });
    await new Promise(setImmediate);
    done.push("|");  // after each message
  }
  assert.deepStrictEqual([done, host.zelmarBehind(), posted[6]],
    [["|", "|", "drained", "|", [9], "|"], false, { modes: "key", epoch: 1 }]);
});

// The page's flow of output and input (web/flow.js) under Node, against a clock of its own. A row of FLOWS: events
// "ms what arg" (a write to fd 1 or 2, then "behind" if the writer must wait; a read; keys typed under epoch N, "-"
// ending input; modes; bytes shown; the wait for the screen), and what reaches the page, and when.
const assert = require("node:assert"), fs = require("node:fs"), test = require("node:test"), vm = require("node:vm");
const load = (script) => vm.runInThisContext(fs.readFileSync(`${__dirname}/../web/${script}`, "utf8"));
["protocol.js", "flow.js"].forEach(load);
const text = (got) => new TextDecoder().decode(got), bytes = (words) => new TextEncoder().encode(words);
const settle = () => new Promise(setImmediate);
const FLOWS = [
  ["a write goes at once after 20 ms of quiet or a change of modes, others within 20 ms; a chunk is one fd's",
   "0 1 0, 5 1 1, 10 1 2, 15 1 3, 20 1 4, 25 1 5, 60 1 6, 61 1 7, 70 read, 80 read, 92 1 8, 93 1 h, 94 modes quiet, " +
   "95 1 9, 96 2 e, 97 2 f, 98 1 a, 99 read",
   "0 1:0, 20 1:1234, 60 1:56, 70 1:7, 92 1:8, 94 1:h, 94 quiet 1, 95 1:9, 98 2:ef, 99 1:a"],
  ["a chunk of 8 goes once full, a longer write whole; over 10 bytes unseen, the writer waits until 5 are",
   "0 1 ab, 1 1 cdefg, 2 1 hijk, 3 1 0123456789, 4 1 x, 5 drain, 6 shown 14, 7 shown 3, 8 1 y, 9 drain, 10 shown 1",
   "0 1:ab, 2 1:cdefg, 3 1:hijk, 3 1:0123456789, 3 behind, 4 behind, 5 1:x, 7 drained, 9 1:y, 10 drained",
   { chunkBytes: 8, behindBytes: 10, caughtUpBytes: 5 }],
  ["keys typed ahead are dropped with the modes they were typed under, and as the sum or key wait starts",
   "0 type0 12, 1 read, 2 modes line, 3 read, 4 type1 3, 5 modes key, 6 type1 4, 7 read, 8 type2 6, 9 type2 7, " +
   "10 modes line, 11 type3 -, 12 read, 13 read",
   "1 read:1, 2 line 1, 3 read:2, 5 key 2, 8 read:6, 10 line 3, 12 read:7, 13 read:"],
];
for (const [name, events, expected, tuning] of FLOWS) {
  test(name, async () => {
    let time = 0;
    const seen = [], note = (what) => () => seen.push(`${time} ${what}`);
    const flow = zelmarFlow(() => time, (m) =>
      note("modes" in m ? `${m.modes} ${m.epoch}` : `${m.fd}:${text(m.write)}`)(), tuning);
    for (const [at, what, arg] of events.split(", ").map((event) => event.split(" "))) {
      time = Number(at);
      if (what === "read") flow.read().then((got) => note(`read:${text(got)}`)());
      else if (what === "drain") flow.drain().then(note("drained"));
      else if (what === "shown") flow.shown(Number(arg));
      else if (what === "modes") flow.modes(zelmarProtocol.modes[arg]);
      else if (what.startsWith("type")) flow.typed(arg === "-" ? null : bytes(arg), Number(what.slice(4)));
      else if (flow.write(Number(what), bytes(arg)) !== arg.length || flow.behind) note("behind")();
      await settle();
    }
    assert.strictEqual(seen.join(", "), expected);
  });
}
test("the worker's host waits while over 2^18 bytes are unseen, until 2^17 are", async () => {
  globalThis.self = { postMessage: () => {} };
  load("worker.js");
  for (let i = 0; i < 6; ++i) Module.zelmarWrite(1, new Uint8Array(1 << 16));  // over 2^18 posted: the sixth is held
  const seen = [Module.zelmarBehind()];
  Module.zelmarDrain().then(() => seen.push("drained"));
  for (const shown of [(1 << 18) - 1, 1]) {
    self.onmessage({ data: { shown } });
    await settle().then(() => seen.push(shown));
  }
  assert.deepStrictEqual(seen, [true, (1 << 18) - 1, "drained", 1]);
});

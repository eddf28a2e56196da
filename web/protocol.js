// How the program talks to its host, in a page or under Node: the one place that names the hooks,
// the input modes and the page's messages, which src/platform-web.cpp, web/host.js, web/worker.js
// and web/page.js all follow. It is put in front of the program (emcc --pre-js, before host.js),
// and in front of the worker's host (with web/flow.js) and the page's script (web/page.cmake).
//
// The hooks a host puts in Module before the program starts; the program calls them:
//   zelmarRead(size)       a Promise of the next bytes of standard input (at most size; none at its end)
//   zelmarWrite(fd, bytes) takes what the program writes to fd 1 or 2, a view the host must copy
//                          if it keeps it; returns how many bytes it took (fewer: the write failed)
//   zelmarBehind()         true while the screen is too far behind: after a write, the program then
//   zelmarDrain()          waits for this Promise, which the host keeps until the screen catches up
//   zelmarModes(modes)     what typed keys do from now on: one of zelmarProtocol.modes
//   zelmarTitle(title)     the terminal's title
//   zelmarTerminal         true where standard input is a terminal whose Ctrl-D is not echoed
//   zelmarEnded(status)    main has returned status
//
// In the page the program runs in a worker, whose host (web/worker.js) and the page (web/page.js)
// exchange messages; from the worker:
//   {fd, write}            a chunk of output: bytes written to fd, many writes at once
//   {modes, epoch}         the input modes, numbered: every change has the next epoch; the page
//                          takes them up once the output before them is on the screen
//   {title}, {ended}       as the hooks above
// and from the page:
//   {input, epoch}         bytes typed (null: input ended), under the modes of that epoch; the
//                          worker drops input typed under modes that have changed since
//   {shown}                that many bytes of output are on the screen
var zelmarProtocol = Object.freeze({
  // Line: keys echo and Backspace edits until Enter sends the line. Quiet: keys are dropped.
  // Key: one key is sent, unechoed. Entering quiet or key drops whatever was typed before.
  modes: Object.freeze({ line: "line", quiet: "quiet", key: "key" }),
});

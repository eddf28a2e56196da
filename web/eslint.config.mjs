// ESLint's checks for the page's scripts and the host under Node: its recommended rules, with the
// globals each script has where it runs.
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["node_modules/"] },
  js.configs.recommended,
  {
    files: ["page.js"],
    languageOptions: {
      sourceType: "script",
      globals: { ...globals.browser, Terminal: "readonly", FitAddon: "readonly", zelmarProtocol: "readonly",
                 zelmarKeys: "readonly" },
    },
  },
  {
    // Put in front of the worker's host, which calls it; tests/flow_test.js runs it under Node.
    files: ["flow.js"],
    languageOptions: { sourceType: "script", globals: { zelmarProtocol: "readonly" } },
    rules: { "no-unused-vars": ["error", { varsIgnorePattern: "^zelmarFlow$" }] },
  },
  {
    // Put in front of the page's script, which reads it, and required by Node's tests.
    files: ["keys.js"],
    languageOptions: { sourceType: "script", globals: { module: "writable" } },
  },
  {
    // Put in front of the program, which reads Module, in the page's worker.
    files: ["worker.js"],
    languageOptions: {
      sourceType: "script", globals: { ...globals.worker, zelmarProtocol: "readonly", zelmarFlow: "readonly" },
    },
    rules: { "no-unused-vars": ["error", { varsIgnorePattern: "^Module$" }] },
  },
  {
    // Put in front of the program, and of the page's script and the worker's host, which read it.
    files: ["protocol.js"],
    languageOptions: { sourceType: "script" },
    rules: { "no-unused-vars": ["error", { varsIgnorePattern: "^zelmarProtocol$" }] },
  },
  {
    // Put inside the program, whose Module it fills in, under Node.
    files: ["host.js"],
    languageOptions: { sourceType: "script", globals: { ...globals.node, Module: "writable" } },
  },
];

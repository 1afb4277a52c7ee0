// Serves a folder on http://localhost:PORT with the two headers the page's threads need (shared memory is
// given only to cross-origin isolated pages). Usage: node web/serve.js [FOLDER] [PORT]
'use strict';
const http = require('node:http');
const fs = require('node:fs');
const path = require('node:path');

const types = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.css': 'text/css', '.png': 'image/png', '.json': 'application/json' };

// A request handler for the files under `root`; isolate false leaves the two headers out, as many static
// hosts do (the page then gets them from its service worker).
function serveFolder(root, { isolate = true } = {}) {
  return (req, res) => serve(path.resolve(root), isolate, req, res);
}

function serve(root, isolate, req, res) {
  const url = new URL(req.url, 'http://localhost');
  const file = path.join(root, decodeURIComponent(url.pathname === '/' ? '/index.html' : url.pathname));
  if (!file.startsWith(root + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
    res.writeHead(404).end('not found');
    return;
  }
  const headers = { 'Content-Type': types[path.extname(file)] || 'application/octet-stream', 'Cache-Control': 'no-cache' };
  if (isolate) {
    headers['Cross-Origin-Opener-Policy'] = 'same-origin';
    headers['Cross-Origin-Embedder-Policy'] = 'require-corp';
  }
  res.writeHead(200, headers);
  fs.createReadStream(file).pipe(res);
}

if (require.main === module) {
  const root = path.resolve(process.argv[2] || 'build-web/web');
  const port = Number(process.argv[3] || 8080);
  http.createServer(serveFolder(root))
    .listen(port, '127.0.0.1', () => console.log(`http://localhost:${port}/ serves ${root}`));
}
module.exports = { serveFolder };

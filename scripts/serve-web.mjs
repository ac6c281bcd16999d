// A static server for build/web on 127.0.0.1 (run-web.sh and the browser test):
// the right types for the module and the .wasm, no caching, and the page's
// Content-Security-Policy as a header too, so it also covers the Worker.
// Usage: node scripts/serve-web.mjs DIR PORT
import {createServer} from 'node:http';
import {readFile} from 'node:fs/promises';
import {extname, join, normalize} from 'node:path';

const [dir, port = '8080'] = process.argv.slice(2);
const TYPES = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.mjs': 'text/javascript',
               '.css': 'text/css', '.wasm': 'application/wasm', '.png': 'image/png', '.ico': 'image/x-icon'};
const CSP = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; font-src 'self'; " +
            "img-src 'self'; connect-src 'self' ws: wss:; worker-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'";

createServer(async (req, res) => {
    let path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (path.endsWith('/')) path += 'index.html';
    const file = normalize(join(dir, path));
    if (!file.startsWith(normalize(dir))) { res.writeHead(403).end(); return; }
    try {
        const body = await readFile(file);
        res.writeHead(200, {'Content-Type': TYPES[extname(file)] || 'application/octet-stream',
                            'Cache-Control': 'no-store', 'Content-Security-Policy': CSP});
        res.end(body);
    } catch (e) {
        res.writeHead(404).end();
    }
}).listen(Number(port), '127.0.0.1', () => console.log(`serving ${dir} on http://127.0.0.1:${port}/`));

// Loads a page in Debian's headless chromium and prints what the page answers: the value its
// script resolves `window.answer` (a promise) to, as one line of JSON on standard output.
// The page directory is served over HTTP on 127.0.0.1 (workers do not run from file://).
// usage: node browser.mjs DIR PAGE [--timeout SECONDS] [--repeat N] [--route NAME=COMMAND]...
//   --repeat N loads the page N times in the same browser and prints one line per load.
//   --route NAME=COMMAND serves /NAME as JSON from what the bash command prints, run afresh at
//   each request (a challenge from the component).
// Exit: 0 with the answers; 1 when the browser fails to start, the page fails, or the timeout (a
// hang only: minutes, never a budget the page is expected to fit in) passes.
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFile } from 'node:child_process';
import { chromium } from 'playwright-core';

const args = process.argv.slice(2);
const option = (name, fallback) => {
  const i = args.indexOf(name);
  if (i < 0) return fallback;
  const value = args[i + 1];
  args.splice(i, 2);
  return value;
};
const routes = new Map();
for (let route; (route = option('--route', null)) !== null;) {
  const eq = route.indexOf('=');
  routes.set('/' + route.slice(0, eq), route.slice(eq + 1));
}
const timeoutSeconds = Number(option('--timeout', '300'));
const repeat = Number(option('--repeat', '1'));
const [dir, page] = args;
if (!dir || !page) {
  console.error('usage: node browser.mjs DIR PAGE [--timeout SECONDS] [--repeat N]');
  process.exit(2);
}

const types = { '.html': 'text/html', '.js': 'text/javascript', '.json': 'application/json',
                '.wav': 'audio/wav', '.css': 'text/css' };
const root = path.resolve(dir);
const server = http.createServer((request, response) => {
  const route = routes.get(new URL(request.url, 'http://x').pathname);
  if (route !== undefined) {
    execFile('bash', ['-c', route], { maxBuffer: 1 << 20 }, (error, stdout, stderr) => {
      if (error) {
        console.error(`browser.mjs: ${route}: ${error.message} ${stderr}`);
        response.writeHead(500).end();
        return;
      }
      response.writeHead(200, { 'Content-Type': 'application/json', 'Cache-Control': 'no-store' });
      response.end(stdout);
    });
    return;
  }
  const name = path.join(root, decodeURIComponent(new URL(request.url, 'http://x').pathname));
  // Files read at each request: a test may rewrite the challenge between loads.
  if (!name.startsWith(root + path.sep) || !fs.existsSync(name) || !fs.statSync(name).isFile()) {
    response.writeHead(404).end();
    return;
  }
  const body = fs.readFileSync(name);
  const headers = { 'Content-Type': types[path.extname(name)] || 'application/octet-stream',
                    'Cache-Control': 'no-store', 'Accept-Ranges': 'bytes' };
  // Media elements read by ranges, and without a length report an endless stream.
  const range = /^bytes=(\d*)-(\d*)$/.exec(request.headers.range || '');
  if (range && (range[1] || range[2])) {
    const start = range[1] ? Number(range[1]) : Math.max(0, body.length - Number(range[2]));
    const end = range[1] && range[2] ? Math.min(Number(range[2]), body.length - 1) : body.length - 1;
    if (start > end) {
      response.writeHead(416, { 'Content-Range': `bytes */${body.length}` }).end();
      return;
    }
    response.writeHead(206, { ...headers, 'Content-Range': `bytes ${start}-${end}/${body.length}`,
                              'Content-Length': end - start + 1 });
    response.end(body.subarray(start, end + 1));
    return;
  }
  response.writeHead(200, { ...headers, 'Content-Length': body.length });
  response.end(body);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const url = `http://127.0.0.1:${server.address().port}/${page}`;

// A fresh empty profile each run; without the background-networking flags chromium's own
// connections are refused on a closed network and it stalls.
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexorin-chromium-'));
const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync',
               '--autoplay-policy=no-user-gesture-required'];
let context;
const hang = setTimeout(() => {
  console.error(`browser.mjs: no answer from ${page} within ${timeoutSeconds} s`);
  process.exit(1);
}, timeoutSeconds * 1000);
let status = 0;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: false, args: flags,
    timeout: timeoutSeconds * 1000,
  });
  for (let i = 0; i < repeat; i++) {
    const tab = await context.newPage();
    tab.setDefaultTimeout(timeoutSeconds * 1000);
    tab.on('pageerror', (error) => console.error(`page error: ${error.message}`));
    await tab.goto(url);
    const answer = await tab.evaluate(() => window.answer);
    console.log(JSON.stringify(answer));
    await tab.close();
  }
} catch (error) {
  console.error(`browser.mjs: ${error.message}`);
  status = 1;
} finally {
  clearTimeout(hang);
  if (context) await context.close().catch(() => {});
  server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
process.exit(status);

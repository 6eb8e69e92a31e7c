// The example site walked in Debian's headless chromium as a visitor would, its pages run by the
// test host (site_host.mjs) under Wine with the registered DLL: the form's picture decoded, its
// listen control loaded, the widget solving on its own, a new picture with a new number and sound;
// the right number (read from the host's session store) thanks the visitor, Send pressed before the
// widget is done sends once it is, a wrong one says so and keeps what the visitor typed, five wrong
// lock the session; a missing widget file, JavaScript off, and a name other than localhost over
// plain HTTP each say who can fix them; on a phone's 360 x 640 the page fits and the picture's
// digits are at least as tall as the text beside them. At the end it takes the README's pictures
// of the form (desktop and phone), stamped with what they show, and checks that the archive's
// copies show the same pages. Prints ok/FAIL lines; exit status 0 only when every check held.
// usage: node site_walk.mjs SITE_DIR LOADER CSCRIPT [--timeout SECONDS] [--screenshots DIR]
//   SITE_DIR: the unpacked release's examples directory; LOADER and CSCRIPT: the Wine loader and the
//   cscript.exe of the bitness to walk with (WINEPREFIX and the like set by the caller); DIR: where
//   the pictures go (form-desktop.png, form-phone.png).
// The timeout only ends a hang: every wait is for an event, never a budget a step must fit in.
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import { chromium } from 'playwright-core';
import { SiteHost } from './site_host.mjs';

const args = process.argv.slice(2);
const timeoutAt = args.indexOf('--timeout');
const timeoutSeconds = timeoutAt >= 0 ? Number(args.splice(timeoutAt, 2)[1]) : 1800;
const shotsAt = args.indexOf('--screenshots');
const shotsDir = shotsAt >= 0 ? args.splice(shotsAt, 2)[1] : null;
const [site, loader, cscript] = args;
if (!site || !loader || !cscript) {
  console.error('usage: node site_walk.mjs SITE_DIR LOADER CSCRIPT [--timeout SECONDS]');
  process.exit(2);
}
const wait = timeoutSeconds * 1000;
let failures = 0;
const check = (what, ok, detail = '') => {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${detail ? ` (${detail})` : ''}`);
  if (!ok) failures += 1;
};
const hang = setTimeout(() => {
  console.error(`site_walk: no end within ${timeoutSeconds} s`);
  process.exit(1);
}, wait + 60000);

// Each page runs in a process of its own here, where a server runs them all in one: so the proof of
// work's key and its table of used challenges would differ from page to page, as on a farm. The
// site is configured as the README tells a farm to be: one secret, in global.asa.
const globalAsa = path.join(site, 'global.asa');
const configured = fs.readFileSync(globalAsa, 'latin1')
  .replace('Application("CaptchaWorkSecret") = ""', 'Application("CaptchaWorkSecret") = "site walk secret"');
if (!configured.includes('site walk secret')) {
  console.log('FAIL global.asa has no Application("CaptchaWorkSecret") = "" line to set');
  process.exit(1);
}
fs.writeFileSync(globalAsa, configured, 'latin1');
const host = await new SiteHost({ dir: site, loader, cscript, log: (line) => console.log(`     ${line}`) }).start();
const origin = `http://127.0.0.1:${host.port}`;
const flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const launched = [];
async function browser(extraFlags = [], options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexorin-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: false, args: [...flags, ...extraFlags],
    timeout: wait, ...options,
  });
  launched.push({ context, profile });
  // Every state the widget reports, kept from the page's start (the event fires on the element).
  await context.addInitScript(() => {
    window.widgetStates = [];
    document.addEventListener('statechange', (event) => window.widgetStates.push(event.detail && event.detail.state), true);
  });
  context.setDefaultTimeout(wait);
  return context;
}
const cookieOf = async (context) => (await context.cookies()).find((c) => c.name === 'ASPSESSIONIDVEXORIN')?.value;

// Opens the form; answers what the visitor sees before typing.
async function openForm(context, base = origin) {
  const tab = context.pages()[0] || await context.newPage();
  await tab.goto(`${base}/form.asp`);
  await pictureShown(tab);
  const picture = await tab.evaluate(() => ({ width: document.getElementById('picture').naturalWidth,
                                              height: document.getElementById('picture').naturalHeight }));
  return { tab, picture };
}
const pictureShown = (tab) => tab.waitForFunction(() => {
  const img = document.getElementById('picture');
  return img && img.complete;
});
// Whether the page shows a note (a hidden one is not shown).
const noteShown = (tab, id) => tab.evaluate((noteId) => {
  const note = document.getElementById(noteId);
  return Boolean(note && !note.hidden && note.offsetHeight > 0);
}, id);
// Waits until the widget verified or failed; answers its last state.
async function widgetOutcome(tab) {
  await tab.waitForFunction(() => window.widgetStates.some((s) => s === 'verified' || s === 'error' || s === 'expired'));
  return tab.evaluate(() => window.widgetStates[window.widgetStates.length - 1]);
}
// What the visitor reads: rendered text only (no script, no hidden note, no <noscript> while scripts run).
const bodyText = async (tab) => (await tab.innerText('body')).replace(/\s+/g, ' ').trim();
// The visitor's other fields, as a contact form has them.
const NAME = 'Ada Lovelace';
const MESSAGE = 'Hello & welcome <3';
async function fill(tab, answer) {
  await tab.fill('input[name="name"]', NAME);
  await tab.fill('textarea[name="message"]', MESSAGE);
  await tab.fill('input[name="answer"]', answer);
}
// Every note the form showed, to be found in the README's words.
const notesSeen = new Set();
async function notes(tab) {
  const shown = await tab.evaluate(() => [...document.querySelectorAll('.note')]
    .filter((note) => note.offsetHeight > 0).map((note) => note.innerText.replace(/\s+/g, ' ').trim()));
  for (const note of shown) notesSeen.add(note);
}
async function submit(tab, answer) {
  await fill(tab, answer);
  await Promise.all([tab.waitForNavigation(), tab.click('button[type="submit"]')]);
  await notes(tab);
  return bodyText(tab);
}
const expectedNumber = async (context) => host.session(await cookieOf(context))?.['captcha.answer'];
const THANKS = 'Thank you: the number was right';
const WRONG = 'That was not the number.';
const LOCKED = 'Too many wrong answers.';
const NEEDS_JAVASCRIPT = 'which needs JavaScript';

// The picture's digits as the visitor sees them: the ink of each digit's cell (strokes found as
// connected dark pixels, so the speckle noise drops out), scaled as the page shows the picture,
// against the size of the text beside it. Answers CSS pixels; the phone's zoom scales both alike.
const measureDigits = (tab, digits) => tab.evaluate((count) => {
  const img = document.getElementById('picture');
  const w = img.naturalWidth, h = img.naturalHeight;
  const canvas = document.createElement('canvas');
  canvas.width = w;
  canvas.height = h;
  const g = canvas.getContext('2d');
  g.drawImage(img, 0, 0);
  const data = g.getImageData(0, 0, w, h).data;
  const dark = (i) => data[i * 4] < 160;
  const seen = new Uint8Array(w * h);
  const tops = new Array(count).fill(Infinity), bottoms = new Array(count).fill(-Infinity);
  for (let start = 0; start < w * h; start += 1) {
    if (seen[start] || !dark(start)) continue;
    const stack = [start], pixels = [];
    seen[start] = 1;
    while (stack.length) {
      const at = stack.pop();
      pixels.push(at);
      const x = at % w, y = (at - x) / w;
      for (let dy = -1; dy <= 1; dy += 1) {
        for (let dx = -1; dx <= 1; dx += 1) {
          const nx = x + dx, ny = y + dy, next = ny * w + nx;
          if (nx >= 0 && nx < w && ny >= 0 && ny < h && !seen[next] && dark(next)) {
            seen[next] = 1;
            stack.push(next);
          }
        }
      }
    }
    if (pixels.length < 15) continue;  // a speck of noise
    const centre = pixels.reduce((sum, at) => sum + (at % w), 0) / pixels.length;
    const cell = Math.min(count - 1, Math.floor(centre * count / w));
    for (const at of pixels) {
      const y = Math.floor(at / w);
      tops[cell] = Math.min(tops[cell], y);
      bottoms[cell] = Math.max(bottoms[cell], y);
    }
  }
  const scale = img.getBoundingClientRect().height / h;
  const heights = tops.map((top, i) => (bottoms[i] >= top ? (bottoms[i] - top + 1) * scale : 0));
  const sorted = [...heights].sort((a, b) => a - b);
  const label = document.querySelector('label[for="answer"]');
  return { heights: heights.map((x) => Math.round(x)), median: sorted[Math.floor(count / 2)],
           text: parseFloat(getComputedStyle(label).fontSize), picture: `${w} x ${h}`,
           layoutWidth: document.documentElement.clientWidth, scrollWidth: document.documentElement.scrollWidth };
}, digits);

// A PNG with a text chunk added before its end: what the picture shows, for a later check.
function stampPng(png, keyword, text) {
  const body = Buffer.concat([Buffer.from(`tEXt${keyword}\0${text}`, 'latin1')]);
  const chunk = Buffer.alloc(body.length + 8);
  chunk.writeUInt32BE(body.length - 4, 0);
  body.copy(chunk, 4);
  chunk.writeUInt32BE(zlib.crc32(body), body.length + 4);
  const end = png.length - 12;  // IEND: length, type, CRC
  return Buffer.concat([png.subarray(0, end), chunk, png.subarray(end)]);
}
function pngText(file, keyword) {
  if (!fs.existsSync(file)) return null;
  const png = fs.readFileSync(file);
  for (let at = 8; at + 8 <= png.length;) {
    const length = png.readUInt32BE(at), type = png.toString('latin1', at + 4, at + 8);
    if (type === 'tEXt') {
      const [key, value] = png.toString('latin1', at + 8, at + 8 + length).split('\0');
      if (key === keyword) return value;
    }
    at += length + 12;
  }
  return null;
}

let status = 0;
try {
  // --- A visitor who types the number -----------------------------------------------------------
  const visitor = await browser(['--autoplay-policy=no-user-gesture-required']);
  let { tab, picture } = await openForm(visitor);
  check('the picture is decoded', picture.width > 0 && picture.height > 0, `${picture.width} x ${picture.height}`);
  const listen = (page) => page.evaluate(() => new Promise((resolve) => {
    const audio = document.getElementById('sound');
    audio.preload = 'auto';
    audio.addEventListener('loadedmetadata', () => resolve({ duration: audio.duration }), { once: true });
    audio.addEventListener('error', () => resolve({ error: audio.error && audio.error.code }), { once: true });
    audio.load();
  }));
  let sound = await listen(tab);
  check('the listen control loads the spoken number', sound.duration > 1, JSON.stringify(sound));
  const playsOf = async () => host.session(await cookieOf(visitor))?.['captcha.plays'];
  const playsBefore = await playsOf();
  let state = await widgetOutcome(tab);
  check('the widget solves the challenge on its own, on load', state === 'verified', `states: ${await tab.evaluate(() => window.widgetStates.join(' '))}`);
  const says = await tab.evaluate(() => {
    const widget = document.querySelector('altcha-widget');
    return ((widget.shadowRoot || widget).textContent || '').replace(/\s+/g, ' ').trim();
  });
  check('  ... and says the browser check is done, not that the form is', says.includes('Browser check done') && !/\bVerified\b/.test(says), says);
  const first = await expectedNumber(visitor);
  check('the host\'s session holds the number of the picture', /^[0-9]{6}$/.test(first || ''), String(first));
  // A new picture: a new number, and the player speaks that one.
  const before = await tab.evaluate(() => document.getElementById('picture').src);
  await tab.click('#new-picture');
  await tab.waitForFunction((old) => {
    const img = document.getElementById('picture');
    return img.src !== old && img.complete && img.naturalWidth > 0;
  }, before);
  const renewed = await expectedNumber(visitor);
  check('"New picture" draws a new number', /^[0-9]{6}$/.test(renewed || '') && renewed !== first, `${first} -> ${renewed}`);
  const fresh = await tab.evaluate(() => [document.getElementById('picture').src, document.getElementById('sound').src]);
  sound = await listen(tab);
  // Each fetch of the sound counts as a play: the new number's count starts again from nothing.
  const playsAfter = await playsOf();
  check('  ... and the player speaks the new one', sound.duration > 1 && playsAfter > 0 && playsAfter <= playsBefore &&
        fresh[1].split('?')[1] === fresh[0].split('?')[1], `${JSON.stringify(sound)}; plays ${playsBefore}, then of the new number ${playsAfter}`);
  let text = await submit(tab, renewed || '');
  check('the new picture\'s number: the thank-you page', text.includes(THANKS), text);

  // --- Send pressed before the widget is done ----------------------------------------------------
  // The challenge is held back until Send was pressed, so the widget is still working then.
  let release;
  const held = new Promise((resolve) => { release = resolve; });
  await visitor.route('**/captcha-challenge.asp*', async (route) => { await held; await route.continue(); });
  ({ tab } = await openForm(visitor));
  await fill(tab, (await expectedNumber(visitor)) || '');
  await tab.evaluate(() => { window.notSentYet = true; });
  await tab.click('button[type="submit"]');
  const early = await tab.evaluate(() => ({ here: window.notSentYet === true, states: window.widgetStates.join(' ') }));
  check('Send pressed while the widget works: the form waits', early.here && !early.states.includes('verified'), `states: ${early.states}`);
  const sent = tab.waitForNavigation();
  release();
  await sent;
  await notes(tab);
  text = await bodyText(tab);
  check('  ... and sends itself once the work is done', text.includes(THANKS), text);
  await visitor.unroute('**/captcha-challenge.asp*');

  // --- Wrong numbers, then the lock --------------------------------------------------------------
  for (let attempt = 1; attempt <= 5; attempt += 1) {
    ({ tab } = await openForm(visitor));
    state = await widgetOutcome(tab);
    const right = await expectedNumber(visitor);
    text = await submit(tab, right === '000000' ? '111111' : '000000');
    check(`wrong number ${attempt}: the wrong-number message (widget ${state})`, state === 'verified' && text.includes(WRONG), text);
    if (attempt === 1) {
      const kept = await tab.evaluate(() => ({ name: document.getElementById('name').value,
                                               message: document.getElementById('message').value,
                                               answer: document.getElementById('answer').value }));
      check('  ... the visitor\'s other fields kept, the number to type again', kept.name === NAME && kept.message === MESSAGE && kept.answer === '',
            JSON.stringify(kept));
    }
  }
  ({ tab } = await openForm(visitor));
  state = await widgetOutcome(tab);
  text = await submit(tab, (await expectedNumber(visitor)) || '');
  check('after five wrong, even the right number is refused: locked', text.includes(LOCKED), text);

  // --- The widget's file missing -----------------------------------------------------------------
  const widgetFile = path.join(site, 'altcha.js');
  fs.renameSync(widgetFile, `${widgetFile}.away`);
  try {
    const other = await browser();
    ({ tab } = await openForm(other));
    // The page has loaded everything it can; the widget never ran, so there is no state to wait for.
    await tab.waitForLoadState('load');
    const defined = await tab.evaluate(() => customElements.get('altcha-widget') !== undefined);
    check('without altcha.js the widget is not there', !defined);
    check('  ... and the page says the site\'s file is missing', await noteShown(tab, 'no-widget'));
    await notes(tab);
    text = await submit(tab, (await expectedNumber(other)) || '');
    check('  ... sent anyway: JavaScript and the site named, not "wrong number"', text.includes(NEEDS_JAVASCRIPT) && text.includes('site\'s owner') && !text.includes(WRONG), text);
  } finally {
    fs.renameSync(`${widgetFile}.away`, widgetFile);
  }

  // --- JavaScript off ----------------------------------------------------------------------------
  const noScript = await browser([], { javaScriptEnabled: false });
  ({ tab } = await openForm(noScript));
  const noscriptNote = await tab.evaluate(() => document.querySelector('noscript') !== null);
  await notes(tab);
  text = await bodyText(tab);
  check('JavaScript off: the page says the form needs it', noscriptNote && text.includes('This form needs JavaScript'), text.slice(0, 200));
  check('  ... and offers no "New picture" that cannot work', !(await tab.isVisible('#new-picture')));
  text = await submit(tab, (await expectedNumber(noScript)) || '');
  check('  ... sent anyway: it needs JavaScript, not "wrong number"', text.includes(NEEDS_JAVASCRIPT) && !text.includes(WRONG), text);

  // --- A name other than localhost over plain HTTP -----------------------------------------------
  const remote = await browser([`--host-resolver-rules=MAP www.example.test 127.0.0.1`]);
  const consoleLines = [];
  remote.on('console', (message) => consoleLines.push(message.text()));
  ({ tab } = await openForm(remote, `http://www.example.test:${host.port}`));
  check('at http://www.example.test the picture still shows', (await tab.evaluate(() => document.getElementById('picture').naturalWidth)) > 0);
  const secure = await tab.evaluate(() => window.isSecureContext);
  // Whatever the widget shows, in its shadow tree or around it, once it has settled.
  await tab.waitForFunction(() => {
    const widget = document.querySelector('altcha-widget');
    return window.widgetStates.length > 0 || (widget && (widget.shadowRoot || widget).textContent.trim().length > 0);
  });
  await tab.waitForTimeout(2000);  // not a budget: lets a late error message render before it is read
  const shown = await tab.evaluate(() => {
    const widget = document.querySelector('altcha-widget');
    return ((widget.shadowRoot || widget).textContent || '').replace(/\s+/g, ' ').trim();
  });
  const states = await tab.evaluate(() => window.widgetStates.join(' '));
  console.log(`     plain HTTP at a non-local name: isSecureContext ${secure}; widget states "${states}"; it shows "${shown}"`);
  console.log(`     the browser's console: ${consoleLines.filter((l) => /secure|https|altcha/i.test(l)).join(' | ') || '(nothing of the widget)'}`);
  check('  the page is no secure context there', secure === false);
  const failed = /Verification failed\.[^.]*\./.exec(shown);
  check('  the widget fails instead of solving', states.split(' ').includes('error') && !states.includes('verified') && failed !== null, shown);
  check('  and says on the console that it needs HTTPS', consoleLines.some((l) => /Secure context \(HTTPS\) required/.test(l)));
  const httpsNote = await tab.evaluate(() => document.getElementById('needs-https').textContent.replace(/\s+/g, ' ').trim());
  await notes(tab);
  check('  the page says only the site can fix it: HTTPS', (await noteShown(tab, 'needs-https')) && /HTTPS/.test(httpsNote) && /owner/.test(httpsNote), httpsNote);
  // Sending the form: the widget's own checkbox, a required field, stays unticked, and the browser
  // submits no form with an invalid field (it shows the field's message instead).
  await tab.fill('input[name="answer"]', (await expectedNumber(remote)) || '');
  const validity = await tab.evaluate(() => {
    const form = document.querySelector('form');
    const invalid = [...form.elements].find((element) => !element.checkValidity());
    return { valid: form.checkValidity(), inWidget: Boolean(invalid && invalid.closest('altcha-widget')),
             message: invalid && invalid.validationMessage };
  });
  console.log(`     sending the form there: ${JSON.stringify(validity)}`);
  check('  and the form cannot be sent: the widget holds it back', validity.valid === false && validity.inWidget);
  const readme = fs.readFileSync(path.join(site, '..', 'README.md'), 'utf8').replace(/\s+/g, ' ');
  check('the README says what a visitor sees there', failed !== null && readme.includes(failed[0]) && readme.includes(httpsNote),
        `"${failed && failed[0]}", "${httpsNote}"`);
  // Each note's first sentence, as the README quotes it to say what it means.
  const unquoted = [...notesSeen].map((note) => /^[^.]*\./.exec(note)?.[0] || note).filter((first) => !readme.includes(first));
  check(`the README quotes every note the form showed (${notesSeen.size})`, notesSeen.size >= 7 && unquoted.length === 0,
        unquoted.length ? `not quoted: ${unquoted.join(' | ')}` : '');

  // --- A phone's 360 x 640 -----------------------------------------------------------------------
  const phoneSize = { viewport: { width: 360, height: 640 }, screen: { width: 360, height: 640 }, isMobile: true,
                      hasTouch: true, deviceScaleFactor: 1 };
  const phone = await browser([], phoneSize);
  ({ tab } = await openForm(phone));
  const number = (await expectedNumber(phone)) || '';
  const digits = await measureDigits(tab, number.length || 6);
  console.log(`     on the phone: ${JSON.stringify(digits)}`);
  check('on a phone the page is laid out at the phone\'s width (it declares a viewport) and fits it',
        digits.layoutWidth === 360 && digits.scrollWidth <= 360, `${digits.layoutWidth} wide, ${digits.scrollWidth} of content`);
  check('  the picture\'s digits are at least as tall as the text beside them', digits.median >= digits.text,
        `digits ${digits.heights.join(' ')} px (median ${Math.round(digits.median)}), text ${digits.text} px`);
  state = await widgetOutcome(tab);
  text = await submit(tab, number);
  check('  the right number sent from the phone: the thank-you page', text.includes(THANKS), text);

  // --- The README's pictures of the form, as this run served it -----------------------------------
  // Stamped with the page, the widget and the picture's size they show; the archive's copies in
  // docs/ must carry the same stamp (developing.md names the command that refreshes them).
  const served = crypto.createHash('sha256');
  for (const file of ['form.asp', 'altcha.js']) served.update(`${file}\0`).update(fs.readFileSync(path.join(site, file)));
  served.update(`picture ${picture.width} x ${picture.height}`);
  const stamp = served.digest('hex');
  if (shotsDir) {
    fs.mkdirSync(shotsDir, { recursive: true });
    const shoot = async (context, name, how) => {
      ({ tab } = await openForm(context));
      await widgetOutcome(tab);
      await fill(tab, (await expectedNumber(context)) || '');
      await tab.evaluate(() => document.activeElement && document.activeElement.blur());
      const png = await how(tab);
      fs.writeFileSync(path.join(shotsDir, name), stampPng(png, 'vexorin-form', stamp));
      console.log(`     ${path.join(shotsDir, name)}`);
    };
    const desktop = await browser([], { viewport: { width: 1000, height: 800 } });
    await shoot(desktop, 'form-desktop.png', (page) => page.locator('main').screenshot());
    const phoneShot = await browser([], phoneSize);
    await shoot(phoneShot, 'form-phone.png', (page) => page.screenshot({ fullPage: true }));
    for (const name of ['form-desktop.png', 'form-phone.png']) {
      check(`docs/${name} in the archive shows the form as served here`, pngText(path.join(site, '..', 'docs', name), 'vexorin-form') === stamp,
            'if the form changed: copy this run\'s pictures to docs/ (docs/developing.md says how)');
    }
  }
  console.log(`     ${host.runs} page runs`);
} catch (error) {
  console.log(`FAIL the walk stopped: ${error.message}`);
  status = 1;
} finally {
  clearTimeout(hang);
  for (const { context, profile } of launched) {
    await context.close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  }
  await host.stop();
}
if (failures > 0) console.log(`${failures} check(s) failed`);
else if (status === 0) console.log('all checks passed');
process.exit(failures > 0 || status !== 0 ? 1 : 0);

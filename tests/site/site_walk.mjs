// The example site walked in Debian's headless chromium as a visitor would, its pages run by the
// test host (site_host.mjs) under Wine with the registered DLL: the form's picture decoded, its
// listen control loaded, the widget solving on its own; the right number (read from the host's
// session store) thanks the visitor, a wrong one says so, five wrong lock the session, a missing
// widget file asks to try again; and at a name other than localhost over plain HTTP, what the
// visitor sees. Prints ok/FAIL lines; exit status 0 only when every check held.
// usage: node site_walk.mjs SITE_DIR LOADER CSCRIPT [--timeout SECONDS]
//   SITE_DIR: the unpacked release's examples directory; LOADER and CSCRIPT: the Wine loader and the
//   cscript.exe of the bitness to walk with (WINEPREFIX and the like set by the caller).
// The timeout only ends a hang: every wait is for an event, never a budget a step must fit in.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { SiteHost } from './site_host.mjs';

const args = process.argv.slice(2);
const timeoutAt = args.indexOf('--timeout');
const timeoutSeconds = timeoutAt >= 0 ? Number(args.splice(timeoutAt, 2)[1]) : 1800;
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
async function browser(extraFlags = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexorin-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: false, args: [...flags, ...extraFlags],
    timeout: wait,
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
  await tab.waitForFunction(() => {
    const img = document.querySelector('img');
    return img && img.complete;
  });
  const picture = await tab.evaluate(() => ({ width: document.querySelector('img').naturalWidth,
                                              height: document.querySelector('img').naturalHeight }));
  return { tab, picture };
}
// Waits until the widget verified or failed; answers its last state.
async function widgetOutcome(tab) {
  await tab.waitForFunction(() => window.widgetStates.some((s) => s === 'verified' || s === 'error' || s === 'expired'));
  return tab.evaluate(() => window.widgetStates[window.widgetStates.length - 1]);
}
async function submit(tab, answer) {
  await tab.fill('input[name="answer"]', answer);
  await Promise.all([tab.waitForNavigation(), tab.click('button[type="submit"]')]);
  return (await tab.textContent('body')).replace(/\s+/g, ' ').trim();
}
const expectedNumber = async (context) => host.session(await cookieOf(context))?.['captcha.answer'];
const THANKS = 'Thank you: the number was right.';
const WRONG = 'That was not the number.';
const LOCKED = 'Too many wrong answers.';
const AGAIN = 'did not finish the check that runs in the background';

let status = 0;
try {
  // --- A visitor who types the number -----------------------------------------------------------
  const visitor = await browser(['--autoplay-policy=no-user-gesture-required']);
  let { tab, picture } = await openForm(visitor);
  check('the picture is decoded', picture.width > 0 && picture.height > 0, `${picture.width} x ${picture.height}`);
  const sound = await tab.evaluate(() => new Promise((resolve) => {
    const audio = document.querySelector('audio');
    audio.preload = 'auto';
    audio.addEventListener('loadedmetadata', () => resolve({ duration: audio.duration }), { once: true });
    audio.addEventListener('error', () => resolve({ error: audio.error && audio.error.code }), { once: true });
    audio.load();
  }));
  check('the listen control loads the spoken number', sound.duration > 1, JSON.stringify(sound));
  let state = await widgetOutcome(tab);
  check('the widget solves the challenge on its own, on load', state === 'verified', `states: ${await tab.evaluate(() => window.widgetStates.join(' '))}`);
  const number = await expectedNumber(visitor);
  check('the host\'s session holds the number of the picture', /^[0-9]{6}$/.test(number || ''), String(number));
  let text = await submit(tab, number || '');
  check('the right number: the thank-you page', text.includes(THANKS), text);

  // --- Wrong numbers, then the lock --------------------------------------------------------------
  for (let attempt = 1; attempt <= 5; attempt += 1) {
    ({ tab } = await openForm(visitor));
    state = await widgetOutcome(tab);
    const right = await expectedNumber(visitor);
    text = await submit(tab, right === '000000' ? '111111' : '000000');
    check(`wrong number ${attempt}: the wrong-number message (widget ${state})`, state === 'verified' && text.includes(WRONG), text);
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
    text = await submit(tab, (await expectedNumber(other)) || '');
    check('the right number without the widget: the try-again message, not "wrong number"', text.includes(AGAIN) && !text.includes(WRONG), text);
  } finally {
    fs.renameSync(`${widgetFile}.away`, widgetFile);
  }

  // --- A name other than localhost over plain HTTP -----------------------------------------------
  const remote = await browser([`--host-resolver-rules=MAP www.example.test 127.0.0.1`]);
  const consoleLines = [];
  remote.on('console', (message) => consoleLines.push(message.text()));
  ({ tab } = await openForm(remote, `http://www.example.test:${host.port}`));
  check('at http://www.example.test the picture still shows', (await tab.evaluate(() => document.querySelector('img').naturalWidth)) > 0);
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
  const stayed = validity.valid === false && validity.inWidget;
  check('  and the form cannot be sent: the widget holds it back', stayed);
  const readme = fs.readFileSync(path.join(site, '..', 'README.md'), 'utf8').replace(/\s+/g, ' ');
  check('the README says what a visitor sees there', failed !== null && readme.includes(failed[0]) &&
        readme.includes('Secure context (HTTPS) required.') && readme.includes(validity.message));
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

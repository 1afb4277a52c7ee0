// The page end to end in headless Chromium (puppeteer-core), each row in a page of its own, all at once.
// Web MIDI is the browser's own, or a test-side implementation with the emulated device behind it
// (emulated-midi.js, put in before the page's scripts run). Needs a build with real (made-up) images for the
// Web MIDI rows; the demo rows run on any build.
// Run: VELMORA_WEB_DIR=build-web/web node --no-experimental-fetch --test web/tests/browser.test.js
// VELMORA_SCREENSHOTS=docs/images also writes the pictures of the page mid-update there.
'use strict';
const { describe, test, before, after } = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');

const dir = path.resolve(process.env.VELMORA_WEB_DIR || 'build-web/web');
const shots = process.env.VELMORA_SCREENSHOTS || fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-shots-'));
fs.mkdirSync(shots, { recursive: true });
const fakeMidi = fs.readFileSync(path.join(__dirname, 'emulated-midi.js'), 'utf8');
const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const COMPLETED = { en: 'Version update completed.', ja: null };
const LIMIT = 150000;  // an unplugged device ends after the core's resends, about 70 s

let server;
let origin;
let browser;

function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
}

before(async () => {
  const { serveFolder } = require('../serve.js');
  server = http.createServer(serveFolder(dir));
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  origin = `http://localhost:${server.address().port}`;
  browser = await launch();
});

after(async () => {
  await browser.close();
  server.close();
});

// A page of the updater; `midi` installs the test-side Web MIDI first, `grant` lets the page use MIDI.
async function open({ query = '', lang = 'en', midi = null, grant = true, at = origin }) {
  // A context of its own: permissions granted to one row are not another's.
  const context = await browser.createBrowserContext();
  if (grant) {
    await context.overridePermissions(at, ['midi', 'midi-sysex']);  // CDP Browser.grantPermissions
  }
  const page = await context.newPage();
  // The browser's language, as navigator.languages reports it to the page.
  const cdp = await page.createCDPSession();
  await cdp.send('Emulation.setUserAgentOverride', { userAgent: await browser.userAgent(),
    acceptLanguage: lang === 'ja' ? 'ja-JP,ja' : 'en-US,en' });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  if (midi) {
    await page.evaluateOnNewDocument(`${fakeMidi}\ninstallEmulatedMidi(navigator, null, ${JSON.stringify(midi)});`);
  }
  await page.goto(`${at}/${query}`);
  await page.waitForSelector('body[data-ready]', { timeout: 30000 });
  return { page, errors };
}

const read = (page) => page.evaluate(() => ({
  status: document.getElementById('status').textContent,
  step: document.getElementById('stepCounter').textContent,
  notice: document.getElementById('notice').hidden ? '' : document.getElementById('notice').textContent,
  error: document.getElementById('errorBox').hidden ? '' : document.getElementById('errorText').textContent,
  running: document.getElementById('rescan').disabled,
  rate: document.getElementById('rate').textContent,
  inputs: [...document.getElementById('midiIn').options].map((o) => o.text),
}));

async function until(page, done, what) {
  const deadline = Date.now() + LIMIT;
  for (;;) {
    const state = await read(page);
    if (done(state)) return state;
    assert.ok(Date.now() < deadline, `${what}: still ${JSON.stringify(state)}`);
    await new Promise((r) => setTimeout(r, 250));
  }
}

// Execute, then the end: an error box is read and dismissed, as a user does, before the controls come back.
async function runToEnd(page) {
  await page.click('#execute');
  await until(page, (s) => s.running, 'the update starts');
  const end = await until(page, (s) => !s.running || s.error, 'the update ends');
  if (end.error) {
    await page.click('#errorOk');
    Object.assign(end, await until(page, (s) => !s.running, 'the controls come back'), { error: end.error });
  }
  return end;
}

// axe-core's rules over the page as it is now (every control named, the progress bar's value).
async function axe(page) {
  await page.evaluate(axeSource);  // as the inspector runs it: the page's policy admits no other script
  const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target.join(' ')).join(', ')}`);
}

// Every row at once: most of the time is the protocol's own waiting.
describe('the page', { concurrency: true }, () => {
const webMidiRows = [
  { name: 'a whole update over Web MIDI completes and the flash holds the plan', midi: { timeScale: 0 },
    check: (end, verdict) => {
      assert.strictEqual(end.status, COMPLETED.en);
      assert.strictEqual(verdict.holdsPlan, true, verdict.summary);
    } },
  { name: 'a refused block is sent again and the update completes', midi: { scenario: 'refuse-block=5:2',
    timeScale: 0 }, check: (end, verdict) => {
      assert.strictEqual(end.status, COMPLETED.en);
      assert.ok(verdict.blockResends >= 2, JSON.stringify(verdict));
      assert.strictEqual(verdict.holdsPlan, true, verdict.summary);
    } },
  { name: 'a device unplugged mid-update ends in an error and leaves the lists, never a hang',
    midi: { timeScale: 0, unplugAfter: 60 }, check: (end, verdict) => {
      assert.strictEqual(end.error, 'Time out error(2)');
      assert.deepStrictEqual(end.inputs, [], 'the unplugged port is gone from the lists');
      assert.strictEqual(verdict.holdsPlan, false);
    } },
];

for (const row of webMidiRows) {
  test(row.name, async (t) => {
    const { page, errors } = await open({ midi: row.midi });
    if ((await read(page)).notice.includes('stand-in')) return t.skip('a stand-in build offers only the demo');
    assert.deepStrictEqual((await read(page)).inputs, ['Velmora'], 'the emulated ports are listed');
    const end = await runToEnd(page);
    row.check(end, await page.evaluate(() => window.velmoraTestAccess.verdict()));
    assert.deepStrictEqual(errors, []);
    await page.browserContext().close();
  });
}

// Pre-selection would take the new port (the last with an accepted name): the selection must stay.
test('a port that comes is listed, the selection stays on its port', async (t) => {
  const { page } = await open({ midi: { timeScale: 0 } });
  if ((await read(page)).notice.includes('stand-in')) return t.skip('a stand-in build offers only the demo');
  await page.evaluate(() => window.velmoraTestAccess.plugIn('USB Audio Device'));
  const state = await until(page, (s) => s.inputs.length === 2, 'the new port listed');
  assert.deepStrictEqual(state.inputs, ['Velmora', 'USB Audio Device']);
  const selected = await page.evaluate(() => ['midiIn', 'midiOut'].map((id) => {
    const list = document.getElementById(id);
    return list.options[list.selectedIndex].text;
  }));
  assert.deepStrictEqual(selected, ['Velmora', 'Velmora']);
  await page.browserContext().close();
});

test('permission refused: the page says what to do', async () => {
  const { page } = await open({ midi: { granted: false }, grant: false });
  await page.click('#rescan');
  const state = await until(page, (s) => s.notice.includes('refused') || s.notice.includes('stand-in'), 'a notice');
  if (!state.notice.includes('stand-in')) assert.match(state.notice, /MIDI access was refused/);
  await page.browserContext().close();
});

test('Chromium\'s own Web MIDI on a machine without sound devices: its error shown, no hang', async (t) => {
  const { page } = await open({});
  const state = await read(page);
  if (state.notice.includes('stand-in')) return t.skip('a stand-in build offers only the demo');
  if (state.inputs.length > 0) return t.skip('this machine has MIDI ports');
  assert.match(state.notice, /could not reach the computer's MIDI system: .+/);
  await page.browserContext().close();
});

test('a host that sends no isolation headers: the service worker supplies them and the page starts', async () => {
  const { serveFolder } = require('../serve.js');
  const bare = http.createServer(serveFolder(dir, { isolate: false }));
  await new Promise((r) => bare.listen(0, '127.0.0.1', r));
  const { page } = await open({ query: '?demo', at: `http://localhost:${bare.address().port}` });
  assert.strictEqual(await page.evaluate(() => window.crossOriginIsolated), true);
  assert.deepStrictEqual((await read(page)).inputs, ['Velmora']);
  await page.browserContext().close();
  bare.close();
});

test('a demo scenario the emulator refuses is named on the page, not a dead page', async () => {
  const { page } = await open({ query: '?demo=refuse-block=x' });
  const state = await read(page);
  assert.match(state.notice, /refuse-block/);
  assert.deepStrictEqual(state.inputs, []);
  await page.browserContext().close();
});

for (const lang of ['en', 'ja']) {
  test(`the demo (${lang}): mid-update picture, axe-core finds nothing, the update completes`, async () => {
    const { page, errors } = await open({ query: '?demo', lang });
    await page.setViewport({ width: 720, height: 560 });
    assert.deepStrictEqual(await axe(page), [], 'at rest');
    await page.click('#execute');
    // A third into the largest image: the bar shows where the run is.
    const third = (s) => { const m = /(\d+) \/ (\d+)/.exec(s.status); return m && 3 * m[1] > m[2]; };
    await until(page, (s) => s.step.startsWith('8/') && third(s), 'the big image a third written');
    await page.screenshot({ path: path.join(shots, `web-updater-${lang}.png`) });
    // The rate and time left as velmora-flash reckons them: the write's rate, a time once writes were seen.
    const rate = lang === 'en' ? /^\d+\.\d KiB\/s  \d+:\d\d left$/ : /^\d+\.\d KiB\/秒  残り \d+:\d\d$/;
    assert.match((await read(page)).rate, rate);
    assert.deepStrictEqual(await axe(page), [], 'mid-update');
    const end = await until(page, (s) => !s.running || s.error, 'the update ends');
    if (lang === 'en') assert.strictEqual(end.status, COMPLETED.en);
    else assert.strictEqual(end.status, 'バージョンアップデートが完了しました。');
    assert.strictEqual(end.error, '');
    assert.deepStrictEqual(errors, []);
    await page.browserContext().close();
  });
}
});

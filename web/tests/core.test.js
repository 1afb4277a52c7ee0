// The core in WebAssembly, over the Web MIDI driver, against the emulated device behind a test-side Web MIDI
// implementation. Run: VELMORA_WEB_DIR=build/web node --no-experimental-fetch --test web/tests/
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert');
const path = require('node:path');
const { VelmoraGlue } = require('../velmora-glue.js');
const { EmulatedMidiAccess } = require('./emulated-midi.js');

const dir = path.resolve(process.env.VELMORA_WEB_DIR || 'build-web/web');
const createVelmora = require(path.join(dir, 'velmora.js'));
const SCALE = 0.2;  // host and device times shrink together: a 30 s wait costs 6 s

let host;
let device;
before(async () => {
  [host, device] = await Promise.all([createVelmora(), createVelmora()]);
});
after(() => {
  for (const m of [host, device]) m.PThread.terminateAllThreads();
});

// A view that records what the page would show; an error is dismissed the way a user clicks OK.
function recorder(glue) {
  const seen = { status: [], errors: [], steps: [], repeats: 0, lastPos: 0, high: 0 };
  return {
    seen,
    status: (t) => seen.status.push(t),
    step: (t) => seen.steps.push(t),
    range: (lo, hi) => { seen.high = hi; },
    position: (p) => { seen.lastPos = p; },
    enable: () => {},
    error: (t) => { seen.errors.push(t); setTimeout(() => glue().dismissError(), 1); },
    selected: (input) => glue().preselect(input),
    repeated: () => { seen.repeats += 1; },
    portsChanged: () => {},
  };
}

async function runUpdate({ scenario = '', unplugAfter = 0, language = 'en' }) {
  let glue;
  const view = recorder(() => glue);
  glue = new VelmoraGlue(host, view);
  glue.start({ language, timeScale: SCALE });
  // No link time: the rows test the pairing of answers, not the wire (the benchmark runs the usb link).
  const access = new EmulatedMidiAccess(device, { scenario: ['link=none', scenario].filter(Boolean).join(','),
    timeScale: SCALE, unplugAfter });
  glue.attachMidi(access);
  glue.execute();
  const deadline = Date.now() + 60000;
  while (glue.busy()) {
    assert.ok(Date.now() < deadline, 'the update hangs');
    await new Promise((r) => setTimeout(r, 10));
  }
  return { result: glue.lastResult(), seen: view.seen, verdict: access.verdict(), glue };
}

// Stand-in images may go only to the emulated device in the page, not over Web MIDI: these rows need a build
// with VELMORA_FIRMWARE_DIR (.ci/web makes one).
const rows = [
  { name: 'a whole update completes and the flash holds the plan', scenario: '', result: 'completed' },
  { name: 'a refused block is sent again, not charged as a failure', scenario: 'refuse-block=5:2',
    result: 'completed', resends: 2 },
  { name: 'a lost answer ends in a resend, not a hang or a wrong flash', scenario: 'drop-block=3:1',
    result: 'completed', resends: 1 },
  { name: 'a late answer is its own block\'s, and the next block\'s refusal is retried',
    scenario: 'late-block=4:1500,refuse-block=5:1', result: 'completed', resends: 1 },
  { name: 'a wrong model is refused before anything is written', scenario: 'model=0x61', result: 'failed',
    error: 'Illegal device connected.', untouched: true },
  // Every send of the block fails and counts as unanswered: the core gives up after its resends.
  { name: 'a device unplugged mid-update ends in a failure, not a hang', scenario: '', unplugAfter: 40,
    result: 'failed', error: 'Time out error(2)' },
];

const standIn = () => new VelmoraGlue(host, recorder(() => null)).standInImages();

test('a build with stand-in images refuses Web MIDI ports before sending a byte', async (t) => {
  if (!standIn()) return t.skip('this build carries real images');
  const { result, seen, verdict } = await runUpdate({});
  assert.strictEqual(result, 'failed');
  assert.deepStrictEqual(seen.errors,
    ['This build carries stand-in firmware images: it can update only the emulated device.']);
  assert.strictEqual(verdict.received, 0);
});

for (const row of rows) {
  test(row.name, async (t) => {
    if (standIn()) return t.skip('stand-in images go only to the emulated device');
    const { result, seen, verdict } = await runUpdate(row);
    assert.strictEqual(result, row.result, `errors: ${seen.errors.join(' | ')}`);
    if (row.result === 'completed') {
      assert.strictEqual(verdict.holdsPlan, true, verdict.summary);
      assert.strictEqual(seen.status.at(-1), 'Version update completed.');
      assert.deepStrictEqual(seen.errors, []);
    } else {
      assert.deepStrictEqual(seen.errors, [row.error]);
      assert.strictEqual(verdict.holdsPlan, false);
    }
    if (row.resends) assert.ok(verdict.blockResends >= row.resends, JSON.stringify(verdict));
    if (row.untouched) assert.strictEqual(verdict.blocks, 0);
  });
}

test('Japanese: the texts come from the same catalogue', async (t) => {
  if (standIn()) return t.skip('stand-in images go only to the emulated device');
  const { result, seen, glue } = await runUpdate({ language: 'ja' });
  assert.strictEqual(result, 'completed');
  const done = glue.tr('Texts', 'Version update completed.');
  assert.notStrictEqual(done, 'Version update completed.');
  assert.strictEqual(seen.status.at(-1), done);
});

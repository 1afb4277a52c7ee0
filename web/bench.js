// The web updater beside velmora-flash, in one invocation: whole updates of the emulated device on the usb
// link model and with no link time, the page in headless Chromium (?demo) and velmora-flash natively; the
// page's size and the time from opening it to its ports listed. Prints figures; judges nothing.
// Usage: node web/bench.js [WEB_DIR] [VELMORA_FLASH]   (build-web/web and build/cli/velmora-flash)
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const puppeteer = require('puppeteer-core');
const { serveFolder } = require('./serve.js');

const webDir = path.resolve(process.argv[2] || 'build-web/web');
const flash = path.resolve(process.argv[3] || 'build/cli/velmora-flash');
// The images' sizes, from the one place they are written down.
const IMAGES = fs.readFileSync(path.join(__dirname, '..', 'firmware', 'CMakeLists.txt'), 'utf8')
  .match(/set\(velmora_firmware_images ([^)]*)\)/)[1].split(/\s+/).map((entry) => Number(entry.split(':')[1]));
const BLOCKS = IMAGES.reduce((sum, bytes) => sum + Math.ceil(bytes / 4096), 0);
// The emulated device's own time with no link: its flash (emulator/CEmulatedDevice.h FlashTimes: 12 ms per
// 4 KiB sector erased, 8 ms per block programmed) over the plan's erases (update/FlashPlan.h). What a run
// takes beyond it is the host's.
const ERASED_SECTORS = (0x1000 + 0x4000 + 0x23000 + 0x397000) / 4096;
const DEVICE_SECONDS = ERASED_SECTORS * 0.012 + BLOCKS * 0.008;
const imageBytes = () => IMAGES.reduce((sum, bytes) => sum + bytes, 0);

// Bytes of a .wasm outside its data section, where the images are (the linker leaves out zero runs of the
// data, so "size less the images" would undercount for images with zero stretches).
function wasmOutsideData(file) {
  const bytes = fs.readFileSync(file);
  let at = 8;
  let data = 0;
  while (at < bytes.length) {
    const id = bytes[at++];
    let size = 0;
    for (let shift = 0; ; shift += 7) {
      const b = bytes[at++];
      size += (b & 0x7f) * 2 ** shift;
      if (b < 0x80) break;
    }
    if (id === 11) data += size;
    at += size;
  }
  return { code: bytes.length - data, data };
}

function native(scenario) {
  const start = process.hrtime.bigint();
  execFileSync(flash, [`--emulate=${scenario}`], { stdio: 'ignore' });
  return Number(process.hrtime.bigint() - start) / 1e9;
}

async function page(browser, origin, scenario) {
  const context = await browser.createBrowserContext();
  const tab = await context.newPage();
  const opened = performance.now();
  await tab.goto(`${origin}/?demo=${scenario}`);
  await tab.waitForFunction(() => document.getElementById('midiIn').options.length > 0, { timeout: 30000 });
  const listed = (performance.now() - opened) / 1000;
  const start = performance.now();
  await tab.click('#execute');
  await tab.waitForFunction(() => document.getElementById('rescan').disabled, { timeout: 10000 });
  await tab.waitForFunction(() => !document.getElementById('rescan').disabled, { timeout: 300000, polling: 20 });
  const seconds = (performance.now() - start) / 1000;
  const status = await tab.$eval('#status', (e) => e.textContent);
  await context.close();
  if (status !== 'Version update completed.') throw new Error(`the page's update ended: ${status}`);
  return { seconds, listed };
}

(async () => {
  const server = http.createServer(serveFolder(webDir));
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  const origin = `http://localhost:${server.address().port}`;
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-bench-')),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', '--no-first-run'],
  });
  try {
    const size = (f) => fs.statSync(path.join(webDir, f)).size;
    const { code: wasm, data } = wasmOutsideData(path.join(webDir, 'velmora.wasm'));
    const js = size('velmora.js') + size('velmora.worker.js');
    const rest = fs.readdirSync(webDir).filter((f) => /\.(html|css|png)$|^velmora-(glue|page)\.js$/.test(f))
      .reduce((sum, f) => sum + size(f), 0);
    console.log(`page size: wasm ${(size('velmora.wasm') / 1024).toFixed(0)} KiB, of which data (images ` +
      `${(imageBytes() / 1024).toFixed(0)} KiB before packing) ${(data / 1024).toFixed(0)} KiB and code ` +
      `${(wasm / 1024).toFixed(0)} KiB; js ${(js / 1024).toFixed(0)} KiB,` +
      ` rest ${(rest / 1024).toFixed(0)} KiB; code ${((wasm + js) / 1048576).toFixed(2)} MiB`);

    for (const [scenario, what] of [['link=usb', 'usb link'], ['link=none', 'no link time']]) {
      const n = native(scenario);
      const p = await page(browser, origin, scenario);
      console.log(`${what}: native ${n.toFixed(2)} s, page ${p.seconds.toFixed(2)} s, page/native ` +
        `${(p.seconds / n).toFixed(3)}; page open to ports listed ${(p.listed * 1000).toFixed(0)} ms`);
      if (scenario === 'link=none') {
        const host = (seconds) => (1000 * (seconds - DEVICE_SECONDS)) / BLOCKS;
        console.log(`  host time per block (run less the device's ${DEVICE_SECONDS.toFixed(2)} s): native ` +
          `${host(n).toFixed(2)} ms, page ${host(p.seconds).toFixed(2)} ms, page/native ` +
          `${(host(p.seconds) / host(n)).toFixed(2)}`);
      }
    }
  } finally {
    await browser.close();
    server.close();
  }
})().catch((e) => {
  console.error(e);
  process.exit(1);
});

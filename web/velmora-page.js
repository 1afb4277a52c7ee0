// The page's controls over the core (through VelmoraGlue): the same dialog, its texts from the catalogue.
// Query: ?demo or ?demo=SCENARIO puts the emulated device into the port lists.
(async function () {
  'use strict';
  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  const demo = params.has('demo') ? params.get('demo') : null;
  const wanted = (navigator.languages && navigator.languages[0]) || navigator.language || 'en';
  const language = wanted.toLowerCase().startsWith('ja') ? 'ja' : 'en';

  function notice(text, demoLink) {
    const box = $('notice');
    box.textContent = text;
    if (demoLink) {
      const a = document.createElement('a');
      a.href = '?demo';
      a.textContent = demoLink;
      box.append(' ', a);
    }
    box.hidden = false;
  }

  if (!window.crossOriginIsolated) {
    // The core's threads share memory, which browsers give only to secure pages served with COOP and COEP.
    // A host that sends neither gets them from velmora-sw.js, after one reload.
    if (window.isSecureContext && navigator.serviceWorker && !sessionStorage.getItem('velmora-sw')) {
      sessionStorage.setItem('velmora-sw', 'tried');
      try {
        await navigator.serviceWorker.register('velmora-sw.js');
        await navigator.serviceWorker.ready;
        location.reload();
        return;
      } catch (e) {
        // no service worker to be had: say what the host must do
      }
    }
    // Without isolation the catalogue (inside the module) cannot load either: these two stay English.
    notice(!window.isSecureContext
      ? 'Web MIDI works only in a secure context: open this page from https:// or http://localhost.'
      : 'This page must be served with the headers Cross-Origin-Opener-Policy: same-origin and ' +
        'Cross-Origin-Embedder-Policy: require-corp (web/serve.js does).');
    return;
  }

  const module = await createVelmora();
  let glue = null;
  let texts = {};
  let running = false;
  let wakeLock = null;

  const lists = { true: $('midiIn'), false: $('midiOut') };
  const view = {
    status: (t) => { $('status').textContent = t; },
    step: (t) => { $('stepCounter').textContent = t; },
    range: (lo, hi) => { $('progress').max = Math.max(1, hi - lo); $('progress').value = 0; },
    position: (p) => { $('progress').value = p; },
    enable: (control, on) => {
      $(control).disabled = !on;
      if (control === 'rescan') setRunning(!on);  // Execute stays off after a completed update
    },
    error: (t) => {
      $('errorText').textContent = t;
      $('errorBox').hidden = false;
      $('errorOk').focus();
    },
    selected: (input) => lists[input].selectedIndex,
    rate: (t) => { $('rate').textContent = t; },
    portsChanged: () => populate(true, false),
  };

  function leaveGuard(event) {
    event.preventDefault();
    event.returnValue = '';
  }

  async function setRunning(on) {
    if (on === running) return;
    running = on;
    $('dialog').setAttribute('aria-busy', on ? 'true' : 'false');
    if (on) {
      $('rate').textContent = '';
      window.addEventListener('beforeunload', leaveGuard);
      try { wakeLock = navigator.wakeLock ? await navigator.wakeLock.request('screen') : null; } catch (e) { wakeLock = null; }
    } else {
      window.removeEventListener('beforeunload', leaveGuard);
      if (wakeLock) wakeLock.release().catch(() => {});
      wakeLock = null;
    }
  }

  // The lists from the driver: the selection kept where its port is still there, otherwise pre-selected by
  // the same rule as the dialog's.
  function populate(keep, enable = true) {
    for (const input of [true, false]) {
      const list = lists[input];
      const before = keep && list.selectedIndex >= 0 ? list.options[list.selectedIndex].text : null;
      const names = glue.ports(input);
      list.replaceChildren(...names.map((name) => new Option(name)));
      const kept = before === null ? -1 : names.indexOf(before);
      list.selectedIndex = kept >= 0 ? kept : glue.preselect(input);
    }
    const none = lists[true].selectedIndex < 0 || lists[false].selectedIndex < 0;
    if (none || (enable && !running)) $('execute').disabled = none;
  }

  let access = null;
  async function askForMidi() {
    try {
      access = await navigator.requestMIDIAccess({ sysex: true });
    } catch (e) {
      const permission = e && (e.name === 'NotAllowedError' || e.name === 'SecurityError');
      notice(permission ? texts.refused : texts.noMidiSystem.replace('%1', (e && e.message) || String(e)));
      return;
    }
    $('notice').hidden = true;
    glue.attachMidi(access);
    populate(false);
  }

  glue = new VelmoraGlue(module, view);
  try {
    glue.start({ language, demo });
  } catch (e) {
    notice(e.message);  // a demo scenario the emulator refuses, named with the offending key
    document.body.dataset.ready = 'true';
    return;
  }
  texts = glue.pageTexts();
  document.documentElement.lang = language;
  document.title = texts.title;
  $('title').textContent = texts.title;
  for (const id of ['midiIn', 'midiOut', 'rescan', 'execute', 'aboutCaption', 'errorCaption']) {
    const label = id === 'midiIn' || id === 'midiOut' ? $(`${id}Label`) : $(id);
    label.textContent = texts[id];
  }
  $('errorOk').textContent = texts.ok;
  $('progress').setAttribute('aria-label', texts.progress);
  $('aboutText').textContent = `${texts.title}  ${texts.aboutVersion}${texts.version}. ${texts.aboutLine}` +
    (glue.standInImages() ? ` ${texts.aboutStandIns}` : '');

  $('errorOk').addEventListener('click', () => {
    $('errorBox').hidden = true;
    glue.dismissError();
    $('execute').focus();
  });
  $('execute').addEventListener('click', () => glue.execute());
  $('rescan').addEventListener('click', async () => {
    if (demo === null && !access && !glue.standInImages()) await askForMidi();
    else populate(false);
  });
  document.addEventListener('visibilitychange', async () => {
    // The screen lock is given up when the page is hidden; take it again on return.
    if (running && !document.hidden && navigator.wakeLock) {
      try { wakeLock = await navigator.wakeLock.request('screen'); } catch (e) { wakeLock = null; }
    }
  });

  if (demo !== null) {
    notice(texts.demo);
    populate(false);
  } else if (glue.standInImages()) {
    notice(texts.standInRefused, texts.tryDemo);
  } else if (!window.isSecureContext) {
    notice(texts.insecure);
  } else if (!navigator.requestMIDIAccess) {
    notice(texts.noWebMidi);
  } else {
    let granted = false;
    try {
      granted = (await navigator.permissions.query({ name: 'midi', sysex: true })).state === 'granted';
    } catch (e) {
      granted = false;  // a browser that cannot say asks when Rescan Device is pressed
    }
    if (granted) await askForMidi();
    else notice(texts.askFirst);
  }
  $('dialog').setAttribute('aria-busy', 'false');
  document.body.dataset.ready = 'true';
})();

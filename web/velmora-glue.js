// The JavaScript side of the core in WebAssembly, and nothing more: Web MIDI to the core's driver
// (midi/drivers/webmidi), the core's view calls to a page (or a test's recorder), and the catalogue's texts.
// Every protocol decision is the core's. Loaded as a plain script in the page and with require() in node.
(function (root) {
  'use strict';

  const RESULTS = ['none', 'completed', 'failed', 'aborted'];
  // The controls the core enables and disables, by their dialog ids (update/UpdateView.h).
  const CONTROLS = { 1: 'execute', 1000: 'midiIn', 1001: 'midiOut', 1004: 'rescan' };

  class VelmoraGlue {
    // module: an instance of createVelmora(); view: status(text), step(text), range(low, high),
    // position(pos), enable(control, on), error(text), selected(input) -> index, repeated(address, timedOut,
    // count), rate(text): the rate and time left, portsChanged().
    constructor(module, view) {
      this.module = module;
      this.access = null;
      module.velmoraView = {
        status: (t) => view.status(t),
        step: (t) => view.step(t),
        range: (lo, hi) => view.range(lo, hi),
        position: (p) => view.position(p),
        enable: (id, on) => view.enable(CONTROLS[id], on),
        error: (t) => view.error(t),
        selected: (input) => view.selected(input),
        repeated: (a, t, c) => (view.repeated ? view.repeated(a, t, c) : undefined),
        rate: (t) => (view.rate ? view.rate(t) : undefined),
      };
      this.view = view;
      module.velmoraMidi = {
        open: (input, id) => this.openPort(input, id),
        close: (input, id) => this.closePort(input, id),
        send: (id, ptr, len) => this.sendTo(id, ptr, len),
      };
    }

    // A new updater: demo (a scenario text, '' for the default device) runs on the emulated device; null on
    // the Web MIDI ports given to attachMidi(). Throws with the reason for a scenario refused.
    start({ language = 'en', demo = null, timeScale = 1 } = {}) {
      const rc = this.module.ccall('velmora_start', 'number', ['string', 'string', 'number'],
        [language, demo, timeScale]);
      if (rc !== 0) throw new Error(this.text());
      this.reportPorts();
    }

    // Takes the page's MIDIAccess: its ports fill the lists, and every change updates them.
    attachMidi(access) {
      this.access = access;
      access.addEventListener('statechange', () => {
        this.reportPorts();
        this.view.portsChanged();
      });
      this.reportPorts();
    }

    reportPorts() {
      if (!this.access) return;
      for (const [input, map] of [[1, this.access.inputs], [0, this.access.outputs]]) {
        for (const port of map.values()) {
          if (port.state !== 'connected') continue;
          this.module.ccall('velmora_port_add', null, ['number', 'string', 'string'],
            [input, port.id, port.name || '']);
        }
      }
      this.module.ccall('velmora_ports_commit', null, [], []);
    }

    portOf(input, id) {
      if (!this.access) return null;
      const port = (input ? this.access.inputs : this.access.outputs).get(id);
      return port && port.state === 'connected' ? port : null;
    }

    openPort(input, id) {
      const port = this.portOf(input, id);
      if (!port) return -1;
      try {
        if (input) {
          port.onmidimessage = (event) => this.receive(id, event.data);
        } else if (port.open) {
          port.open().catch(() => {});  // a port that cannot open fails its first send
        }
        return 1;
      } catch (e) {
        return 0;
      }
    }

    closePort(input, id) {
      const port = this.access && (input ? this.access.inputs : this.access.outputs).get(id);
      if (!port) return;
      if (input) port.onmidimessage = null;
      if (port.close) port.close().catch(() => {});
    }

    sendTo(id, ptr, len) {
      const port = this.portOf(false, id);
      if (!port) return -1;
      try {
        port.send(this.module.HEAPU8.slice(ptr, ptr + len));  // a copy: Web MIDI refuses shared memory
        return 1;
      } catch (e) {
        return 0;  // InvalidStateError: the device went away
      }
    }

    receive(id, data) {
      if (!data || data.length === 0) return;
      const ptr = this.module._malloc(data.length);
      this.module.HEAPU8.set(data, ptr);
      this.module.ccall('velmora_receive', null, ['string', 'number', 'number'], [id, ptr, data.length]);
      this.module._free(ptr);
    }

    ports(input) {
      const names = [];
      const count = this.module.ccall('velmora_port_count', 'number', ['number'], [input ? 1 : 0]);
      for (let i = 0; i < count; i++) {
        names.push(this.module.ccall('velmora_port_name', 'string', ['number', 'number'], [input ? 1 : 0, i]));
      }
      return names;
    }

    preselect(input) {
      return this.module.ccall('velmora_preselect', 'number', ['number'], [input ? 1 : 0]);
    }

    execute() { this.module.ccall('velmora_execute', null, [], []); }
    busy() { return this.module.ccall('velmora_busy', 'number', [], []) !== 0; }
    dismissError() { this.module.ccall('velmora_dismiss_error', null, [], []); }
    lastResult() { return RESULTS[this.module.ccall('velmora_last_result', 'number', [], [])]; }
    standInImages() { return this.module.ccall('velmora_stand_in_images', 'number', [], []) !== 0; }
    pageTexts() { return JSON.parse(this.module.ccall('velmora_page_texts', 'string', [], [])); }
    demoVerdict() { return JSON.parse(this.module.ccall('velmora_demo_verdict', 'string', [], [])); }
    tr(context, source) {
      return this.module.ccall('velmora_translate', 'string', ['string', 'string'], [context, source]);
    }
    text() { return this.module.ccall('velmora_text', 'string', [], []); }
  }

  const api = { VelmoraGlue };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else Object.assign(root, api);
})(typeof globalThis !== 'undefined' ? globalThis : this);

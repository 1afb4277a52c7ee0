// A test-side Web MIDI implementation: one input and one output named "Velmora" with the emulated device
// behind them, the device running in an instance of the module of its own (velmora_device_* calls). Used by
// the node tests, injected into the page by the browser tests, and by the benchmark. Not part of the page.
(function (root) {
  'use strict';

  // A Web MIDI implementation with an emulated device behind its one input and one output, both named
  // "Velmora": the device runs in its own instance of the module. For tests and the benchmark.
  class EmulatedMidiAccess extends EventTarget {
    constructor(deviceModule, { scenario = '', timeScale = 1, unplugAfter = 0 } = {}) {
      super();
      this.device = deviceModule;
      const rc = deviceModule.ccall('velmora_device_start', 'number', ['string', 'number'], [scenario, timeScale]);
      if (rc !== 0) throw new Error(deviceModule.ccall('velmora_text', 'string', [], []));
      this.sysexEnabled = true;
      const input = new EmulatedPort('input', 'velmora-in');
      const output = new EmulatedPort('output', 'velmora-out');
      let sends = 0;
      output.send = (data) => {
        if (unplugAfter > 0 && ++sends > unplugAfter && output.state === 'connected') this.unplug();
        if (output.state !== 'connected') throw new DOMExceptionLike('InvalidStateError');
        const bytes = Uint8Array.from(data);
        const ptr = deviceModule._malloc(bytes.length);
        deviceModule.HEAPU8.set(bytes, ptr);
        deviceModule.ccall('velmora_device_send', 'number', ['number', 'number'], [ptr, bytes.length]);
        deviceModule._free(ptr);
      };
      deviceModule.velmoraDevice = {
        answer: (bytes) => {
          if (input.state === 'connected' && input.onmidimessage) input.onmidimessage({ data: bytes });
        },
      };
      this.inputs = new Map([[input.id, input]]);
      this.outputs = new Map([[output.id, output]]);
    }

    // The device is unplugged (also after `unplugAfter` messages sent, when given): both ports disconnect, sends throw, the page is told.
    unplug() {
      for (const port of [...this.inputs.values(), ...this.outputs.values()]) port.state = 'disconnected';
      this.dispatchEvent(Object.assign(new Event('statechange'), { port: this.outputs.get('velmora-out') }));
    }

    // Another device's ports appear after the emulated one's, as a hot-plugged device's do.
    plugIn(name) {
      const ports = (type, map) => new Map([...map, [`${name}-${type}`, new EmulatedPort(type, `${name}-${type}`)]]);
      this.inputs = ports('input', this.inputs);
      this.outputs = ports('output', this.outputs);
      for (const port of [this.inputs.get(`${name}-input`), this.outputs.get(`${name}-output`)]) port.name = name;
      this.dispatchEvent(Object.assign(new Event('statechange'), { port: this.inputs.get(`${name}-input`) }));
    }

    verdict() { return JSON.parse(this.device.ccall('velmora_device_verdict', 'string', [], [])); }
  }

  class EmulatedPort {
    constructor(type, id) {
      Object.assign(this, { type, id, name: 'Velmora', manufacturer: 'Velmora', state: 'connected' });
      this.connection = 'closed';
      this.onmidimessage = null;
    }
    open() { this.connection = 'open'; return Promise.resolve(this); }
    close() { this.connection = 'closed'; return Promise.resolve(this); }
  }

  class DOMExceptionLike extends Error {
    constructor(name) { super(name); this.name = name; }
  }

  // navigator.requestMIDIAccess over an emulated device made by createVelmora() when MIDI is first asked
  // for; `granted` false rejects as a refused permission does.
  function installEmulatedMidi(target, createVelmora, options = {}) {
    target.requestMIDIAccess = async (request = {}) => {
      if (options.granted === false) {
        throw Object.assign(new Error('Permission denied'), { name: 'NotAllowedError' });
      }
      if (!request.sysex) throw Object.assign(new Error('SysEx not asked for'), { name: 'NotAllowedError' });
      const factory = typeof createVelmora === 'function' ? createVelmora : root.createVelmora;
      const access = new EmulatedMidiAccess(await factory(options.moduleOptions || {}), options);
      root.velmoraTestAccess = access;
      return access;
    };
  }

  const api = { EmulatedMidiAccess, installEmulatedMidi };
  if (typeof module === 'object' && module.exports) module.exports = api;
  else Object.assign(root, api);
})(typeof globalThis !== 'undefined' ? globalThis : this);

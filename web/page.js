// The page: the window's controls where the window has them, a transport to the
// device (Web Serial, or a WebSocket relay with ?relay=ws://HOST:PORT/), and the
// browser's storage for "_data.ini". Every decision is the core's, in the Worker;
// the page only shows what it is told and forwards clicks, typing and bytes.

// ---- code page 1251 at the page's edge, as the Windows program converts ----
const decoder = new TextDecoder('windows-1251');
const from1251 = (bytes) => decoder.decode(bytes);
const to1251Table = new Map();
for (let b = 0; b < 256; ++b) to1251Table.set(decoder.decode(new Uint8Array([b])), b);
function to1251(text) {
    const out = [];
    for (const ch of text) out.push(to1251Table.has(ch) ? to1251Table.get(ch) : 0x3F);  // '?' as Windows does
    return new Uint8Array(out);
}

// ---- captions the window paints ----
const CAPTIONS = [
    [21, 22, 'caption', 'Name of Port'],
    [21, 42, 'caption', 'Status of Port'],
    [111, 122, 'caption', 'настройка дискретных каналов'],
    [401, 2, 'caption', 'Настройка ТМКР 3170-12 '],
    [701, 2, 'caption', 'Ostrakan field tools'],
    [701, 22, 'caption', 'Версия 1.0.0   Апрель 2019.'],
    [450, 80, 'caption', 'период опроса'],
    [450, 100, 'caption', 'передатчика'],
    [600, 100, 'hint', '[000..999 (0..1440 минут, шаг 6 минут)]'],
    [450, 170, 'caption', 'собственный адрес'],
    [600, 170, 'hint', '[000..255]'],
    [450, 220, 'caption', 'телефон'],
    [450, 240, 'caption', 'приёмника 1 / передатчика'],
    [660, 240, 'hint', '[начинается с 8]'],
    [450, 290, 'caption', 'телефон'],
    [450, 310, 'caption', 'приёмника 2'],
    [550, 310, 'hint', '[начинается с 8]'],
    [450, 360, 'caption', 'телефон'],
    [450, 380, 'caption', 'оператора ТМКР для SMS'],
    [630, 380, 'hint', '[начинается с 8]'],
    [592, 480, 'caption', 'настройка сотового модема'],
    [100, 180, 'caption', 'A'], [250, 180, 'caption', 'A'],
    [140, 180, 'caption', 'T'], [290, 180, 'caption', 'T'],
    [180, 180, 'caption', 'BX'], [330, 180, 'caption', 'BX'],
    [491, 542, 'modem-caption', 'IP Address'], [491, 562, 'modem-caption', 'APN'],
    [491, 582, 'modem-caption', 'User'], [491, 602, 'modem-caption', 'Password'],
];
for (let n = 1; n <= 31; ++n) CAPTIONS.push(n <= 16 ? [75, 200 + 30 * (n - 1), 'caption', String(n)]
                                                    : [225, 200 + 30 * (n - 17), 'caption', String(n)]);
// Names for screen readers, by control id.
const PARAMETER_NAMES = ['период опроса передатчика', 'собственный адрес', 'телефон приёмника 1 / передатчика',
                         'телефон приёмника 2', 'телефон оператора ТМКР для SMS'];
function accessibleName(c) {
    if (c.kind === 'checkbox' && c.id >= 3047 && c.id <= 3139) {
        const k = c.id - 3047;
        return `канал ${k % 31 + 1} ${['A', 'T', 'BX'][Math.floor(k / 31)]}`;
    }
    if (c.id >= 3139 && c.id <= 3143 && c.kind === 'multiline') return PARAMETER_NAMES[c.id - 3139];
    if (c.kind === 'button') {
        if (c.id >= 3144 && c.id <= 3153) return `${c.id < 3149 ? 'Read' : 'Write'} ${PARAMETER_NAMES[(c.id - 3144) % 5]}`;
        if (c.id === 3154 || c.id === 3155) return `${c.id === 3154 ? 'Read' : 'Write'} каналы`;
        return `${c.id === 3030 ? 'Read' : 'Write'} модем`;
    }
    return {3000: 'Name of Port', 3004: 'Status of Port', 3021: 'IP Address', 3022: 'APN', 3023: 'User',
            3027: 'Password', 3003: 'модем Read: состояние', 3002: 'модем Write: состояние'}[c.id] || '';
}

const STATUS_IDS = new Set([3004, 3002, 3003]);
const windowArea = document.getElementById('window');
const notice = document.getElementById('notice');
const elements = [];  // by the core's control index
const controlsById = new Map();

function place(el, x, y, width, height) {
    el.style.left = `${x}px`;
    el.style.top = `${y}px`;
    if (width) el.style.width = `${width}px`;
    if (height) el.style.height = `${height}px`;
}

function say(text) {
    notice.textContent = text;
    notice.hidden = !text;
}

// ---- the Worker ----
const worker = new Worker('worker.js', {type: 'module'});
const SETTINGS_KEY = 'ostrakan:_data.ini';
// localStorage holds strings: one character per byte of the file, so what is
// kept is the file's bytes exactly.
function bytesToStored(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
    return text;
}
const storedToBytes = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));
function storedSettings() {
    try {
        const kept = localStorage.getItem(SETTINGS_KEY);
        return kept === null ? new Uint8Array() : storedToBytes(kept);
    } catch (e) {
        return new Uint8Array();
    }
}
let lastSettings = storedSettings();
worker.postMessage({type: 'start', settings: lastSettings});

function buildControls(controls) {
    for (const [x, y, kind, text] of CAPTIONS) {
        const span = document.createElement('span');
        span.className = kind;
        span.textContent = text;
        span.setAttribute('aria-hidden', 'true');
        place(span, x, y);
        windowArea.appendChild(span);
    }
    controls.forEach((c, index) => {
        let el;
        let target;
        if (c.kind === 'button') {
            el = target = document.createElement('button');
            el.type = 'button';
            el.className = 'push';
            el.textContent = from1251(c.text);
            el.addEventListener('click', () => worker.postMessage({type: 'command', id: c.id}));
        } else if (c.kind === 'checkbox') {
            target = document.createElement('input');
            target.type = 'checkbox';
            target.className = 'box';
            // The window's check boxes do not toggle themselves: the core steps them.
            target.addEventListener('click', (e) => {
                e.preventDefault();
                worker.postMessage({type: 'command', id: c.id});
            });
            if (c.text.length) {
                el = document.createElement('label');
                el.className = 'box-label';
                el.append(target, from1251(c.text));
            } else {
                el = target;
            }
        } else {
            el = target = document.createElement(c.kind === 'multiline' ? 'textarea' : 'input');
            if (c.kind === 'multiline') target.rows = 1;
            else target.type = 'text';
            target.className = 'edit';
            target.spellcheck = false;
            target.autocomplete = 'off';
            if (c.id === 3000 || c.id === 3004) target.classList.add('heavy');
            if (STATUS_IDS.has(c.id)) {
                target.readOnly = true;
                target.classList.add('status');
                target.setAttribute('aria-live', 'polite');
            }
            if (c.id === 3027) target.type = 'password';
            target.value = from1251(c.text);
            target.addEventListener('input', () => {
                // A line break is not text a single-line field holds; the window's edits drop it too.
                if (c.kind === 'multiline' && /[\r\n]/.test(target.value)) target.value = target.value.replace(/[\r\n]/g, '');
                worker.postMessage({type: 'type', index, text: to1251(target.value)});
            });
        }
        target.dataset.ctl = String(c.id);
        const name = accessibleName(c);
        if (name) target.setAttribute('aria-label', name);
        place(el, c.x, c.y, c.kind === 'checkbox' && !c.text.length ? 0 : c.width, c.kind === 'checkbox' && !c.text.length ? 0 : c.height);
        windowArea.appendChild(el);
        elements[index] = target;
        if (c.check) target.checked = true;
        if (!controlsById.has(c.id)) controlsById.set(c.id, target);
    });
    // The page acts on clicks from now on (the tests wait for this mark).
    document.body.dataset.ready = 'true';
}

function applyChanges(changes) {
    for (const ch of changes) {
        const el = elements[ch.index];
        if (!el) continue;
        if (el.type === 'checkbox') el.checked = ch.check !== 0;
        else el.value = from1251(ch.text);
    }
}

let busy = false;
const busyWaiters = [];
worker.onmessage = (e) => {
    const m = e.data;
    switch (m.type) {
    case 'ready': buildControls(m.controls); break;
    case 'changes': applyChanges(m.changes); break;
    case 'send': for (const bytes of m.messages) transport && transport.write(bytes); break;
    case 'close': if (transport) { const t = transport; transport = null; t.close(); } showLink(); break;
    case 'settings':
        lastSettings = m.bytes;
        try {
            localStorage.setItem(SETTINGS_KEY, bytesToStored(m.bytes));
        } catch (err) {
            say('The browser did not keep _data.ini: ' + err.message);
        }
        break;
    case 'busy':
        busy = m.busy;
        if (!busy) busyWaiters.splice(0).forEach((f) => f());
        break;
    case 'profile': profileReplies.get(m.id)?.(m.result); profileReplies.delete(m.id); break;
    }
};

// ---- transports: the same shape for Web Serial and the relay ----
const params = new URLSearchParams(location.search);
const relayAddress = params.get('relay');
let transport = null;
const linkInfo = document.getElementById('link');
function showLink() {
    if (relayAddress) linkInfo.textContent = `Relay: ${relayAddress}`;
    else if (!('serial' in navigator)) linkInfo.textContent = '';
    else linkInfo.textContent = 'Web Serial';
}
showLink();

function isLocalRelay(url) {
    return ['127.0.0.1', '[::1]', '::1', 'localhost'].includes(url.hostname);
}

class RelayTransport {
    constructor(url, events) { this.url = url; this.events = events; this.closing = false; }
    open() {
        return new Promise((resolve, reject) => {
            // websockify's convention: binary messages, the "binary" subprotocol offered.
            const ws = new WebSocket(this.url, ['binary']);
            ws.binaryType = 'arraybuffer';
            const timer = setTimeout(() => { ws.close(); reject(new Error('no answer from the relay')); }, 5000);
            ws.onopen = () => { clearTimeout(timer); this.ws = ws; resolve(); };
            ws.onerror = () => {};
            ws.onclose = () => {
                clearTimeout(timer);
                if (!this.ws) reject(new Error('the relay refused'));
                else if (!this.closing) this.events.lost();
            };
            ws.onmessage = (e) => {
                if (e.data instanceof ArrayBuffer) this.events.bytes(new Uint8Array(e.data));
            };
        });
    }
    write(bytes) { if (this.ws && this.ws.readyState === WebSocket.OPEN) this.ws.send(bytes); }
    close() { this.closing = true; if (this.ws) this.ws.close(); }
}

class SerialTransport {
    constructor(port, events) { this.port = port; this.events = events; this.closing = false; }
    async open() {
        await this.port.open({baudRate: 9600, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none'});
        try {
            await this.port.setSignals({dataTerminalReady: false, requestToSend: false});
        } catch (e) { /* some adapters have no such lines */ }
        this.writer = this.port.writable.getWriter();
        this.onDisconnect = (e) => { if (e.target === this.port || e.port === this.port) this.lose(); };
        navigator.serial.addEventListener('disconnect', this.onDisconnect);
        this.readLoop();
    }
    async readLoop() {
        while (!this.closing && this.port.readable) {
            this.reader = this.port.readable.getReader();
            try {
                for (;;) {
                    const {value, done} = await this.reader.read();
                    if (done) break;
                    if (value && value.length) this.events.bytes(value);
                }
            } catch (e) {
                // Framing, parity, break and overrun errors are recoverable: a new
                // reader goes on. A NetworkError is the device gone.
                if (e.name === 'NetworkError') { this.lose(); return; }
            } finally {
                this.reader.releaseLock();
            }
        }
        if (!this.closing) this.lose();
    }
    lose() {
        if (this.closing) return;
        this.closing = true;
        this.events.lost();
        this.release();
    }
    write(bytes) { this.writer.write(bytes).catch(() => this.lose()); }
    async release() {
        navigator.serial.removeEventListener('disconnect', this.onDisconnect);
        try { await this.reader?.cancel(); } catch (e) { /* already gone */ }
        try { this.writer.releaseLock(); } catch (e) { /* already released */ }
        try { await this.port.close(); } catch (e) { /* already closed */ }
    }
    close() { if (!this.closing) { this.closing = true; this.release(); } }
}

const events = {
    bytes: (bytes) => worker.postMessage({type: 'bytes', bytes}),
    lost: () => { transport = null; worker.postMessage({type: 'lost'}); },
};

async function connect() {
    if (relayAddress) {
        let url;
        try {
            url = new URL(relayAddress);
        } catch (e) {
            say(`The relay address ${relayAddress} is no WebSocket address.`);
            return false;
        }
        if (url.protocol !== 'ws:' && url.protocol !== 'wss:') {
            say(`The relay address ${relayAddress} is no WebSocket address.`);
            return false;
        }
        // A link can carry any relay: one not on this machine is opened only when the user agrees.
        if (!isLocalRelay(url) && !confirm(`Open the unit through the relay at ${url.href}?\n` +
                                           'Everything sent to the unit, the modem password too, goes there.')) {
            return null;
        }
        const t = new RelayTransport(url.href, events);
        try {
            await t.open();
        } catch (e) {
            return false;
        }
        transport = t;
        return true;
    }
    if (!('serial' in navigator)) {
        say('This browser has no Web Serial. Use Chrome, Edge or Opera on a desktop computer, ' +
            'or open this page with ?relay=ws://HOST:PORT/ to reach the unit through a relay.');
        return null;
    }
    let port;
    try {
        const granted = await navigator.serial.getPorts();
        port = granted.length === 1 ? granted[0] : await navigator.serial.requestPort();
    } catch (e) {
        if (e.name === 'NotFoundError') return null;  // the chooser was cancelled: nothing changes
        say(e.message);
        return false;
    }
    const t = new SerialTransport(port, events);
    try {
        await t.open();
    } catch (e) {
        return false;
    }
    transport = t;
    return true;
}

let opening = false;
document.getElementById('open').addEventListener('click', async () => {
    if (opening) return;
    if (transport) {  // already open: the core says so ("Port did't open!")
        worker.postMessage({type: 'open', ready: false});
        return;
    }
    opening = true;
    try {
        const ready = await connect();
        if (ready !== null) worker.postMessage({type: 'open', ready});
    } finally {
        opening = false;
    }
});
document.getElementById('close').addEventListener('click', () => worker.postMessage({type: 'command', id: 32773}));

// ---- _data.ini between the page and the desktop program ----
function download(name, bytes, type) {
    const url = URL.createObjectURL(new Blob([bytes], {type}));
    const a = document.createElement('a');
    a.href = url;
    a.download = name;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
}
document.getElementById('export-ini').addEventListener('click', () => {
    if (!lastSettings.length) say('No _data.ini yet: a successful modem Write makes one.');
    else download('_data.ini', lastSettings, 'application/octet-stream');
});
document.getElementById('import-ini').addEventListener('change', async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (!file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    lastSettings = bytes;
    try {
        localStorage.setItem(SETTINGS_KEY, bytesToStored(bytes));
    } catch (err) {
        say('The browser did not keep _data.ini: ' + err.message);
    }
    worker.postMessage({type: 'import', bytes});
});

// ---- whole-unit profiles (the command-line tool's dump and restore) ----
const profileReplies = new Map();
let profileRequest = 0;
function checkProfile(text) {
    return new Promise((resolve) => {
        const id = ++profileRequest;
        profileReplies.set(id, resolve);
        worker.postMessage({type: 'profile', id, text});
    });
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function run(id) {
    busy = true;
    const done = new Promise((resolve) => busyWaiters.push(resolve));
    worker.postMessage({type: 'command', id});
    await Promise.race([done, sleep(30000)]);
}
const byId = (id) => controlsById.get(id);
const paramEdit = (k) => elements.find((el, i) => el && el.dataset.ctl === String(3139 + k) && el.tagName === 'TEXTAREA');
function typeInto(el, text) {
    el.value = text;
    el.dispatchEvent(new Event('input'));
}
// The profile's names of the five parameters, which are also the names the command-line tool reports.
const PARAMS = ['period', 'address', 'phone1', 'phone2', 'sms'];

async function readUnit(want) {
    const unit = {};
    for (let k = 0; k < 5; ++k) {
        if (want && want.controller?.[PARAMS[k]] === undefined) continue;
        typeInto(paramEdit(k), '');
        await run(3144 + k);
        const text = paramEdit(k).value;
        if (!text) throw new Error(`read ${PARAMS[k]}: no answer`);
        unit[PARAMS[k]] = text;
    }
    if (!want || want.controller?.channels) {
        await run(3154);
        unit.channels = [];
        for (let n = 1; n <= 31; ++n) {
            unit.channels.push({A: byId(3046 + n).checked, T: byId(3077 + n).checked, BX: byId(3108 + n).checked});
        }
    }
    if (!want || want.modem) {
        byId(3003).value = '';
        await run(3030);
        const status = byId(3003).value.trim();
        if (status === 'Error!' || !status) throw new Error('modem read: ' + (status || 'no answer'));
        unit.modemStatus = status;
        unit.ip = byId(3021).value;
        unit.apn = byId(3022).value;
        unit.user = byId(3023).value;
    }
    return unit;
}

function profileOf(unit) {
    const controller = {};
    for (const p of PARAMS) if (unit[p] !== undefined) controller[p] = unit[p];
    if (unit.channels) controller.channels = unit.channels;
    const modem = unit.modemStatus === 'Empty0' || unit.modemStatus === 'Empty9'
        ? {internet: false} : {ip: unit.ip, apn: unit.apn, user: unit.user};
    return {format: 'ostrakan-profile/1', controller, modem};
}

const report = document.getElementById('profile-report');
const reportStatus = document.getElementById('profile-status');
const reportList = document.getElementById('profile-differences');
function showReport(status, differences = []) {
    report.hidden = false;
    reportStatus.textContent = status;
    reportList.replaceChildren(...differences.map((d) => Object.assign(document.createElement('li'), {textContent: d})));
}

document.getElementById('save-profile').addEventListener('click', async () => {
    try {
        showReport('Reading the unit…');
        const checked = await checkProfile(JSON.stringify(profileOf(await readUnit(null))));
        if (checked.error) throw new Error(checked.error);
        download('profile.json', new TextEncoder().encode(checked.profile), 'application/json');
        showReport('Saved profile.json');
    } catch (e) {
        showReport('The profile was not saved: ' + e.message);
    }
});

async function setBox(id, on) {
    if (byId(id).checked !== on) {
        const el = byId(id);
        const changed = new Promise((resolve) => {
            const poll = () => (el.checked === on ? resolve() : setTimeout(poll, 5));
            poll();
        });
        worker.postMessage({type: 'command', id});
        await Promise.race([changed, sleep(2000)]);
    }
}

const shown = (text) => JSON.stringify(text);
async function restore(text) {
    const checked = await checkProfile(text);
    if (checked.error) throw new Error(checked.error);
    const p = JSON.parse(checked.profile);
    const c = p.controller || {};
    const m = p.modem;
    for (let k = 0; k < 5; ++k) {
        if (c[PARAMS[k]] === undefined) continue;
        typeInto(paramEdit(k), c[PARAMS[k]]);
        await run(3149 + k);
    }
    if (c.channels) {
        for (let n = 1; n <= 31; ++n) {
            await setBox(3046 + n, c.channels[n - 1].A);
            await setBox(3077 + n, c.channels[n - 1].T);
            await setBox(3108 + n, c.channels[n - 1].BX);
        }
        await run(3155);
    }
    const withoutInternet = m && m.internet === false;
    const entries = m && !withoutInternet && ['ip', 'apn', 'user', 'password'].some((k) => m[k] !== undefined);
    if (withoutInternet || entries) {
        await setBox(3032, !!withoutInternet);
        if (entries) {
            const ids = {ip: 3021, apn: 3022, user: 3023, password: 3027};
            for (const [k, id] of Object.entries(ids)) if (m[k] !== undefined) typeInto(byId(id), m[k]);
        }
        byId(3002).value = '';
        await run(3031);
        const status = byId(3002).value.trim();
        if (status !== 'Ok!' && status !== 'NoSave') throw new Error('modem write: ' + (status || 'no answer'));
    }
    // Read back, and name each difference as the command-line tool does.
    const got = await readUnit(p);
    const differences = [];
    for (let k = 0; k < 5; ++k) {
        const want = c[PARAMS[k]];
        if (want === undefined || got[PARAMS[k]] === want) continue;
        differences.push(k <= 1 ? `${PARAMS[k]}: wrote ${want}, reads ${got[PARAMS[k]]}`
                                : `${PARAMS[k]}: wrote ${shown(want)}, reads ${shown(got[PARAMS[k]])}`);
    }
    if (c.channels) {
        c.channels.forEach((want, n) => {
            for (const b of ['A', 'T', 'BX']) {
                if (want[b] !== got.channels[n][b]) {
                    differences.push(`channel ${n + 1} ${b}: wrote ${want[b] ? 'on' : 'off'}, reads ${got.channels[n][b] ? 'on' : 'off'}`);
                }
            }
        });
    }
    if (withoutInternet || entries) {
        const empty = got.modemStatus === 'Empty0' || got.modemStatus === 'Empty9';
        if (withoutInternet) {
            if (!empty) differences.push('modem.internet: wrote false, reads an internet profile');
        } else if (empty) {
            differences.push(`modem: wrote an internet profile, reads ${got.modemStatus}`);
        } else {
            for (const k of ['ip', 'apn', 'user']) {
                if (m[k] !== undefined && m[k] !== got[k]) differences.push(`modem.${k}: wrote ${shown(m[k])}, reads ${shown(got[k])}`);
            }
        }
    }
    return differences;
}

document.getElementById('restore-profile').addEventListener('change', async (e) => {
    const file = e.target.files[0];
    e.target.value = '';
    if (!file) return;
    try {
        showReport('Restoring…');
        const differences = await restore(await file.text());
        showReport(differences.length ? `The unit does not hold the profile (${differences.length} difference${differences.length === 1 ? '' : 's'})`
                                      : 'The unit holds the profile.', differences);
    } catch (e2) {
        showReport('The profile was not restored: ' + e2.message);
    }
});

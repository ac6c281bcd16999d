// The page in Debian's Chromium against ostrakan-sim through the WebSocket relay
// (scripts/test-web.sh starts the simulator, socat and the static server). Every
// browser step has a time-out: a step that reached requestPort() would wait forever.
import test from 'node:test';
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {createRequire} from 'node:module';
import {existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync, mkdirSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const env = process.env;
const puppeteer = createRequire(join(env.WEB_TEST_MODULES, 'x.js'))('puppeteer-core');
const outDir = env.WEB_TEST_OUT;
const wsPort = env.RELAY_WS_PORT;
const pageUrl = `${env.WEB_URL}?relay=ws://127.0.0.1:${wsPort}/`;
const figures = {};

let relay = null;
function startRelay() {
    // A process group of its own: websockify serves each connection from a child,
    // and the relay going away means all of them.
    relay = spawn('websockify', [`127.0.0.1:${wsPort}`, `127.0.0.1:${env.RELAY_TCP_PORT}`],
                  {stdio: 'ignore', detached: true});
    return waitFor(async () => {
        try {
            await fetch(`http://127.0.0.1:${wsPort}/`);
            return true;
        } catch (e) {
            return false;
        }
    }, 5000, 'the relay to listen');
}
async function stopRelay() {
    const r = relay;
    relay = null;
    const gone = new Promise((resolve) => r.once('exit', resolve));
    process.kill(-r.pid, 'SIGKILL');
    await gone;
}
async function waitFor(check, ms, what) {
    const end = Date.now() + ms;
    for (;;) {
        if (await check()) return;
        if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
        await new Promise((r) => setTimeout(r, 20));
    }
}
const sel = (id, tag = '') => `${tag}[data-ctl="${id}"]`;
const valueOf = (page, id, tag) => page.$eval(sel(id, tag), (el) => el.value);
// Waits until the control's value, trimmed, equals `text` (or holds it, with `part`).
const waitValue = (page, id, text, ms = 10000, tag = '', part = false) =>
    page.waitForFunction((s, t, p) => {
        const v = document.querySelector(s).value.trim();
        return p ? v.includes(t) : v === t;
    }, {timeout: ms}, sel(id, tag), text, part);
const waitStatus = (page, word, ms = 10000) => waitValue(page, 3004, word, ms, '', true);
async function typeInto(page, id, text, tag = '') {
    await page.$eval(sel(id, tag), (el, t) => {
        el.value = t;
        el.dispatchEvent(new Event('input'));
    }, text);
}
const trace = () => readFileSync(env.SIM_TRACE, 'utf8');

test('the page against ostrakan-sim through the relay', {timeout: 240000}, async (t) => {
    await startRelay();
    const browser = await puppeteer.launch({
        executablePath: env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        userDataDir: mkdtempSync(join(tmpdir(), 'ostrakan-chromium-')),
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'],
        // The hidden-tab timing is measured as a user has it: with the browser's throttling on.
        ignoreDefaultArgs: ['--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows',
                            '--disable-renderer-backgrounding'],
        protocolTimeout: 20000,
    });
    const page = await browser.newPage();
    page.setDefaultTimeout(10000);
    const problems = [];
    page.on('pageerror', (e) => problems.push(e.message));
    page.on('dialog', (d) => { problems.push('unexpected dialog: ' + d.message()); d.dismiss(); });
    // Records when each message leaves for the relay (CDP scripts are not bound by the page's CSP).
    await page.evaluateOnNewDocument(() => {
        window.violations = [];
        document.addEventListener('securitypolicyviolation', (e) => window.violations.push(e.violatedDirective + ' ' + e.blockedURI));
        window.sends = [];
        const send = WebSocket.prototype.send;
        WebSocket.prototype.send = function (data) {
            window.sends.push(performance.now());
            return send.call(this, data);
        };
    });
    try {
        await t.test('loads ready, with every control once', {timeout: 15000}, async () => {
            await page.goto(pageUrl, {waitUntil: 'load'});
            await page.waitForSelector('body[data-ready]');
            figures.readyMs = await page.evaluate(() => performance.now());
            const counts = await page.evaluate(() => {
                const c = {};
                for (const el of document.querySelectorAll('[data-ctl]')) c[el.dataset.ctl] = (c[el.dataset.ctl] || 0) + 1;
                return c;
            });
            const ids = [32772, 32773, 3004, 3021, 3022, 3023, 3027, 3030, 3031, 3032, 3002, 3003, 3154, 3155];
            for (let id = 3140; id <= 3155; ++id) ids.push(id);
            for (let n = 1; n <= 31; ++n) ids.push(3046 + n, 3077 + n, 3108 + n);
            for (const id of ids) assert.equal(counts[id], id === 3139 ? 2 : 1, `data-ctl ${id}`);
            assert.equal(await page.$eval('#link', (el) => el.textContent), `Relay: ws://127.0.0.1:${wsPort}/`);
            // The ready time is a figure (printed at the end, in docs/performance.md), not a pass mark.
        });

        await t.test('Open, then a parameter read and write', {timeout: 30000}, async () => {
            await page.click(sel(32772));
            await waitStatus(page, 'opened');
            await page.click(sel(3144));
            await waitValue(page, 3139, '010', 10000, 'textarea');
            await typeInto(page, 3140, '123');
            await page.click(sel(3150));
            // The write frame for "123" reaches the unit as the window sends it.
            await waitFor(() => trace().includes('RX 0A 21 AA 30 41 54 44 50 31 31 32 33 '), 5000, 'the write frame');
            await new Promise((r) => setTimeout(r, 1200));  // the write's hold time
            await typeInto(page, 3140, '');
            await page.click(sel(3145));
            await waitValue(page, 3140, '123');
        });

        await t.test('channels written and read back', {timeout: 30000}, async () => {
            await page.click(sel(3047));  // channel 1 A
            await page.waitForFunction((s) => document.querySelector(s).checked, {}, sel(3047));
            await page.click(sel(3155));
            await new Promise((r) => setTimeout(r, 2000));
            await page.click(sel(3047));  // unchecked here only
            await page.waitForFunction((s) => !document.querySelector(s).checked, {}, sel(3047));
            await page.click(sel(3154));
            await page.waitForFunction((s) => document.querySelector(s).checked, {timeout: 10000}, sel(3047));
        });

        await t.test('modem write and read with a Cyrillic user', {timeout: 60000}, async () => {
            await typeInto(page, 3021, '10.0.0.7');
            await typeInto(page, 3022, 'internet');
            await typeInto(page, 3023, 'Иван');
            await typeInto(page, 3027, 'secret');
            await page.click(sel(3031));
            await waitValue(page, 3002, 'Ok!', 40000);
            // "Иван" left as code page 1251 bytes.
            const user = trace().split('\n').find((l) => l.includes(' RX ') && l.includes('|AT^SICS=0,"user"'));
            assert.ok(user && user.includes('22 C8 E2 E0 ED 22'), user);
            await typeInto(page, 3023, '');
            await page.click(sel(3030));
            await waitValue(page, 3003, 'Ok!', 20000);
            assert.equal(await valueOf(page, 3023), 'Иван');
        });

        await t.test('a reload restores the entries', {timeout: 15000}, async () => {
            await page.reload({waitUntil: 'load'});
            await page.waitForSelector('body[data-ready]');
            figures.readyAfterReloadMs = await page.evaluate(() => performance.now());
            await waitValue(page, 3023, 'Иван', 5000);
            assert.deepEqual(await Promise.all([3021, 3022, 3027].map((id) => valueOf(page, id))),
                             ['10.0.0.7', 'internet', 'secret']);
        });

        await t.test('every control is reached with the keyboard', {timeout: 30000}, async () => {
            const reached = new Set();
            await page.focus(sel(32772));
            for (let i = 0; i < 140; ++i) {
                reached.add(await page.evaluate(() => document.activeElement.dataset.ctl));
                await page.keyboard.press('Tab');
            }
            const all = await page.$$eval('[data-ctl]', (els) => els.map((el) => el.dataset.ctl));
            assert.deepEqual(all.filter((id) => !reached.has(id)), []);
        });

        const downloads = join(outDir, 'downloads');
        rmSync(downloads, {recursive: true, force: true});
        mkdirSync(downloads, {recursive: true});
        const cdp = await browser.target().createCDPSession();
        await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
        const downloaded = async (name, ms) => {
            await waitFor(() => existsSync(join(downloads, name)), ms, `the download of ${name}`);
            return readFileSync(join(downloads, name));
        };

        await t.test('_data.ini exported as the desktop file, and imported', {timeout: 20000}, async () => {
            await page.click('#export-ini');
            const bytes = await downloaded('_data.ini', 5000);
            assert.equal(bytes.toString('hex'), Buffer.from('10.0.0.7\r\ninternet\r\n\xc8\xe2\xe0\xed\r\nsecret', 'latin1').toString('hex'));
            const other = join(downloads, 'other.ini');
            writeFileSync(other, Buffer.from('10.9.9.9\r\napn2\r\n\xcf\xb8\xf2\xf0\r\npw2', 'latin1'));
            await (await page.$('#import-ini')).uploadFile(other);
            await waitValue(page, 3023, 'Пётр', 5000);
            assert.equal(await valueOf(page, 3021), '10.9.9.9');
            assert.equal(await page.evaluate(() => localStorage.getItem('ostrakan:_data.ini')), '10.9.9.9\r\napn2\r\n\xcf\xb8\xf2\xf0\r\npw2');
        });

        await t.test('a profile saved, then restored with read-back naming the difference', {timeout: 120000}, async () => {
            await page.click(sel(32772));  // the reload closed the port
            await waitStatus(page, 'opened');
            await page.click('#save-profile');
            const saved = JSON.parse((await downloaded('profile.json', 60000)).toString('utf8'));
            assert.equal(saved.format, 'ostrakan-profile/1');
            assert.equal(saved.controller.period, '010');
            assert.equal(saved.controller.channels.length, 31);
            assert.equal(saved.modem.user, 'Иван');
            const profile = {format: 'ostrakan-profile/1',
                             controller: {period: '020', address: '005', sms: '89001234567', channels: saved.controller.channels},
                             modem: {ip: '10.0.0.8', apn: 'internet', user: 'Пётр', password: 'pw'}};
            profile.controller.channels[1].T = !profile.controller.channels[1].T;
            const file = join(downloads, 'restore.json');
            writeFileSync(file, JSON.stringify(profile));
            await (await page.$('#restore-profile')).uploadFile(file);
            await page.waitForFunction(() => /holds|not|does/.test(document.getElementById('profile-status').textContent),
                                       {timeout: 100000, polling: 200});
            const report = await page.$eval('#profile-report', (el) => el.innerText);
            assert.match(report, /does not hold the profile \(1 difference\)/, report);
            assert.match(report, /^sms: wrote "89001234567", reads "/m, report);
            assert.equal(await valueOf(page, 3139, 'textarea'), '020');
            const user = trace().split('\n').filter((l) => l.includes('|AT^SICS=0,"user"')).pop();
            assert.ok(user.includes('22 CF B8 F2 F0 22'), user);  // "Пётр" in 1251
        });

        await t.test('screenshot', {timeout: 15000}, async () => {
            await page.setViewport({width: 1000, height: 800});
            mkdirSync(outDir, {recursive: true});
            await page.screenshot({path: join(outDir, 'page.png'), fullPage: true});
        });

        await t.test('a relay that goes away shows "lost" within 2 s; Open works again', {timeout: 30000}, async () => {
            const start = Date.now();
            await stopRelay();
            await waitStatus(page, 'lost', 2000);
            figures.lostMs = Date.now() - start;
            await startRelay();
            await page.click(sel(32772));
            await waitStatus(page, 'opened', 5000);
            await typeInto(page, 3139, '', 'textarea');
            await page.click(sel(3144));
            await waitValue(page, 3139, '020', 10000, 'textarea');  // as the profile left it
        });

        await t.test('click to request in a hidden tab', {timeout: 60000}, async () => {
            const other = await browser.newPage();
            await other.bringToFront();
            // Polled from here: a hidden page runs no animation frames and its timers once a second.
            await waitFor(() => page.evaluate(() => document.visibilityState === 'hidden'), 5000, 'the tab to hide');
            const delays = [];
            for (let i = 0; i < 15; ++i) {
                const before = await page.evaluate(() => window.sends.length);
                const clickedAt = await page.evaluate((s) => {
                    document.querySelector(s).click();
                    return performance.now();
                }, sel(3144));
                await waitFor(() => page.evaluate((n) => window.sends.length > n, before), 5000, 'the request');
                const sentAt = await page.evaluate((n) => window.sends[n], before);
                delays.push(sentAt - clickedAt);
                await new Promise((r) => setTimeout(r, 900));  // the reply and the quiet period
            }
            delays.sort((a, b) => a - b);
            figures.hiddenClickToRequestMs = {median: delays[7], min: delays[0], max: delays[14]};
            await other.close();
            // A main-thread timer in a hidden tab fires once a second; the Worker's keeps
            // its 54 ms. The bound tells the two apart on a loaded machine; the figure
            // itself is printed, not judged.
            assert.ok(delays[7] < 500, `median ${delays[7]} ms`);
        });
        await t.test('the Web Serial path over a stand-in port bridged to the relay', {timeout: 40000}, async () => {
            // Chromium here has no serial port to give: a stand-in navigator.serial whose
            // port carries the bytes over the relay drives the page's SerialTransport.
            await page.click(sel(32773));  // one connection to the unit at a time
            await waitStatus(page, 'The Port is closed.');
            const sp = await browser.newPage();
            sp.on('pageerror', (e) => problems.push(e.message));
            await sp.evaluateOnNewDocument((url) => {
                let controller = null;
                const fresh = () => new ReadableStream({start: (c) => { controller = c; }});
                const port = {
                    async open(options) {
                        window.serialOptions = options;
                        const ws = new WebSocket(url, ['binary']);
                        ws.binaryType = 'arraybuffer';
                        await new Promise((resolve, reject) => { ws.onopen = resolve; ws.onerror = reject; });
                        this.ws = ws;
                        this.readable = fresh();
                        ws.onmessage = (e) => controller.enqueue(new Uint8Array(e.data));
                        ws.onclose = () => {
                            if (this.closed) return;
                            this.readable = null;
                            controller.error(new DOMException('The device has been lost.', 'NetworkError'));
                        };
                        this.writable = new WritableStream({write: (chunk) => ws.send(chunk)});
                    },
                    async setSignals(signals) { window.serialSignals = signals; },
                    async close() { this.closed = true; this.ws.close(); this.readable = this.writable = null; },
                };
                // A framing error: the stream fails, and the port offers a new one.
                window.framingError = () => {
                    const failing = controller;
                    port.readable = fresh();
                    failing.error(new DOMException('Framing error.', 'FramingError'));
                };
                window.chooserShown = 0;
                const serial = new EventTarget();
                serial.getPorts = async () => (localStorage.getItem('granted') ? [port] : []);
                serial.requestPort = async () => {
                    ++window.chooserShown;
                    if (window.cancelChooser) throw new DOMException('No port selected by the user.', 'NotFoundError');
                    localStorage.setItem('granted', '1');
                    return port;
                };
                Object.defineProperty(Navigator.prototype, 'serial', {get: () => serial, configurable: true});
            }, `ws://127.0.0.1:${wsPort}/`);
            await sp.goto(env.WEB_URL, {waitUntil: 'load'});
            await sp.waitForSelector('body[data-ready]');
            await sp.evaluate(() => { window.cancelChooser = true; });
            await sp.click(sel(32772));
            await waitFor(() => sp.evaluate(() => window.chooserShown === 1), 5000, 'the chooser');
            await new Promise((r) => setTimeout(r, 300));
            assert.equal(await valueOf(sp, 3004), '');  // cancelled: nothing changes
            await sp.evaluate(() => { window.cancelChooser = false; });
            await sp.click(sel(32772));
            await waitStatus(sp, 'opened');
            assert.deepEqual(await sp.evaluate(() => [window.serialOptions, window.serialSignals]),
                             [{baudRate: 9600, dataBits: 8, stopBits: 1, parity: 'none', flowControl: 'none'},
                              {dataTerminalReady: false, requestToSend: false}]);
            await sp.click(sel(3144));
            await waitValue(sp, 3139, '020', 10000, 'textarea');
            await sp.evaluate(() => window.framingError());
            await sp.click(sel(3145));
            await waitValue(sp, 3140, '005', 10000);  // read by the next reader
            await sp.reload({waitUntil: 'load'});
            await sp.waitForSelector('body[data-ready]');
            await sp.click(sel(32772));
            await waitStatus(sp, 'opened');
            assert.equal(await sp.evaluate(() => window.chooserShown), 0);  // the granted port, no chooser
            await stopRelay();
            await waitStatus(sp, 'lost', 2000);
            await startRelay();
            await sp.close();
        });

        await t.test('without Web Serial: a message naming the browsers; a far relay asks first', {timeout: 20000}, async () => {
            const plain = await browser.newPage();
            await plain.evaluateOnNewDocument(() => { delete Navigator.prototype.serial; });
            await plain.goto(env.WEB_URL, {waitUntil: 'load'});
            await plain.waitForSelector('body[data-ready]');
            await plain.click(sel(32772));
            await plain.waitForSelector('#notice:not([hidden])');
            assert.match(await plain.$eval('#notice', (el) => el.textContent), /Chrome, Edge or Opera.*relay/);
            const asked = [];
            plain.on('dialog', (d) => { asked.push(d.message()); d.dismiss(); });
            await plain.evaluateOnNewDocument(() => {
                window.sockets = 0;
                const Real = WebSocket;
                window.WebSocket = function (...a) { ++window.sockets; return new Real(...a); };
            });
            await plain.goto(`${env.WEB_URL}?relay=ws://192.0.2.7:8081/`, {waitUntil: 'load'});
            await plain.waitForSelector('body[data-ready]');
            assert.equal(await plain.$eval('#link', (el) => el.textContent), 'Relay: ws://192.0.2.7:8081/');
            await plain.click(sel(32772));
            await waitFor(() => asked.length > 0, 5000, 'the question');
            assert.match(asked[0], /ws:\/\/192\.0\.2\.7:8081\//);
            assert.equal(await plain.evaluate(() => window.sockets), 0);  // declined: nothing opened
            await plain.close();
        });
        assert.deepEqual(problems, []);
        assert.deepEqual(await page.evaluate(() => window.violations), []);
    } finally {
        writeFileSync(join(outDir, 'figures.json'), JSON.stringify(figures, null, 2) + '\n');
        console.log('figures', JSON.stringify(figures));
        await browser.close().catch(() => {});
        if (relay) await stopRelay();
    }
});

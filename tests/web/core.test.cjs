// The WebAssembly build driven as the page's Worker drives it, with made-up
// instants instead of performance.now(): bytes out through the web line, replies
// pushed in, every tick and quiet period counted in milliseconds.
// Run: node --test tests/web/ (after scripts/build-web.sh).
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const M = require(path.join(__dirname, '../../build/web-build/ostrakan-node.cjs'))();
const latin1 = (bytes) => Buffer.from(bytes).toString('latin1');
const hex = (bytes) => Buffer.from(bytes).toString('hex');
const b = (text) => new Uint8Array(Buffer.from(text, 'latin1'));

// A fresh program opened on a connected transport at 1000 ms (ticks fall at 1054, 1108, ...).
function opened(settings = '') {
    const app = new M.WebApp(1000, b(settings));
    app.transportReady(true);
    app.command(32772, 0);
    return app;
}
const indexOf = (app, id, kind) => {
    for (let i = 0; i < app.controlCount(); ++i) {
        const c = app.control(i);
        if (c.id === id && (!kind || c.kind === kind)) return i;
    }
    return -1;
};
const textOf = (app, id, kind) => latin1(app.control(indexOf(app, id, kind)).text);

// Steps the clock 1 ms at a time from `from` to `to`; `device` answers each sent
// message (its reply arrives `delay` ms later). Returns what was sent, with when.
function drive(app, from, to, device = () => '', delay = 30) {
    const sent = [];
    const pending = [];
    for (let t = from; t <= to; ++t) {
        while (pending.length && pending[0].at <= t) app.receive(b(pending.shift().reply), t);
        app.advance(t);
        for (const m of app.takeOutgoing()) {
            sent.push({t, text: latin1(m), hex: hex(m)});
            const reply = device(latin1(m));
            if (reply) pending.push({at: t + delay, reply});
        }
    }
    return sent;
}

test('a parameter read: the request frame on the wire, the reply decoded after the quiet period', () => {
    const app = opened();
    assert.match(textOf(app, 3004), /The COM1 is opened\./);
    app.command(3145, 0);  // own address, Read
    const reply = '\x0a\x21\xaa\x41\x2a' + '\0'.repeat(7);
    const sent = drive(app, 1000, 2000, (m) => (m.startsWith('\x0a\x21\xaa\x4e\x40') ? reply : ''));
    assert.deepEqual(sent.map((s) => [s.t, s.hex]), [[1108, '0a21aa4e4000000000000000']]);
    assert.equal(textOf(app, 3140), '042');
});

test('every controller button sends the window\'s frame', () => {
    const zeros = '00000000000000';
    const cases = [
        // button, [field id, text] typed first, boxes clicked first, the frame
        [3144, null, [], '0a21aa4e41' + zeros],
        [3145, null, [], '0a21aa4e40' + zeros],
        [3146, null, [], '0a21aa4e30' + zeros],
        [3147, null, [], '0a21aa4e31' + zeros],
        [3148, null, [], '0a21aa4e32' + zeros],
        [3154, null, [], '0a21aa4e42' + zeros],
        [3149, [3139, '120'], [], '0a21aa304154445032313230'],
        [3150, [3140, '007'], [], '0a21aa304154445031303037'],
        [3151, [3141, '89161234567'], [], '0a21aa304154445038393136313233343536370d0a'],
        [3152, [3142, '89'], [], '0a21aa314154445038390d0a'],
        [3153, [3143, '8'], [], '0a21aa3241544450380d0a'],
        // channel 1 A, channel 2 T and BX, channel 31 BX (the box that shares 3139)
        [3155, null, [3047, 3079, 3110, 3139], '0a21aa42' + '01' + '06' + '00'.repeat(28) + '04'],
    ];
    for (const [button, typed, boxes, frame] of cases) {
        const app = opened();
        if (typed) app.type(indexOf(app, typed[0], typed[0] === 3139 ? 'multiline' : undefined), b(typed[1]));
        for (const box of boxes) app.command(box, 0);
        app.command(button, 0);
        const sent = drive(app, 1000, 1200);
        assert.deepEqual(sent.map((x) => x.hex), [frame], `button ${button}`);
    }
});

test('bursts, ticks and late timers in milliseconds', async (t) => {
    const cases = [
        // name, chunks [ms, bytes], when the field must still be empty, when it must show the value
        {name: 'one chunk: classified 200 ms after it, decoded on the next tick', chunks: [[1130, 'all']],
         emptyAt: 1377, shownAt: 1378},
        {name: 'a second chunk 150 ms later restarts the quiet period', chunks: [[1130, 'head'], [1280, 'tail']],
         emptyAt: 1485, shownAt: 1486},
        {name: 'bytes arriving while the burst waits for its tick do not overwrite it',
         chunks: [[1130, 'all'], [1340, 'stray']], emptyAt: 1377, shownAt: 1378},
    ];
    for (const c of cases) {
        await t.test(c.name, () => {
            const app = opened();
            app.command(3145, 0);
            app.advance(1108);  // the request goes out
            assert.equal(app.takeOutgoing().length, 1);
            const frame = '\x0a\x21\xaa\x41\x07' + '\0'.repeat(7);
            for (const [at, part] of c.chunks) {
                const bytes = {all: frame, head: frame.slice(0, 4), tail: frame.slice(4),
                               stray: '\x0a\x21\xaa\x41\x63' + '\0'.repeat(7)}[part];
                app.receive(b(bytes), at);
            }
            app.advance(c.emptyAt);
            assert.equal(textOf(app, 3140), '');
            app.advance(c.shownAt);
            assert.equal(textOf(app, 3140), '007');
        });
    }
    await t.test('a timer 540 ms late replays the ten ticks it missed', () => {
        const app = opened();
        app.advance(1054);
        const before = app.ticks();
        app.advance(1054 + 540);
        assert.equal(app.ticks() - before, 10);
        assert.equal(app.nextEventMs(), 1054 + 594);
    });
});

// The simulator's well-behaved modem, as the core's own tests script it.
const kBlankOk = '\r\n\r\nOK\r\n';
function modem(command) {
    if (command === '+++\r\n') return '';
    if (command === 'AT^SISS?\r\n') {
        return '\r\n^SISS: 0,"srvType","Socket"\r\n^SISS: 0,"address","socktcp://listener:65534"\r\n' +
               '^SISS: 9,"srvType","Socket"\r\n^SISS: 9,"address","socktcp://10.1.2.3:65534"\r\n\r\nOK\r\n';
    }
    if (command === 'AT^SICS?\r\n') {
        return '\r\n^SICS: 0,"conType","GPRS0"\r\n^SICS: 0,"apn","internet"\r\n^SICS: 0,"user","\xc8\xe2\xe0\xed"\r\n\r\nOK\r\n';
    }
    return command.startsWith('AT^S') ? kBlankOk : '\r\nOK\r\n';
}

test('modem write with a Cyrillic user: 1251 bytes on the wire, _data.ini kept; read brings it back', () => {
    const app = opened();
    const user = '\xc8\xe2\xe0\xed';  // "Иван" in code page 1251
    app.type(indexOf(app, 3021), b('10.0.0.7'));
    app.type(indexOf(app, 3022), b('internet'));
    app.type(indexOf(app, 3023), b(user));
    app.type(indexOf(app, 3027), b('pw'));
    app.command(3031, 0);
    const sent = drive(app, 1000, 20000, modem);
    assert.ok(sent.some((s) => s.hex === Buffer.from('AT^SICS=0,"user","' + user + '"\r\n', 'latin1').toString('hex')));
    assert.equal(sent[0].text, '+++\r\n');
    assert.equal(textOf(app, 3002).trim(), 'Ok!');
    assert.equal(latin1(app.takeSettings()), '10.0.0.7\r\ninternet\r\n' + user + '\r\npw');
    assert.equal(app.takeSettings(), null);  // once per replacement

    app.type(indexOf(app, 3023), b(''));
    app.command(3030, 0);
    drive(app, 20001, 40000, modem);
    assert.equal(textOf(app, 3023), user);
});

test('the port: open without a transport, loss, reopen, and _data.ini loaded at start', () => {
    const app = new M.WebApp(0, b('1.2.3.4\r\napn\r\nuser\r\npass'));
    assert.deepEqual([3021, 3022, 3023, 3027].map((id) => textOf(app, id)), ['1.2.3.4', 'apn', 'user', 'pass']);
    app.command(32772, 0);
    assert.equal(textOf(app, 3004), "Port did't open!");
    app.transportReady(true);
    app.command(32772, 0);
    assert.equal(app.lineOpen(), true);
    app.command(3144, 0);
    app.advance(120);  // the period's read request is out, its reply awaited
    assert.equal(app.takeOutgoing().length, 1);
    app.lose(130);
    assert.equal(textOf(app, 3004), 'The COM1 is lost!');
    assert.equal(app.lineOpen(), false);
    assert.equal(app.takeCloseRequest(), true);
    app.advance(1000);
    assert.equal(app.busy(), false);  // the read ended at once, not on its deadline
    app.transportReady(true);
    app.command(32772, 0);
    assert.match(textOf(app, 3004), /opened/);
});

test('profiles checked by the command-line tool\'s rules', () => {
    const cases = [
        ['{"format":"ostrakan-profile/1","controller":{"period":"010"}}', /"period": "010"/],
        ['{"format":"ostrakan-profile/1","controller":{"period":"12"}}', /^controller\.period/],
        ['{"format":"ostrakan-profile/1","modem":{"user":"Иван"}}', /"user": "Иван"/],
        ['{"format":"ostrakan-profile/1","modem":{"user":"€€€","apn":"' + 'a'.repeat(79) + '"}}', /apn/],
        ['{"format":"ostrakan-profile/1","modem":{"user":"\u4e2d"}}', /user/],
    ];
    for (const [text, expect] of cases) {
        const r = M.checkProfile(text);
        assert.match(r.profile || r.error, expect, text);
    }
});

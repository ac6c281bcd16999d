// The Worker that runs the core. Its loop does not count on timers being
// punctual: each wake-up replays every tick and quiet period due up to
// performance.now() (the C++ host loop does the replaying), then sleeps until
// the next one falls due. A hidden tab throttles the page's timers, not a
// dedicated Worker's, so the protocol keeps its 54 ms tick there too.
import createOstrakan from './ostrakan.mjs';

let app = null;
let timer = 0;
let busy = false;
const early = [];  // messages that came before the module was ready

function flush() {
    const changes = app.takeChanges();
    const outgoing = app.takeOutgoing();
    if (outgoing.length) postMessage({type: 'send', messages: outgoing});
    if (changes.length) postMessage({type: 'changes', changes, lineOpen: app.lineOpen()});
    if (app.takeCloseRequest()) postMessage({type: 'close'});
    if (app.busy() !== busy) {
        busy = !busy;
        postMessage({type: 'busy', busy});
    }
    const settings = app.takeSettings();
    if (settings) postMessage({type: 'settings', bytes: settings});
}

function pass() {
    timer = 0;
    app.advance(performance.now());
    flush();
    schedule();
}

function schedule() {
    if (timer) clearTimeout(timer);
    timer = setTimeout(pass, Math.max(0, app.nextEventMs() - performance.now()));
}

function handle(m) {
    const now = performance.now();
    switch (m.type) {
    case 'command': app.advance(now); app.command(m.id, m.notification || 0); break;
    case 'type': app.type(m.index, m.text); return;
    case 'open':  // the page has connected its transport, or failed to
        app.advance(now);
        app.transportReady(m.ready);
        app.command(32772, 0);
        // The core refused (a wrong port name, say): the page lets go of the transport.
        app.transportReady(false);
        if (m.ready && !app.lineOpen()) postMessage({type: 'close'});
        break;
    case 'bytes': app.receive(m.bytes, now); break;
    case 'lost': app.lose(now); break;
    case 'import': app.importSettings(m.bytes); break;
    case 'profile': postMessage({type: 'profile', id: m.id, result: Module.checkProfile(m.text)}); return;
    }
    flush();
    schedule();
}

let Module = null;
onmessage = (e) => {
    const m = e.data;
    if (m.type === 'start') {
        createOstrakan().then((module) => {
            Module = module;
            app = new module.WebApp(performance.now(), m.settings || new Uint8Array());
            const controls = [];
            for (let i = 0; i < app.controlCount(); ++i) controls.push(app.control(i));
            postMessage({type: 'ready', controls});
            early.splice(0).forEach(handle);
            pass();
        });
    } else if (!app) {
        early.push(m);
    } else {
        handle(m);
    }
};

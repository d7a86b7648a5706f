// Shared fixture of the page tests: the page served from 127.0.0.1 by a small
// server of our own, Debian's Chromium driven by playwright-core, and a scripted
// stand-in for the program's five bindings whose promises the test settles.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const PAGE_FILE = path.resolve(here, '../../resources/page.html');
export const SCREENS = ['welcome', 'work', 'done', 'error', 'remove'];

// The document the program answers setupInfo with in this build.
export function setupInfo(changes = {}) {
  return {
    components: [
      { detail: 'The caption studio that opens from Resolve.', id: 'window',
        label: 'Vellumo window', on: true, optional: false },
      { detail: 'Adds Workspace > Scripts > Vellumo to DaVinci Resolve.', id: 'script',
        label: 'Resolve script', on: true, optional: false },
    ],
    folder: 'C:\\Users\\Ana\\AppData\\Local\\Programs\\Vellumo for DaVinci Resolve',
    found: { python: true, resolve: true },
    installed: '',
    kind: 'resolve',
    mode: 'install',
    name: 'Vellumo for DaVinci Resolve',
    tagline: 'Caption your timeline in Vellumo and send every styled word straight back to Resolve.',
    version: '0.4.4',
    ...changes,
  };
}

// The install's progress reports as the program sends them, in order.
export const INSTALL_PROGRESS = [
  { label: 'Checking the installer', pct: 4 },
  { label: 'Installing the Vellumo window', pct: 18 },
  { label: "Adding Vellumo to Resolve's Scripts menu", pct: 40 },
  { label: 'Adding the setup guide', pct: 58 },
  { label: 'Registering with Windows', pct: 82 },
  { label: 'Done', pct: 100 },
];
export const UNINSTALL_PROGRESS = [
  { label: 'Reading what was installed', pct: 10 },
  { label: 'Removing files', pct: 45 },
  { label: 'Removing shortcuts', pct: 65 },
  { label: 'Removing settings', pct: 80 },
  { label: 'Done', pct: 100 },
];

// Runs in the page before its own script. Every call is recorded; setupInfo,
// setupInstall and setupUninstall stay pending until the test settles them
// (setupInfo answers at once when the test gave a document); setupOpen and
// setupWindow answer null at once, as the program's synchronous bindings do.
function scriptedBridge({ info }) {
  const calls = [];
  const pending = { setupInfo: [], setupInstall: [], setupUninstall: [] };
  const record = (name, args) => calls.push({ name, args: JSON.parse(JSON.stringify(args)) });
  const deferred = (name) => (...args) => {
    record(name, args);
    return new Promise((resolve, reject) => pending[name].push({ resolve, reject }));
  };
  const answer = (name, value) => (...args) => {
    record(name, args);
    return Promise.resolve(value);
  };
  Object.defineProperty(window, '__bridge', { value: { calls, pending }, enumerable: false });
  window.setupInfo = info === undefined ? deferred('setupInfo') : answer('setupInfo', info);
  window.setupInstall = deferred('setupInstall');
  window.setupUninstall = deferred('setupUninstall');
  window.setupOpen = answer('setupOpen', null);
  window.setupWindow = answer('setupWindow', null);
}

export class Harness {
  async start() {
    this.requests = [];
    this.bytes = await fs.readFile(PAGE_FILE);
    this.server = http.createServer((req, res) => {
      this.requests.push(req.url);
      const url = new URL(req.url, 'http://127.0.0.1');
      if (url.pathname === '/page.html') {
        res.writeHead(200, { 'content-type': 'text/html; charset=utf-8', 'cache-control': 'no-store' });
        res.end(this.bytes);
      } else {
        res.writeHead(404);
        res.end();
      }
    });
    await new Promise((resolve) => this.server.listen(0, '127.0.0.1', resolve));
    this.port = this.server.address().port;
    // The browser gets a home of its own: nothing touches the real one.
    this.home = await fs.mkdtemp(path.join(os.tmpdir(), 'vellumo-page-home-'));
    const xdg = (name) => path.join(this.home, name);
    await Promise.all(['config', 'cache', 'data', 'state', 'runtime'].map((d) => fs.mkdir(xdg(d), { mode: 0o700 })));
    this.browser = await chromium.launch({
      executablePath: '/usr/bin/chromium',
      headless: true,
      env: {
        ...process.env,
        HOME: this.home,
        XDG_CONFIG_HOME: xdg('config'),
        XDG_CACHE_HOME: xdg('cache'),
        XDG_DATA_HOME: xdg('data'),
        XDG_STATE_HOME: xdg('state'),
        XDG_RUNTIME_DIR: xdg('runtime'),
        XDG_CONFIG_DIRS: xdg('config'),
        XDG_DATA_DIRS: xdg('data'),
      },
      args: [
        '--no-sandbox',
        '--disable-background-networking',
        '--disable-component-update',
        '--no-first-run',
        // Another host name for the same server, to show the preview is tied to local hosts.
        '--host-resolver-rules=MAP setup.example 127.0.0.1',
      ],
    });
  }

  async stop() {
    await this.browser?.close();
    await new Promise((resolve) => this.server?.close(resolve));
    if (this.home) await fs.rm(this.home, { recursive: true, force: true });
  }

  url({ host = '127.0.0.1', query = '', hash = '' } = {}) {
    return `http://${host}:${this.port}/page.html${query}${hash}`;
  }

  // Opens the page in a fresh 880 x 580 context. `info` is the setupInfo
  // answer (undefined leaves the call pending); `bridge: false` opens it with
  // no bindings at all. With `clock` (the default) time stands still until the
  // test moves it with page.clock.runFor.
  async open({ info, bridge = true, clock = true, reducedMotion = 'no-preference',
               viewport = { width: 880, height: 580 }, ...where } = {}) {
    const context = await this.browser.newContext({ viewport, reducedMotion });
    if (clock) {
      await context.clock.install({ time: 0 });
      await context.clock.pauseAt(1000);
    }
    if (bridge) await context.addInitScript(scriptedBridge, { info });
    const page = await context.newPage();
    page.problems = [];
    page.on('pageerror', (error) => page.problems.push(`page error: ${error.message}`));
    page.on('console', (msg) => {
      if (msg.type() === 'error' || msg.type() === 'warning') page.problems.push(`console: ${msg.text()}`);
    });
    page.on('request', (request) => {
      const url = request.url();
      if (!url.startsWith('data:') && !url.startsWith(`http://${where.host ?? '127.0.0.1'}:${this.port}/`)) {
        page.problems.push(`request: ${url}`);
      }
    });
    await page.goto(this.url(where));
    return page;
  }

  // Closes the page, failing the test on any script error, console error
  // (a blocked resource or a policy violation shows there) or outside request.
  async close(page) {
    const problems = page.problems;
    await page.context().close();
    assert.deepEqual(problems, []);
  }
}

// One harness per test file, started before its tests and stopped after.
export function useHarness(hooks) {
  const harness = new Harness();
  hooks.before(() => harness.start());
  hooks.after(() => harness.stop());
  return harness;
}

// ---- In-page helpers -----------------------------------------------------------

export const run = (page, ms) => page.clock.runFor(ms);

export async function calls(page, name) {
  const all = await page.evaluate(() => window.__bridge.calls);
  return name ? all.filter((c) => c.name === name).map((c) => c.args) : all;
}

// Settles the oldest pending call of `name` with `value`, or rejects it with
// an Error of `message`.
export async function settle(page, name, { value, error } = {}) {
  await page.evaluate(({ name, value, error, rejects }) => {
    const call = window.__bridge.pending[name].shift();
    if (!call) throw new Error(`no pending ${name} call`);
    if (rejects) call.reject(new Error(error));
    else call.resolve(value);
  }, { name, value: value === undefined ? null : value, error, rejects: error !== undefined });
  // Let the page's promise handlers run.
  await page.evaluate(() => new Promise((resolve) => queueMicrotask(resolve)));
}

export function progress(page, event) {
  return page.evaluate((e) => window.setupProgress(e), event);
}

export const text = (page, selector) => page.locator(selector).textContent();

// Opens the page and waits out the 250 ms before the first screen.
export async function openAt(harness, screen, options = {}) {
  const info = options.info ?? setupInfo(screen === 'remove' ? { mode: 'uninstall' } : {});
  const page = await harness.open({ ...options, info });
  await run(page, 250);
  await expectScreen(page, screen);
  return page;
}

// Everything that follows from showing one screen: the class, inert and
// aria-hidden on all five, the body's data attribute and the journey markers.
export async function expectScreen(page, name) {
  const state = await page.evaluate((screens) => ({
    on: screens.filter((s) => document.getElementById('s-' + s).classList.contains('on')),
    inert: screens.filter((s) => document.getElementById('s-' + s).inert),
    hidden: screens.map((s) => document.getElementById('s-' + s).getAttribute('aria-hidden')),
    body: document.body.dataset.screen,
    journey: ['j-choose', 'j-install', 'j-done'].map((id) => {
      const item = document.getElementById(id);
      return [item.className, item.getAttribute('aria-current')];
    }),
  }), SCREENS);
  assert.deepEqual(state.on, [name], 'visible screen');
  assert.deepEqual(state.inert, SCREENS.filter((s) => s !== name), 'inert screens');
  assert.deepEqual(state.hidden, SCREENS.map((s) => (s === name ? 'false' : 'true')), 'aria-hidden');
  assert.equal(state.body, name, 'data-screen');
  const step = { welcome: 0, remove: 0, work: 1, error: 1, done: 2 }[name];
  assert.deepEqual(state.journey, [0, 1, 2].map((i) => {
    if (i === step) return ['active', 'step'];
    return [i < step ? 'complete' : '', null];
  }), 'journey');
}

// Plays a job's progress reports and then its reply.
export async function playJob(page, name, events, reply) {
  for (const event of events) await progress(page, event);
  await settle(page, name, { value: reply });
}

// A real mouse click at the element's centre, once the element stands still:
// an entrance moves it (or a row or screen that holds it), and a click aimed
// at where it was can miss it on a loaded machine. Endless animations (a
// pulse) are not waited for; the rest of the screen need not be at rest.
export async function click(page, selector) {
  const target = page.locator(selector);
  await target.waitFor({ state: 'visible' });
  await target.evaluate((element) => {
    const moving = [];
    for (let node = element; node; node = node.parentElement) {
      moving.push(...node.getAnimations().filter((a) => a.effect?.getComputedTiming().endTime !== Infinity));
    }
    return Promise.all(moving.map((a) => a.finished.catch(() => {})));
  });
  await page.click(selector, { force: true });
}

export async function focus(page, selector) {
  await page.locator(selector).waitFor({ state: 'visible' });
  await page.focus(selector);
}

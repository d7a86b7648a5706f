// The document itself, what the page shows before and after the setup
// information arrives, and the start failure.
import assert from 'node:assert/strict';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import {
  calls, expectScreen, openAt, run, settle, setupInfo, text, useHarness,
} from './harness.mjs';

const harness = useHarness(hooks);
const CSP = "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:";

describe('document', () => {
  test('has the fixed head, one style and one script closing the body', async () => {
    const page = await harness.open({ info: setupInfo() });
    const doc = await page.evaluate(() => ({
      doctype: document.doctype && document.doctype.name,
      lang: document.documentElement.lang,
      head: [...document.head.children].map((n) => n.tagName + (n.getAttribute('charset') || n.getAttribute('http-equiv') || '')),
      csp: document.querySelector('meta[http-equiv="Content-Security-Policy"]').content,
      styles: document.querySelectorAll('style').length,
      scripts: document.querySelectorAll('script').length,
      last: document.body.lastElementChild.tagName,
      externals: document.querySelectorAll('link, [src], iframe, object, embed').length,
    }));
    assert.deepEqual(doc, {
      doctype: 'html', lang: 'en',
      head: ['METAutf-8', 'METAContent-Security-Policy', 'TITLE', 'STYLE'],
      csp: CSP, styles: 1, scripts: 1, last: 'SCRIPT', externals: 0,
    });
    assert.match(harness.bytes.toString('utf8'), /^<!doctype html>\n/);
    await harness.close(page);
  });

  test('names its parts for assistive technology', async () => {
    const page = await harness.open({ info: setupInfo() });
    const attributes = await page.evaluate(() => [
      ['.sky', 'aria-hidden'], ['.grain', 'aria-hidden'], ['.vignette', 'aria-hidden'],
      ['#min', 'aria-label'], ['#close', 'aria-label'],
      ['.brand .mark', 'role'], ['.brand .mark', 'aria-label'],
      ['.journey', 'aria-label'], ['.stage', 'aria-live'],
    ].map(([selector, name]) => {
      const node = document.querySelector(selector);
      return [selector, node.tagName.toLowerCase(), name, node.getAttribute(name)];
    }));
    assert.deepEqual(attributes, [
      ['.sky', 'div', 'aria-hidden', 'true'], ['.grain', 'div', 'aria-hidden', 'true'],
      ['.vignette', 'div', 'aria-hidden', 'true'],
      ['#min', 'button', 'aria-label', 'Minimize'], ['#close', 'button', 'aria-label', 'Close'],
      ['.brand .mark', 'svg', 'role', 'img'], ['.brand .mark', 'svg', 'aria-label', 'Vellumo'],
      ['.journey', 'ol', 'aria-label', 'Setup steps'], ['.stage', 'section', 'aria-live', 'polite'],
    ]);
    const structure = await page.evaluate(() => ({
      bar: document.getElementById('bar').tagName,
      brand: document.getElementById('brand').tagName,
      app: document.querySelector('main').className,
      blobs: [...document.querySelectorAll('.sky > .blob')].map((b) => b.className),
      screens: [...document.querySelectorAll('.stage > .screen')].map((s) => s.id),
      journey: [...document.querySelectorAll('.journey li')].map((li) => [li.id, li.textContent]),
      note: document.querySelector('.brand-note').innerHTML,
    }));
    assert.deepEqual(structure, {
      bar: 'HEADER', brand: 'ASIDE', app: 'app',
      blobs: ['blob b1', 'blob b2', 'blob b3'],
      screens: ['s-welcome', 's-work', 's-done', 's-error', 's-remove'],
      journey: [['j-choose', '1Make it yours'], ['j-install', '2Set up your workspace'], ['j-done', '3Start creating']],
      note: 'Your words. Your style.<br>Right where you create.',
    });
    await harness.close(page);
  });

  test('defines nothing global but window.setupProgress', async () => {
    const page = await harness.open({ info: setupInfo() });
    const added = await page.evaluate(async () => {
      const frame = document.createElement('iframe');
      document.body.appendChild(frame);
      const plain = new Set(Object.getOwnPropertyNames(frame.contentWindow));
      frame.remove();
      const bridge = ['setupInfo', 'setupInstall', 'setupUninstall', 'setupOpen', 'setupWindow', '__bridge'];
      return Object.getOwnPropertyNames(window)
        .filter((name) => !plain.has(name) && !bridge.includes(name) && !/^\d+$/.test(name));
    });
    // Element ids are reachable as named properties but are not own properties.
    assert.deepEqual(added, ['setupProgress']);
    // The iframe above was refused by the policy, which the console reports.
    page.problems = page.problems.filter((p) => !/frame|Content Security Policy/i.test(p));
    await harness.close(page);
  });

  test('loads nothing but itself', async () => {
    const before = harness.requests.length;
    const page = await openAt(harness, 'welcome');
    await run(page, 2000);
    assert.deepEqual(harness.requests.slice(before), ['/page.html']);
    await harness.close(page);
  });
});

describe('before the setup information arrives', () => {
  test('no screen shows and the side panel holds only its fixed parts', async () => {
    const page = await harness.open();
    await run(page, 1000);
    const state = await page.evaluate(() => ({
      on: document.querySelectorAll('.screen.on').length,
      screen: document.body.dataset.screen,
      title: document.getElementById('bar-title').textContent,
      docTitle: document.title,
      brandFor: document.getElementById('brand-for').textContent,
      chips: document.getElementById('chips').children.length,
      version: document.getElementById('version').textContent,
      word: document.querySelector('.word').textContent,
      active: document.querySelector('[aria-current="step"]').id,
    }));
    assert.deepEqual(state, {
      on: 0, screen: undefined, title: 'Vellumo Setup', docTitle: 'Vellumo Setup',
      brandFor: '', chips: 0, version: '', word: 'Vellumo', active: 'j-choose',
    });
    assert.deepEqual(await calls(page, 'setupInfo'), [[]], 'asked once, without an argument');

    // No job can start yet.
    await page.keyboard.press('Enter');
    await page.evaluate(() => document.getElementById('w-install').click());
    assert.deepEqual(await calls(page, 'setupInstall'), []);
    await harness.close(page);
  });

  test('window.setupProgress exists before setupInfo is asked', async () => {
    const context = await harness.browser.newContext();
    await context.addInitScript(() => {
      window.setupInfo = () => {
        window.__progressSeen = typeof window.setupProgress;
        return new Promise(() => {});
      };
    });
    const page = await context.newPage();
    await page.goto(harness.url());
    assert.equal(await page.evaluate(() => window.__progressSeen), 'function');
    await context.close();
  });
});

describe('when the setup information arrives', () => {
  test('fills the side panel and the titles, and shows the first screen 250 ms later', async () => {
    const page = await harness.open();
    await settle(page, 'setupInfo', { value: setupInfo() });
    assert.equal(await text(page, '#bar-title'), 'Vellumo for DaVinci Resolve \u00b7 Setup');
    assert.equal(await page.title(), 'Vellumo for DaVinci Resolve \u00b7 Setup');
    assert.equal(await text(page, '#brand-for'), 'for DaVinci Resolve');
    assert.equal(await text(page, '#version'), 'Version 0.4.4');
    await run(page, 249);
    assert.equal(await page.locator('.screen.on').count(), 0);
    await run(page, 1);
    await expectScreen(page, 'welcome');
    await harness.close(page);
  });

  test('in uninstall mode asks before removing', async () => {
    const page = await harness.open({ info: setupInfo({ mode: 'uninstall' }) });
    assert.equal(await text(page, '#bar-title'), 'Vellumo for DaVinci Resolve \u00b7 Uninstall');
    assert.equal(await page.title(), 'Vellumo for DaVinci Resolve \u00b7 Uninstall');
    await run(page, 249);
    assert.equal(await page.locator('.screen.on').count(), 0);
    await run(page, 1);
    await expectScreen(page, 'remove');
    assert.equal(await text(page, '#r-title'), 'Uninstall Vellumo for DaVinci Resolve?');
    assert.equal(await page.locator('#s-remove .lead').textContent(),
      'This removes it from this Windows account and signs this computer out. ' +
      'Your captions in Documents\\Vellumo stay where they are.');
    assert.equal(await page.locator('#s-remove .lead .kbd').textContent(), 'Documents\\Vellumo');
    assert.equal(await text(page, '#r-cancel'), 'Keep it');
    assert.equal(await text(page, '#r-go'), 'Uninstall');
    await harness.close(page);
  });

  const chipCases = [
    { name: 'both found', found: { python: true, resolve: true },
      chips: [['yes', 'DaVinci Resolve found'], ['yes', '64-bit Python 3 ready']] },
    { name: 'neither found', found: { python: false, resolve: false },
      chips: [['no', 'DaVinci Resolve not found yet'], ['no', 'Compatible Python 3 needed']] },
    { name: '"found" absent', found: undefined,
      chips: [['no', 'DaVinci Resolve not found yet'], ['no', 'Compatible Python 3 needed']] },
    { name: 'only Resolve', found: { python: false, resolve: true },
      chips: [['yes', 'DaVinci Resolve found'], ['no', 'Compatible Python 3 needed']] },
  ];
  for (const c of chipCases) {
    test(`chips: ${c.name}`, async () => {
      const info = setupInfo({ found: c.found });
      if (c.found === undefined) delete info.found;
      const page = await harness.open({ info });
      const chips = () => page.evaluate(() => [...document.querySelectorAll('#chips .chip')].map((chip) => [
        ['yes', 'no'].find((k) => chip.classList.contains(k)), chip.textContent,
        chip.classList.contains('on'), chip.querySelectorAll('.dot').length,
      ]));
      const expect = (on) => c.chips.map(([style, words], i) => [style, words, on[i], 1]);
      assert.deepEqual(await chips(), expect([false, false]));
      await run(page, 899);
      assert.deepEqual(await chips(), expect([false, false]));
      await run(page, 1);
      assert.deepEqual(await chips(), expect([true, false]));
      await run(page, 139);
      assert.deepEqual(await chips(), expect([true, false]));
      await run(page, 1);
      assert.deepEqual(await chips(), expect([true, true]));
      await harness.close(page);
    });
  }
});

describe('start failure', () => {
  async function expectStartFailure(page) {
    await expectScreen(page, 'error');
    assert.equal(await text(page, '#e-title'), 'Setup could not start');
    assert.equal(await text(page, '#e-lead'), 'Close setup and download a fresh copy from vellumo.app.');
    assert.equal(await text(page, '#s-error .fine'), 'Setup may have completed some steps. Retry to finish.');
    assert.deepEqual(await page.evaluate(() => ['e-retry', 'e-close'].map((id) => document.getElementById(id).hidden)),
      [true, false]);
  }

  test('without a bridge', async () => {
    const page = await harness.open({ bridge: false });
    await expectStartFailure(page);
    await page.keyboard.press('Enter');
    await run(page, 3000);
    await expectStartFailure(page);
    await harness.close(page);
  });

  test('without a bridge, a preview request from another host is refused', async () => {
    const page = await harness.open({ bridge: false, host: 'setup.example', query: '?preview=1' });
    await expectStartFailure(page);
    assert.equal(await page.locator('.preview').count(), 0);
    await harness.close(page);
  });

  test('when setupInfo is rejected; only the ways to close remain', async () => {
    const page = await harness.open();
    await settle(page, 'setupInfo', { error: 'bridge failed' });
    await expectStartFailure(page);
    await page.keyboard.press('Enter');
    await page.evaluate(() => document.getElementById('e-retry').click());
    await run(page, 3000);
    assert.deepEqual(await calls(page, 'setupInstall'), []);
    await page.keyboard.press('Escape');
    await page.click('#e-close');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close'], ['close']]);
    await harness.close(page);
  });

  const untakeable = [
    ['null', null],
    ['a string', 'hello'],
    ['"components" not a list', setupInfo({ components: 'window,script' })],
    ['"components" holding null', setupInfo({ components: [null] })],
  ];
  for (const [name, answer] of untakeable) {
    test(`when the answer cannot be taken in: ${name}`, async () => {
      const page = await harness.open();
      await settle(page, 'setupInfo', { value: answer });
      await expectStartFailure(page);
      await run(page, 2000);
      await expectStartFailure(page);
      await page.keyboard.press('Enter');
      await page.evaluate(() => document.getElementById('w-install').click());
      assert.deepEqual(await calls(page, 'setupInstall'), []);
      await harness.close(page);
    });
  }
});

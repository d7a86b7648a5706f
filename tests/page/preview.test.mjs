// The preview bridge: only on a local host with ?preview=1 and no bindings.
import assert from 'node:assert/strict';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import { click, expectScreen, run, text, useHarness } from './harness.mjs';

const harness = useHarness(hooks);
const NOTICE = 'Preview only - nothing is installed';

describe('preview', () => {
  test('plays the sub-steps 700 ms apart and ends on the done screen', async () => {
    const page = await harness.open({ bridge: false, query: '?preview=1' });
    assert.equal(await text(page, '.preview'), NOTICE);
    await run(page, 250);
    await expectScreen(page, 'welcome');
    assert.equal(await text(page, '#w-title'), 'Update Vellumo for DaVinci Resolve');
    assert.equal(await text(page, '#w-lead'),
      'Version 0.4.2 is installed. This brings it to 0.4.4. Your sign-in and captions stay.');
    assert.deepEqual(await page.locator('#chips .chip').evaluateAll((chips) => chips.map((c) => c.className)),
      ['chip yes', 'chip no']);

    await page.evaluate(() => {
      const take = window.setupProgress;
      window.__events = [];
      window.setupProgress = (e) => { window.__events.push([Date.now(), e]); take(e); };
    });
    await click(page, '#w-install');
    await run(page, 5 * 700 - 1);
    await expectScreen(page, 'work');
    const events = await page.evaluate(() => window.__events);
    const start = events[0][0];
    assert.deepEqual(events.map(([at, e]) => [at - start, e.label, e.pct]), [
      [0, 'Checking the installer', 8],
      [700, 'Installing the Vellumo window', 8 + 88 / 5],
      [1400, 'Adding Vellumo to Resolve scripts', 8 + 2 * 88 / 5],
      [2100, 'Adding the setup guide', 8 + 3 * 88 / 5],
      [2800, 'Registering with Windows', 8 + 4 * 88 / 5],
    ]);
    await run(page, 1 + 650 + 1300);
    await expectScreen(page, 'done');
    assert.deepEqual(await page.locator('#d-notes .note').evaluateAll((n) => n.map((x) => x.className)),
      ['note warn', 'note']);
    assert.match(await text(page, '#d-fine'), /^Installed in C:\\Users\\.+\\AppData\\Local\\Programs\\Vellumo for DaVinci Resolve$/);
    // The preview's open and window actions do nothing.
    await click(page, '#d-notes button');
    await click(page, '#d-close');
    await expectScreen(page, 'done');
    await harness.close(page);
  });

  test('"uninstall" in the fragment opens the remove screen', async () => {
    const page = await harness.open({ bridge: false, query: '?preview=1', hash: '#try-uninstall' });
    await run(page, 250);
    await expectScreen(page, 'remove');
    await click(page, '#r-go');
    await run(page, 5 * 700 + 650 + 1200);
    await expectScreen(page, 'done');
    assert.equal(await text(page, '#d-title'), 'Uninstalled');
    await harness.close(page);
  });

  test('also on localhost', async () => {
    const page = await harness.open({ bridge: false, host: 'localhost', query: '?preview=1' });
    assert.equal(await text(page, '.preview'), NOTICE);
    await harness.close(page);
  });

  const refused = [
    ['without ?preview=1', { query: '' }],
    ['with ?preview=0', { query: '?preview=0' }],
    ['with preview=1 only in the fragment', { hash: '#preview=1' }],
  ];
  for (const [name, where] of refused) {
    test(`is not offered ${name}`, async () => {
      const page = await harness.open({ bridge: false, ...where });
      await expectScreen(page, 'error');
      assert.equal(await text(page, '#e-title'), 'Setup could not start');
      assert.equal(await page.locator('.preview').count(), 0);
      await harness.close(page);
    });
  }

  test('never replaces the program bindings', async () => {
    const page = await harness.open({ query: '?preview=1' });
    assert.equal(await page.locator('.preview').count(), 0);
    assert.equal(await page.locator('.screen.on').count(), 0, 'waits for the real setupInfo');
    await harness.close(page);
  });
});

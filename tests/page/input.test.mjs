// Keyboard and mouse: Enter and Escape on each screen, the title bar's drag
// areas and buttons, the closing buttons and the context menu.
import assert from 'node:assert/strict';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import {
  calls, click, expectScreen, focus, openAt, run, settle, setupInfo, useHarness,
} from './harness.mjs';

const harness = useHarness(hooks);
const jobs = async (page) => ({ install: await calls(page, 'setupInstall'), uninstall: await calls(page, 'setupUninstall') });

// Ways to reach each screen, with the page left idle there.
const reach = {
  async welcome() { return openAt(harness, 'welcome'); },
  async remove() { return openAt(harness, 'remove'); },
  async work() {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    return page;
  },
  async error() {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    await settle(page, 'setupInstall', { value: { error: 'Disk full.', notes: [], ok: false } });
    await expectScreen(page, 'error');
    return page;
  },
  async uninstallError() {
    const page = await openAt(harness, 'remove');
    await click(page, '#r-go');
    await settle(page, 'setupUninstall', { value: { error: 'Close VellumoCompanion first, then try again.', ok: false } });
    await expectScreen(page, 'error');
    return page;
  },
  async done() {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    await settle(page, 'setupInstall', { value: { error: '', notes: ['python'], ok: true } });
    await run(page, 1950);
    await expectScreen(page, 'done');
    return page;
  },
  async startFailure() {
    const page = await harness.open();
    await settle(page, 'setupInfo', { error: 'no' });
    await expectScreen(page, 'error');
    return page;
  },
};

describe('Enter', () => {
  const cases = [
    ['welcome', 'work', { install: [[{}]], uninstall: [] }],
    ['remove', 'work', { install: [], uninstall: [[]] }],
    ['error', 'work', { install: [[{}], [{}]], uninstall: [] }],
    ['uninstallError', 'work', { install: [], uninstall: [[], []] }],
    ['work', 'work', { install: [[{}]], uninstall: [] }],
    ['done', 'done', { install: [[{}]], uninstall: [] }],
    ['startFailure', 'error', { install: [], uninstall: [] }],
  ];
  for (const [from, to, expected] of cases) {
    test(`on the ${from} screen`, async () => {
      const page = await reach[from]();
      await page.keyboard.press('Enter');
      await expectScreen(page, to);
      assert.deepEqual(await jobs(page), expected);
      assert.deepEqual(await calls(page, 'setupWindow'), []);
      await harness.close(page);
    });
  }

  test('a focused button keeps its own handling', async () => {
    const page = await reach.error();
    await focus(page, '#e-close');
    await page.keyboard.press('Enter');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close']]);
    assert.deepEqual((await jobs(page)).install, [[{}]], 'no retry');
    await focus(page, '#min');
    await page.keyboard.press('Enter');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close'], ['minimize']]);
    await expectScreen(page, 'error');
    await harness.close(page);
  });

  test('a focused switch keeps its own handling', async () => {
    const info = setupInfo({ components: [{ detail: 'd', id: 'samples', label: 'Samples', on: false, optional: true }] });
    const page = await openAt(harness, 'welcome', { info });
    await focus(page, '#w-list .toggle');
    await page.keyboard.press('Enter');
    assert.equal(await page.getAttribute('#w-list .toggle', 'aria-checked'), 'true');
    assert.deepEqual(await calls(page, 'setupInstall'), []);
    await harness.close(page);
  });

  test('the page moves the focus nowhere when a screen opens', async () => {
    const page = await reach.error();
    assert.equal(await page.evaluate(() => document.getElementById('s-error').contains(document.activeElement)), false);
    await harness.close(page);
  });
});

describe('Escape', () => {
  test('closes while idle, on every screen', async () => {
    for (const screen of ['welcome', 'remove', 'error', 'done', 'startFailure']) {
      const page = await reach[screen]();
      await page.keyboard.press('Escape');
      assert.deepEqual(await calls(page, 'setupWindow'), [['close']], screen);
      await harness.close(page);
    }
  });

  test('does nothing while a job runs and during the outcome pause', async () => {
    const page = await reach.work();
    await page.keyboard.press('Escape');
    await settle(page, 'setupInstall', { value: { error: '', notes: [], ok: true } });
    await page.keyboard.press('Escape');
    await run(page, 1000);
    await page.keyboard.press('Escape');
    await run(page, 949);
    await page.keyboard.press('Escape');
    assert.deepEqual(await calls(page, 'setupWindow'), []);
    await run(page, 1);
    await expectScreen(page, 'done');
    await page.keyboard.press('Escape');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close']]);
    await harness.close(page);
  });
});

describe('mouse', () => {
  test('left-button drag areas', async () => {
    const page = await reach.welcome();
    const press = async (selector, button) => {
      const box = await page.locator(selector).boundingBox();
      await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
      await page.mouse.down({ button });
      await page.mouse.up({ button });
    };
    await press('#drag', 'left');
    await press('#bar-title', 'left');
    await press('#drag', 'right');
    await press('#drag', 'middle');
    await press('#bar-title', 'right');
    assert.deepEqual(await calls(page, 'setupWindow'), [['drag'], ['drag']]);
    // The buttons are no drag areas.
    await press('#min', 'left');
    await press('#close', 'left');
    assert.deepEqual(await calls(page, 'setupWindow'), [['drag'], ['drag'], ['minimize'], ['close']]);
    await harness.close(page);
  });

  test('the drag area takes the free width and the full height of the bar', async () => {
    const page = await reach.welcome();
    const box = await page.evaluate(() => {
      const r = (id) => document.getElementById(id).getBoundingClientRect();
      return { drag: r('drag').toJSON(), title: r('bar-title').toJSON(), min: r('min').toJSON() };
    });
    assert.equal(box.drag.top, 0);
    assert.equal(box.drag.height, 46);
    assert.equal(box.drag.left, box.title.right);
    assert.equal(box.drag.right, box.min.left);
    await harness.close(page);
  });

  test('the close button asks to close also during a job', async () => {
    const page = await reach.work();
    await click(page, '#close');
    await click(page, '#min');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close'], ['minimize']]);
    await expectScreen(page, 'work');
    await harness.close(page);
  });

  const closers = [['error', '#e-close'], ['done', '#d-close'], ['remove', '#r-cancel']];
  for (const [screen, selector] of closers) {
    test(`${selector} asks to close`, async () => {
      const page = await reach[screen]();
      await click(page, selector);
      assert.deepEqual(await calls(page, 'setupWindow'), [['close']]);
      await harness.close(page);
    });
  }

  test('the context menu is suppressed everywhere', async () => {
    const page = await reach.welcome();
    await page.evaluate(() => {
      window.__menus = [];
      window.addEventListener('contextmenu', (e) => window.__menus.push(e.defaultPrevented));
    });
    for (const selector of ['#w-title', '#bar-title', '.brand', '#w-install', '.word']) {
      await page.click(selector, { button: 'right', force: true });
    }
    assert.deepEqual(await page.evaluate(() => window.__menus), [true, true, true, true, true]);
    assert.deepEqual(await calls(page, 'setupWindow'), [], 'a right press on the bar title does not drag');
    await harness.close(page);
  });
});

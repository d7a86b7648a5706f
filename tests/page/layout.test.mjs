// The look: geometry that matters in the 880 x 580 window, screenshots of the
// five screens for a person to look at, scrolling of long content, focus
// outlines, reduced motion and the narrow layouts.
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import {
  INSTALL_PROGRESS, click, expectScreen, openAt, playJob, progress, run, settle, setupInfo, useHarness,
} from './harness.mjs';

const harness = useHarness(hooks);
const SHOTS = path.join(process.env.VELLUMO_BUILD_DIR || os.tmpdir(), 'page-screenshots');

// Layout boxes without transforms, so that a screen still rising into place
// measures where it comes to rest.
const rect = (page, selector) => page.locator(selector).evaluate((node) => {
  const box = { x: 0, y: 0, width: node.offsetWidth, height: node.offsetHeight };
  for (let n = node; n; ) {
    box.x += n.offsetLeft;
    box.y += n.offsetTop;
    n = n.offsetParent;
    if (n) { box.x += n.clientLeft; box.y += n.clientTop; }
  }
  return box;
});
const style = (page, selector, property) =>
  page.locator(selector).evaluate((node, p) => getComputedStyle(node).getPropertyValue(p), property);

describe('geometry at 880 x 580', () => {
  test('bar, columns, stage, ring and controls', async () => {
    const page = await openAt(harness, 'welcome');
    assert.deepEqual(await rect(page, '.bar'), { x: 0, y: 0, width: 880, height: 46 });
    assert.deepEqual(await rect(page, '.brand'), { x: 0, y: 46, width: 280, height: 534 });
    assert.deepEqual(await rect(page, '.stage'), { x: 280, y: 56, width: 582, height: 506 });
    assert.deepEqual(await rect(page, '#s-welcome'), { x: 281, y: 57, width: 580, height: 504 });
    assert.deepEqual(await rect(page, '.brand-top'), { x: 34, y: 72, width: 216, height: (await rect(page, '.brand-top')).height });
    assert.deepEqual([await style(page, '.mark', 'width'), await style(page, '.mark', 'height')], ['76px', '76px']);
    for (const id of ['#min', '#close']) {
      const box = await rect(page, id);
      assert.deepEqual([box.width, box.height], [38, 30]);
      assert.equal(box.y + box.height / 2, 23, 'centred in the bar');
    }
    assert.equal((await rect(page, '#close')).x + 38, 870, '10px from the right edge');
    assert.equal((await rect(page, '#w-install')).height, 46);
    const actions = await rect(page, '#s-welcome .actions');
    assert.equal(actions.y + actions.height, 57 + 504 - 24, 'action row at the bottom of the screen');
    const button = await rect(page, '#w-install');
    assert.equal(button.x + button.width, 281 + 580 - 28, 'buttons at the right');

    await click(page, '#w-install');
    await run(page, 100);
    const ring = await rect(page, '#ring');
    assert.deepEqual([ring.width, ring.height], [184, 184]);
    assert.equal(ring.x + ring.width / 2, 281 + 580 / 2, 'ring centred');
    const title = await rect(page, '#k-title');
    assert.equal(ring.y - (title.y + title.height), 6, 'ring 6px below the heading');
    assert.equal(await style(page, '#ring-fill', 'stroke-dasharray'), '515px');
    assert.equal(await style(page, '#ring-fill', 'stroke-dashoffset'), '515px');
    assert.equal(await style(page, '#ring > svg:first-child', 'transform'), 'matrix(0, -1, 1, 0, 0, 0)');
    await harness.close(page);
  });

  test('palette and type', async () => {
    const page = await openAt(harness, 'welcome');
    assert.equal(await style(page, ':root', '--peach'), '#efc4a5');
    assert.equal(await style(page, 'body', 'background-color'), 'rgb(7, 8, 10)');
    assert.equal(await style(page, 'body', 'font-size'), '14px');
    assert.match(await style(page, 'body', 'font-family'), /^"Segoe UI Variable Text", "Segoe UI", system-ui, sans-serif$/);
    assert.match(await style(page, '#w-title', 'font-family'), /^"Segoe UI Variable Display"/);
    assert.equal(await style(page, '#w-title', 'font-size'), '27px');
    assert.equal(await style(page, 'body', 'user-select'), 'none');
    assert.equal(await style(page, '#w-install', 'cursor'), 'pointer');
    assert.equal(await style(page, '#w-install', 'white-space'), 'nowrap');
    assert.equal(await style(page, '#bar-title', 'text-transform'), 'uppercase');
    assert.equal(await style(page, '.grain', 'pointer-events'), 'none');
    assert.equal(await style(page, '.vignette', 'pointer-events'), 'none');
    assert.equal(await style(page, '.b1', 'will-change'), 'transform');
    assert.equal(await style(page, '.b1', 'animation-name'), 'drift1');
    await harness.close(page);
  });
});

describe('screenshots', () => {
  const shoot = async (page, name) => {
    await fs.mkdir(SHOTS, { recursive: true });
    // Finishes the screen change and the entrances, and stops the drifting sky.
    await page.screenshot({ path: path.join(SHOTS, `${name}.png`), animations: 'disabled' });
  };

  test('welcome, work, done, error and remove', async () => {
    let page = await openAt(harness, 'welcome', { info: setupInfo({ found: { python: false, resolve: true } }) });
    await run(page, 1100);
    await shoot(page, 'welcome');

    await click(page, '#w-install');
    for (const event of INSTALL_PROGRESS.slice(0, 4)) await progress(page, event);
    await run(page, 3000);
    await expectScreen(page, 'work');
    await shoot(page, 'work');

    await settle(page, 'setupInstall', { value: { error: '', notes: ['python', 'restart-resolve'], ok: true } });
    await run(page, 1950);
    await expectScreen(page, 'done');
    await shoot(page, 'done');
    await harness.close(page);

    page = await openAt(harness, 'welcome');
    await run(page, 1100);
    await click(page, '#w-install');
    await playJob(page, 'setupInstall', INSTALL_PROGRESS.slice(0, 2),
      { error: 'Could not write Vellumo.py to the Resolve scripts folder.', notes: [], ok: false });
    await expectScreen(page, 'error');
    await shoot(page, 'error');
    await harness.close(page);

    page = await openAt(harness, 'remove');
    await run(page, 1100);
    await shoot(page, 'remove');
    await harness.close(page);

    for (const name of ['welcome', 'work', 'done', 'error', 'remove']) {
      const png = await fs.readFile(path.join(SHOTS, `${name}.png`));
      assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [880, 580], name);
    }
  });
});

describe('long content', () => {
  test('a long component list scrolls inside the screen; the action row stays', async () => {
    const components = Array.from({ length: 9 }, (_, i) => ({
      detail: 'A detail long enough to wrap onto a second line inside its row, and then some more words.',
      id: `c${i}`, label: `Component ${i} with a label that is rather long as labels go`,
      on: true, optional: i % 2 === 1,
    }));
    const page = await openAt(harness, 'welcome', { info: setupInfo({ components }) });
    const list = await page.locator('#w-list').evaluate((n) => ({
      scroll: n.scrollHeight > n.clientHeight, overflow: getComputedStyle(n).overflowY,
    }));
    assert.deepEqual(list, { scroll: true, overflow: 'auto' });
    const actions = await rect(page, '#s-welcome .actions');
    assert.equal(actions.y + actions.height, 57 + 504 - 24);
    const row = await rect(page, '#w-list .item >> nth=0');
    assert.ok(row.width <= 580 - 56, 'rows wrap inside the list');
    assert.equal((await rect(page, '#w-install')).height, 46);
    await harness.close(page);
  });

  test('many notes scroll inside their area; the action row stays', async () => {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    const notes = ['python', 'no-resolve', 'restart-resolve', ...Array.from({ length: 8 }, (_, i) => `code-${i}`)];
    await settle(page, 'setupInstall', { value: { error: '', notes, ok: true } });
    await run(page, 1950);
    const area = await page.locator('#d-notes').evaluate((n) => ({
      scroll: n.scrollHeight > n.clientHeight, overflow: getComputedStyle(n).overflowY,
    }));
    assert.deepEqual(area, { scroll: true, overflow: 'auto' });
    const actions = await rect(page, '#s-done .actions');
    assert.equal(actions.y + actions.height, 57 + 504 - 24);
    await fs.mkdir(SHOTS, { recursive: true });
    await page.screenshot({ path: path.join(SHOTS, 'done-many-notes.png'), animations: 'disabled' });
    await harness.close(page);
  });
});

describe('focus', () => {
  test('Tab shows the peach outline; a mouse click shows none', async () => {
    const page = await openAt(harness, 'welcome');
    await page.locator('#w-install').waitFor({ state: 'visible' });
    await page.mouse.click(5, 300);
    let seen = null;
    for (let i = 0; i < 6 && seen !== 'w-install'; i += 1) {
      await page.keyboard.press('Tab');
      seen = await page.evaluate(() => document.activeElement.id);
    }
    assert.equal(seen, 'w-install');
    assert.equal(await style(page, '#w-install', 'outline'), 'rgb(239, 196, 165) solid 2px');
    assert.equal(await style(page, '#w-install', 'outline-offset'), '3px');

    await page.click('#min', { force: true });
    assert.equal(await style(page, '#min', 'outline-style'), 'none');
    await harness.close(page);
  });
});

describe('motion', () => {
  test('with reduced motion everything changes at once and the sky stands still', async () => {
    const page = await openAt(harness, 'welcome', { reducedMotion: 'reduce' });
    assert.equal(await style(page, '#s-welcome', 'transition-duration'), '1e-05s');
    assert.equal(await style(page, '.chip >> nth=0', 'transition-duration'), '1e-05s');
    assert.equal(await style(page, '#s-welcome .eyebrow', 'animation-duration'), '1e-05s');
    assert.equal(await style(page, '.b1', 'animation-name'), 'none');
    assert.equal(await style(page, '.b1', 'will-change'), 'auto');
    assert.equal(await style(page, '.mark .stroke >> nth=1', 'stroke-dashoffset'), '0px');
    await harness.close(page);
  });

  test('screens fade and rise; entrances are staggered', async () => {
    const page = await openAt(harness, 'welcome');
    assert.equal(await style(page, '#s-work', 'transform'), 'matrix(0.99, 0, 0, 0.99, 0, 12)');
    assert.equal(await style(page, '#s-work', 'visibility'), 'hidden');
    assert.equal(await style(page, '#s-work', 'pointer-events'), 'none');
    const delays = await page.locator('#s-welcome .rise').evaluateAll((nodes) =>
      nodes.map((n) => getComputedStyle(n).animationDelay));
    assert.deepEqual(delays, ['0.12s', '0.12s', '0.19s', '0.26s', '0.33s', '0.54s']);
    await harness.close(page);
  });
});

describe('narrow viewports', () => {
  const cases = [
    { name: 'at most 760px wide', viewport: { width: 720, height: 580 }, brand: 220, stageX: 220 },
    { name: 'at most 580px wide', viewport: { width: 560, height: 580 }, brand: 0, stageX: 12 },
    { name: 'at most 540px high', viewport: { width: 880, height: 520 }, brand: 280, stageX: 280, ring: 140 },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      const page = await openAt(harness, 'welcome', { viewport: c.viewport });
      assert.equal((await page.locator('.brand').evaluate((n) => n.getBoundingClientRect().width)), c.brand);
      assert.equal((await rect(page, '.stage')).x, c.stageX);
      if (c.ring) {
        await click(page, '#w-install');
        assert.equal((await rect(page, '#ring')).width, c.ring);
        assert.equal(await style(page, '.brand-note', 'display'), 'none');
      }
      await harness.close(page);
    });
  }
});

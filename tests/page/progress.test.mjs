// window.setupProgress: the ring and its frame loop, the step line and the
// sub-step rows.
import assert from 'node:assert/strict';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import { click, openAt, progress, run, text, useHarness } from './harness.mjs';

const harness = useHarness(hooks);

async function working(options) {
  const page = await openAt(harness, 'welcome', options);
  await click(page, '#w-install');
  return page;
}

const ring = (page) => page.evaluate(() => ({
  pct: document.getElementById('pct-n').textContent,
  offset: parseFloat(getComputedStyle(document.getElementById('ring-fill')).strokeDashoffset),
}));

const rows = (page) => page.evaluate(() => [...document.querySelectorAll('#k-subs li')].map((row) => [
  row.textContent, row.classList.contains('now') ? 'now' : 'ticked',
  row.querySelector('.tick svg') ? 'tick' : 'dot',
]));

describe('ring', () => {
  const cases = [
    { name: 'a plain value', events: [58], pct: '58' },
    { name: 'never backwards', events: [58, 40], pct: '58' },
    { name: 'clamped at 100', events: [130], pct: '100' },
    { name: 'clamped after a value', events: [70, 250, 90], pct: '100' },
    { name: 'a negative value does nothing', events: [-5], pct: '0' },
    { name: 'a string of digits is ignored', events: ['70'], pct: '0' },
    { name: 'NaN is ignored', events: [20, NaN], pct: '20' },
    { name: 'Infinity is ignored', events: [Infinity], pct: '0' },
    { name: 'a missing pct is ignored', events: [undefined, null], pct: '0' },
    { name: 'a fraction rounds half upwards', events: [12.5], pct: '13', value: 12.5 },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      const page = await working();
      for (const pct of c.events) await page.evaluate((p) => window.setupProgress({ pct: p }), pct);
      await run(page, 3000);
      const drawn = await ring(page);
      assert.equal(drawn.pct, c.pct);
      assert.ok(Math.abs(drawn.offset - 515 * (1 - (c.value ?? Number(c.pct)) / 100)) < 0.01, `offset ${drawn.offset}`);
      await harness.close(page);
    });
  }

  test('moves smoothly and monotonically, then rests', async () => {
    const page = await working();
    // Count the frames the page asks for from here on.
    await page.evaluate(() => {
      const request = window.requestAnimationFrame;
      window.__frames = 0;
      window.requestAnimationFrame = (fn) => { window.__frames += 1; return request(fn); };
    });
    await progress(page, { pct: 40 });
    await progress(page, { pct: 50 });
    await progress(page, { pct: 60 });
    assert.equal(await page.evaluate(() => window.__frames), 1, 'one frame pending at a time');
    const seen = [];
    for (let i = 0; i < 120; i += 1) {
      await run(page, 16);
      seen.push(await ring(page));
    }
    for (let i = 1; i < seen.length; i += 1) {
      assert.ok(Number(seen[i].pct) >= Number(seen[i - 1].pct), 'the number never falls');
      assert.ok(seen[i].offset <= seen[i - 1].offset, 'the fill never shrinks');
    }
    assert.ok(Number(seen[2].pct) > 0 && Number(seen[2].pct) < 60, `eases in: ${seen[2].pct}`);
    assert.equal(seen.at(-1).pct, '60');
    assert.ok(Math.abs(seen.at(-1).offset - 206) < 0.01);
    const frames = await page.evaluate(() => window.__frames);
    await run(page, 2000);
    assert.equal(await page.evaluate(() => window.__frames), frames, 'the loop rests at its target');
    await harness.close(page);
  });

  test('with reduced motion it jumps to its target', async () => {
    const page = await working({ reducedMotion: 'reduce' });
    await progress(page, { pct: 40 });
    await run(page, 20);
    const drawn = await ring(page);
    assert.equal(drawn.pct, '40');
    assert.ok(Math.abs(drawn.offset - 309) < 0.01);
    await harness.close(page);
  });
});

describe('step line and sub-step rows', () => {
  test('a new label fades in after 160 ms and adds a current row', async () => {
    const page = await working();
    await progress(page, { label: 'Checking the installer', pct: 4 });
    assert.equal(await page.evaluate(() => document.getElementById('k-step').classList.contains('fade')), true);
    assert.deepEqual(await rows(page), [['Checking the installer', 'now', 'dot']]);
    await run(page, 159);
    assert.equal(await text(page, '#k-step'), 'Getting ready...');
    await run(page, 1);
    assert.equal(await text(page, '#k-step'), 'Checking the installer...');
    assert.equal(await page.evaluate(() => document.getElementById('k-step').classList.contains('fade')), false);
    await harness.close(page);
  });

  test('duplicates and "Done" are ignored; at most four rows, older ones ticked', async () => {
    const page = await working();
    for (const label of ['one', 'one', 'two', 'Done', 'three', 'four', 'five']) {
      await progress(page, { label, pct: 10 });
    }
    await run(page, 200);
    assert.deepEqual(await rows(page), [
      ['two', 'ticked', 'tick'], ['three', 'ticked', 'tick'], ['four', 'ticked', 'tick'], ['five', 'now', 'dot'],
    ]);
    assert.equal(await text(page, '#k-step'), 'five...');

    await progress(page, { label: 'Done', pct: 100 });
    await run(page, 200);
    assert.equal(await text(page, '#k-step'), 'five...', '"Done" leaves the step line as it was');
    assert.equal(await page.locator('#k-subs li').count(), 4);
    await harness.close(page);
  });

  test('an empty, missing or non-string label leaves the line and the rows alone', async () => {
    const page = await working();
    await progress(page, { label: 'Checking the installer', pct: 4 });
    await run(page, 200);
    for (const event of [{ label: '', pct: 10 }, { pct: 20 }, { label: 42, pct: 30 }, { label: null }, null, {}]) {
      await progress(page, event);
    }
    await run(page, 200);
    assert.equal(await text(page, '#k-step'), 'Checking the installer...');
    assert.deepEqual(await rows(page), [['Checking the installer', 'now', 'dot']]);
    await run(page, 3000);
    assert.equal((await ring(page)).pct, '30');
    await harness.close(page);
  });
});

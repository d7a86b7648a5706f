// The welcome variants, the install and uninstall journeys, their outcomes and
// the retry, driven through the scripted bridge.
import assert from 'node:assert/strict';
import test, { describe } from 'node:test';
import * as hooks from 'node:test';
import {
  INSTALL_PROGRESS, UNINSTALL_PROGRESS, calls, click, expectScreen, openAt, playJob, progress, run,
  settle, setupInfo, text, useHarness,
} from './harness.mjs';

const harness = useHarness(hooks);
const NAME = 'Vellumo for DaVinci Resolve';

const subRows = (page) => page.evaluate(() => [...document.querySelectorAll('#k-subs li')].map((row) => [
  row.textContent, row.classList.contains('now'), row.querySelector('.tick svg') !== null,
]));

const notes = (page) => page.evaluate(() => [...document.querySelectorAll('#d-notes > *')].map((box) => ({
  className: box.className, text: box.textContent, html: box.innerHTML,
  buttons: [...box.querySelectorAll('button')].map((b) => [b.className, b.textContent]),
})));

describe('welcome screen', () => {
  const variants = [
    { name: 'install', installed: '',
      title: 'Captions that move, inside Resolve',
      lead: 'Caption your timeline in Vellumo and send every styled word straight back to Resolve.',
      button: 'Install', work: 'Installing' },
    { name: 'update from an older version', installed: '0.4.2',
      title: `Update ${NAME}`,
      lead: 'Version 0.4.2 is installed. This brings it to 0.4.4. Your sign-in and captions stay.',
      button: 'Update', work: 'Updating' },
    { name: 'update over a newer version', installed: '0.5.0',
      title: `Update ${NAME}`,
      lead: 'Version 0.5.0 is installed. This brings it to 0.4.4. Your sign-in and captions stay.',
      button: 'Update', work: 'Updating' },
    { name: 'reinstall', installed: '0.4.4',
      title: `${NAME} is installed`,
      lead: 'Reinstall it to repair a missing or damaged file.',
      button: 'Reinstall', work: 'Updating' },
  ];
  for (const v of variants) {
    test(`${v.name}: title, lead, button and work title`, async () => {
      const page = await openAt(harness, 'welcome', { info: setupInfo({ installed: v.installed }) });
      assert.equal(await text(page, '#s-welcome .eyebrow'), 'Your creative workspace');
      assert.equal(await text(page, '#w-title'), v.title);
      assert.equal(await text(page, '#w-lead'), v.lead);
      assert.equal(await text(page, '#w-install'), v.button);
      assert.equal(await text(page, '#w-fine'), 'Installs for your account only. No administrator rights needed.');
      await click(page, '#w-install');
      await expectScreen(page, 'work');
      assert.equal(await text(page, '#k-title'), v.work);
      await harness.close(page);
    });
  }

  test('fixed components show ticks and the install asks with empty options', async () => {
    const page = await openAt(harness, 'welcome');
    const rows = await page.evaluate(() => [...document.querySelectorAll('#w-list .item')].map((row) => ({
      label: row.querySelector('b').textContent,
      detail: row.querySelector('small').textContent,
      tickFirst: row.firstElementChild.classList.contains('tick') && !!row.querySelector('.tick svg'),
      switches: row.querySelectorAll('.toggle').length,
      index: row.style.getPropertyValue('--i'),
    })));
    assert.deepEqual(rows, [
      { label: 'Vellumo window', detail: 'The caption studio that opens from Resolve.', tickFirst: true, switches: 0, index: '2' },
      { label: 'Resolve script', detail: 'Adds Workspace > Scripts > Vellumo to DaVinci Resolve.', tickFirst: true, switches: 0, index: '3' },
    ]);
    await click(page, '#w-install');
    assert.deepEqual(await calls(page, 'setupInstall'), [[{}]]);
    await harness.close(page);
  });

  test('an optional component gets a switch whose state travels with the install', async () => {
    const info = setupInfo({
      components: [
        { detail: 'Always there.', id: 'window', label: 'Vellumo window', on: true, optional: false },
        { detail: 'Adds the sample captions.', id: 'samples', label: 'Samples', on: true, optional: true },
        { detail: 'Adds a desktop icon.', id: 'icon', label: 'Desktop icon', on: false, optional: true },
      ],
    });
    const page = await openAt(harness, 'welcome', { info });
    const switches = () => page.evaluate(() => [...document.querySelectorAll('#w-list .toggle')].map((t) => [
      t.getAttribute('role'), t.getAttribute('aria-label'), t.getAttribute('aria-checked'),
      t.previousElementSibling.classList.contains('text'),
    ]));
    assert.deepEqual(await switches(), [['switch', 'Samples', 'true', true], ['switch', 'Desktop icon', 'false', true]]);
    await click(page, '#w-list .toggle >> nth=0');
    await click(page, '#w-list .toggle >> nth=1');
    await click(page, '#w-list .toggle >> nth=1');
    await click(page, '#w-list .toggle >> nth=1');
    assert.deepEqual(await switches(), [['switch', 'Samples', 'false', true], ['switch', 'Desktop icon', 'true', true]]);
    await click(page, '#w-install');
    assert.deepEqual(await calls(page, 'setupInstall'), [[{ samples: false, icon: true }]]);
    await harness.close(page);
  });

  test('texts from the program are shown as text, never as markup', async () => {
    const markup = '<img src=x onerror="window.__pwned=1"><b>bold</b>';
    const info = setupInfo({
      name: markup, tagline: markup, folder: markup,
      components: [{ detail: markup, id: 'x', label: markup, on: true, optional: false }],
    });
    const page = await openAt(harness, 'welcome', { info });
    assert.equal(await text(page, '#w-lead'), markup);
    assert.equal(await text(page, '#w-list b'), markup);
    assert.equal(await text(page, '#w-list small'), markup);
    assert.equal(await page.locator('#s-welcome img, .brand img, .bar img').count(), 0);
    await click(page, '#w-install');
    await playJob(page, 'setupInstall', [{ label: markup, pct: 50 }], { error: '', notes: [markup], ok: true });
    await run(page, 2000);
    assert.equal(await text(page, '#d-lead'), `${markup} 0.4.4 is installed.`);
    assert.equal(await text(page, '#d-fine'), `Installed in ${markup}`);
    assert.equal((await notes(page))[0].text, markup);
    assert.equal(await page.locator('#s-work img, #s-done img').count(), 0);
    assert.equal(await page.evaluate(() => window.__pwned), undefined);
    await harness.close(page);
  });

  test('a kind without a copy set uses the Resolve set everywhere', async () => {
    const page = await openAt(harness, 'welcome', { info: setupInfo({ kind: 'photoshop' }) });
    assert.equal(await text(page, '#brand-for'), 'for DaVinci Resolve');
    assert.equal(await text(page, '#w-title'), 'Captions that move, inside Resolve');
    assert.equal(await text(page, '#w-fine'), 'Installs for your account only. No administrator rights needed.');
    assert.equal(await text(page, '#chips .chip >> nth=0'), 'DaVinci Resolve found');
    await click(page, '#w-install');
    await playJob(page, 'setupInstall', [], { error: '', notes: ['no-resolve'], ok: true });
    await run(page, 1950);
    await expectScreen(page, 'done');
    assert.equal(await page.locator('#d-steps li').count(), 3);
    assert.match((await notes(page))[0].text, /^DaVinci Resolve was not found\./);
    await harness.close(page);
  });
});

describe('install', () => {
  test('progress, then the done screen with steps, notes and the folder', async () => {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    await expectScreen(page, 'work');
    assert.equal(await text(page, '#k-title'), 'Installing');
    assert.equal(await text(page, '#k-step'), 'Getting ready...');
    assert.equal(await text(page, '#pct-n'), '0');

    await playJob(page, 'setupInstall', INSTALL_PROGRESS,
      { error: '', notes: ['python', 'no-resolve', 'restart-resolve'], ok: true });
    await run(page, 649);
    await expectScreen(page, 'work');
    assert.equal(await page.locator('#ring.done').count(), 0);
    assert.deepEqual((await subRows(page)).map((r) => r.slice(1)), [[false, true], [false, true], [false, true], [true, false]]);

    await run(page, 1);
    assert.equal(await page.locator('#ring.done').count(), 1);
    assert.equal(await text(page, '#k-step'), 'Installed');
    assert.deepEqual(await subRows(page), [
      ['Installing the Vellumo window', false, true],
      ["Adding Vellumo to Resolve's Scripts menu", false, true],
      ['Adding the setup guide', false, true],
      ['Registering with Windows', false, true],
    ]);

    // Still working during the pause: Escape and Enter do nothing.
    await page.keyboard.press('Escape');
    await page.keyboard.press('Enter');
    await run(page, 1299);
    await expectScreen(page, 'work');
    assert.equal(await text(page, '#pct-n'), '100');
    await run(page, 1);
    await expectScreen(page, 'done');
    assert.deepEqual(await calls(page, 'setupWindow'), []);

    assert.equal(await text(page, '#d-title'), "You're all set");
    assert.equal(await text(page, '#d-lead'), `${NAME} 0.4.4 is installed.`);
    const steps = await page.evaluate(() => [...document.querySelectorAll('#d-steps > li')].map((li) =>
      [li.children.length, li.firstElementChild.tagName, li.textContent, li.querySelectorAll('.kbd').length]));
    assert.deepEqual(steps, [
      [1, 'SPAN', 'Restart DaVinci Resolve', 0],
      [1, 'SPAN', 'Open a timeline', 0],
      [1, 'SPAN', 'Choose Workspace \u203a Scripts \u203a Vellumo', 1],
    ]);
    assert.deepEqual(await notes(page), [
      { className: 'note warn',
        text: '64-bit Python 3 is needed. Install Python 3.12 from python.org and tick ' +
          '\u201cAdd python.exe to PATH\u201d, then restart Resolve. Setup installs Vellumo, not Python.Get Python',
        html: '<b>64-bit Python 3 is needed.</b> Install Python 3.12 from python.org and tick ' +
          '\u201cAdd python.exe to PATH\u201d, then restart Resolve. Setup installs Vellumo, not Python.' +
          '<br><button class="btn ghost inline" type="button">Get Python</button>',
        buttons: [['btn ghost inline', 'Get Python']] },
      { className: 'note warn',
        text: 'DaVinci Resolve was not found. Install Resolve and restart it before using the Vellumo script.',
        html: '<b>DaVinci Resolve was not found.</b> Install Resolve and restart it before using the Vellumo script.',
        buttons: [] },
      { className: 'note',
        text: 'Resolve is open. Restart it so Vellumo appears in the Scripts menu.',
        html: '<b>Resolve is open.</b> Restart it so Vellumo appears in the Scripts menu.',
        buttons: [] },
    ]);
    assert.equal(await text(page, '#d-fine'),
      'Installed in C:\\Users\\Ana\\AppData\\Local\\Programs\\Vellumo for DaVinci Resolve');
    assert.equal(await page.evaluate(() => document.getElementById('d-open').hidden), true);
    assert.equal(await text(page, '#d-close'), 'Done');

    await click(page, '#d-notes button');
    assert.deepEqual(await calls(page, 'setupOpen'), [['python']]);
    assert.deepEqual(await calls(page, 'setupWindow'), [], 'the window stays open');
    await click(page, '#d-close');
    assert.deepEqual(await calls(page, 'setupWindow'), [['close']]);
    await harness.close(page);
  });

  test('no notes and an unknown note code', async () => {
    for (const [reply, expected] of [
      [{ error: '', ok: true }, []],
      [{ error: '', notes: [], ok: true }, []],
      [{ error: '', notes: ['restart-resolve', 'mystery-code', 'constructor'], ok: true }, [
        ['note', 'Resolve is open. Restart it so Vellumo appears in the Scripts menu.'],
        ['note', 'mystery-code'],
        ['note', 'constructor'],
      ]],
    ]) {
      const page = await openAt(harness, 'welcome');
      await click(page, '#w-install');
      await settle(page, 'setupInstall', { value: reply });
      await run(page, 1950);
      await expectScreen(page, 'done');
      assert.equal(await page.locator('#d-steps li').count(), 3);
      assert.deepEqual((await notes(page)).map((n) => [n.className, n.text]), expected);
      await harness.close(page);
    }
  });
});

describe('uninstall', () => {
  test('from the remove screen to "Uninstalled"', async () => {
    const page = await openAt(harness, 'remove');
    await click(page, '#r-go');
    await expectScreen(page, 'work');
    assert.deepEqual(await calls(page, 'setupUninstall'), [[]]);
    assert.equal(await text(page, '#k-title'), 'Uninstalling');
    await playJob(page, 'setupUninstall', UNINSTALL_PROGRESS, { error: '', notes: ['python'], ok: true });
    await run(page, 650);
    assert.equal(await text(page, '#k-step'), 'Removed');
    assert.equal(await page.locator('#ring.done').count(), 1);
    // The rows stay as they were: the last keeps its pulsing dot.
    assert.deepEqual(await subRows(page), [
      ['Reading what was installed', false, true],
      ['Removing files', false, true],
      ['Removing shortcuts', false, true],
      ['Removing settings', true, false],
    ]);
    await run(page, 1199);
    await expectScreen(page, 'work');
    await run(page, 1);
    await expectScreen(page, 'done');
    assert.equal(await text(page, '#d-title'), 'Uninstalled');
    assert.equal(await text(page, '#d-lead'), `${NAME} was removed. Thanks for trying Vellumo.`);
    assert.equal(await page.locator('#d-steps li').count(), 0);
    assert.equal(await page.locator('#d-notes > *').count(), 0, 'the notes are not read');
    assert.equal(await text(page, '#d-fine'), '');
    await harness.close(page);
  });

  test('refused while the companion runs: the error follows at once', async () => {
    const page = await openAt(harness, 'remove');
    await click(page, '#r-go');
    await settle(page, 'setupUninstall', { value: { error: 'Close VellumoCompanion first, then try again.', notes: [], ok: false } });
    await expectScreen(page, 'error');
    assert.equal(await text(page, '#e-title'), "Couldn't uninstall");
    assert.equal(await text(page, '#e-lead'), 'Close VellumoCompanion first, then try again.');
    assert.equal(await text(page, '#e-retry'), 'Try again');
    assert.equal(await text(page, '#e-close'), 'Close');

    await click(page, '#e-retry');
    await expectScreen(page, 'work');
    assert.deepEqual(await calls(page, 'setupUninstall'), [[], []]);
    assert.deepEqual(await calls(page, 'setupInstall'), []);
    await playJob(page, 'setupUninstall', UNINSTALL_PROGRESS, { error: '', notes: [], ok: true });
    await run(page, 1850);
    await expectScreen(page, 'done');
    assert.equal(await text(page, '#d-title'), 'Uninstalled');
    await harness.close(page);
  });
});

describe('failed install', () => {
  const failures = [
    ['a step message', { value: { error: 'Could not create C:\\x.', notes: [], ok: false } }, 'Could not create C:\\x.'],
    ['an empty error', { value: { error: '', notes: [], ok: false } }, 'Something went wrong.'],
    ['no error at all', { value: { ok: false } }, 'Something went wrong.'],
    ['the busy reply', { value: { error: 'Already working.', ok: false } }, 'Already working.'],
    ['no reply', { value: null }, 'Something went wrong.'],
    ['a reply without ok', { value: { error: 'Half a reply.' } }, 'Half a reply.'],
    ['a rejected promise', { error: 'JSON parse error' }, 'JSON parse error'],
  ];
  for (const [name, answer, lead] of failures) {
    test(`${name}: the error screen`, async () => {
      const page = await openAt(harness, 'welcome');
      await click(page, '#w-install');
      await progress(page, INSTALL_PROGRESS[0]);
      await settle(page, 'setupInstall', answer);
      await expectScreen(page, 'error');
      assert.equal(await text(page, '#e-title'), "That didn't work");
      assert.equal(await text(page, '#e-lead'), lead);
      assert.equal(await page.evaluate(() => document.getElementById('e-retry').hidden), false);
      await harness.close(page);
    });
  }

  test('retry runs the same job again on a reset work screen', async () => {
    const info = setupInfo({
      installed: '0.4.2',
      components: [{ detail: 'd', id: 'samples', label: 'Samples', on: true, optional: true }],
    });
    const page = await openAt(harness, 'welcome', { info });
    await click(page, '#w-list .toggle');
    await click(page, '#w-install');
    await playJob(page, 'setupInstall', INSTALL_PROGRESS.slice(0, 3), { error: 'Disk full.', notes: ['python'], ok: false });
    await expectScreen(page, 'error');
    await run(page, 200);

    await click(page, '#e-retry');
    await expectScreen(page, 'work');
    assert.equal(await text(page, '#k-title'), 'Updating');
    assert.equal(await text(page, '#k-step'), 'Getting ready...');
    assert.equal(await text(page, '#pct-n'), '0');
    assert.deepEqual(await subRows(page), []);
    assert.equal(await page.locator('#ring.done').count(), 0);
    assert.equal(await page.evaluate(() => getComputedStyle(document.getElementById('ring-fill')).strokeDashoffset), '515px');
    assert.deepEqual(await calls(page, 'setupInstall'), [[{ samples: false }], [{ samples: false }]]);
    assert.deepEqual(await calls(page, 'setupInfo'), [[]], 'the setup information is not asked again');

    // The same labels as before count as new.
    await playJob(page, 'setupInstall', INSTALL_PROGRESS, { error: '', notes: [], ok: true });
    await run(page, 1950);
    await expectScreen(page, 'done');
    assert.equal(await text(page, '#d-title'), "You're all set");
    await harness.close(page);
  });

  test('a label fading in when the job fails does not reach the next attempt', async () => {
    const page = await openAt(harness, 'welcome');
    await click(page, '#w-install');
    await progress(page, { label: 'Installing the Vellumo window', pct: 18 });
    await settle(page, 'setupInstall', { value: { error: 'x', ok: false } });
    await click(page, '#e-retry');
    await run(page, 500);
    assert.equal(await text(page, '#k-step'), 'Getting ready...');
    await harness.close(page);
  });
});

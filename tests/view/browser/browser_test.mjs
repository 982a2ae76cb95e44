// End to end in a real browser: asioloop records the simulated device, the
// viewer turns its report into a page, and headless Chromium opens the page
// offline. Each channel's plot must be drawn with its peak marked, its
// latency and verdict must show, and the page must request nothing but
// itself. A full-page screenshot is kept as an artifact.
//
// node browser_test.mjs --asioloop EXE --view EXE --modules NODE_MODULES --artifacts DIR
// Exits 0 on success, 1 on failure, 77 when it cannot run here (no Chromium).
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync, mkdirSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const CHROMIUM = '/usr/bin/chromium';
const SKIP = 77;

const options = {};
for (let k = 2; k + 1 < process.argv.length; k += 2) options[process.argv[k].replace(/^--/, '')] = process.argv[k + 1];
for (const name of ['asioloop', 'view', 'modules', 'artifacts']) {
  if (!options[name]) {
    console.error(`missing --${name}`);
    process.exit(1);
  }
}
if (!existsSync(CHROMIUM)) {
  console.log(`SKIP: no Chromium at ${CHROMIUM} (Debian package chromium), so the page cannot be opened`);
  process.exit(SKIP);
}

const failures = [];
let passed = 0;
function check(condition, what) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
  if (condition) ++passed;
  else failures.push(what);
}

// Three inputs: two straight loopbacks and one inverted, attenuated and late.
const device = {
  devices: [{
    name: 'View', clock: 'freewheel', bufferSamples: 256, maxTicks: 40, noise: 0.0005,
    outputs: [{format: 16}, {format: 16}],
    inputs: [{}, {}, {}],
    routes: [
      {from: 0, to: 0, latency: 120},
      {from: 1, to: 1, latency: 549},
      {from: 0, to: 2, latency: 2000, gain: -0.8},
    ],
  }],
};
const expected = [
  {latency: 120, verdict: 'ok'},
  {latency: 549, verdict: 'ok'},
  {latency: 2000, verdict: 'inverted'},
];

const work = mkdtempSync(join(tmpdir(), 'asioloop-view-browser-'));
let context;
try {
  const config = join(work, 'device.json');
  writeFileSync(config, JSON.stringify(device));
  const env = {...process.env, ASIOSIM_CONFIG: config, ASIOLOOP_TEMP_DIR: work};

  const recording = spawnSync(options.asioloop, [], {env, input: '1\n', encoding: 'utf8', timeout: 60000});
  check(recording.status === 0, `asioloop ran (status ${recording.status})`);
  const viewing = spawnSync(options.view, [], {env, encoding: 'utf8', timeout: 60000});
  check(viewing.status === 0, `asioloop-view ran (status ${viewing.status}) ${viewing.stderr.trim()}`);
  const pagePath = join(work, 'ASIO PCM.html');
  if (!existsSync(pagePath)) throw new Error('no page was written');
  const summary = JSON.parse(readFileSync(join(work, 'ASIO PCM.json'), 'utf8'));
  check(summary.channels.map((c) => c.latencySamples).join() === expected.map((c) => c.latency).join(),
        'the summary has the simulated latencies');

  const require = createRequire(join(options.modules, 'noop.js'));
  const { chromium } = require('playwright-core');
  const profile = join(work, 'profile');
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync'],
    viewport: {width: 1280, height: 900},
  });

  const pageUrl = pathToFileURL(pagePath).href;
  const requests = [];
  const errors = [];
  context.on('request', (request) => requests.push(request.url()));
  const page = context.pages()[0] ?? await context.newPage();
  page.on('pageerror', (error) => errors.push(String(error)));
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });

  await page.goto(pageUrl, {waitUntil: 'load'});
  // The plots are drawn by the page's last script; wait for all of them.
  await page.waitForFunction((count) => document.querySelectorAll('[data-drawn="true"]').length === count,
                             expected.length + 1, {timeout: 30000});

  for (let k = 0; k < expected.length; ++k) {
    // Pixels of the plot's canvas: some drawn, and some in the peak marker's red.
    const pixels = await page.evaluate((id) => {
      const canvas = document.querySelector(`#${id} canvas`);
      if (!canvas) return {drawn: 0, red: 0};
      const image = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
      let drawn = 0, red = 0;
      for (let i = 0; i < image.length; i += 4) {
        if (image[i + 3] > 0) ++drawn;
        if (image[i] > 180 && image[i + 1] < 80 && image[i + 2] < 80 && image[i + 3] > 200) ++red;
      }
      return {drawn, red};
    }, `plot-${k}`);
    check(pixels.drawn > 1000 && pixels.red > 20, `input ${k}: plot drawn (${pixels.drawn} pixels, ${pixels.red} of the peak marker)`);

    const latency = (await page.textContent(`#row-${k} .latency-samples`)).trim();
    const verdict = (await page.textContent(`#row-${k} .verdict`)).trim();
    const heading = await page.textContent(`#channel-${k} h2`);
    check(latency === String(expected[k].latency), `input ${k}: latency ${latency} shown`);
    check(verdict === expected[k].verdict, `input ${k}: verdict ${verdict} shown`);
    check(heading.includes(`${expected[k].latency} samples`) && heading.includes(expected[k].verdict),
          `input ${k}: heading "${heading.trim()}"`);
  }
  const title = await page.textContent('#title');
  check(expected.every((c, k) => title.includes(`input ${k}: ${c.latency} samples`)), `title "${title.trim()}"`);

  const outside = requests.filter((url) => url !== pageUrl);
  check(requests.includes(pageUrl) && outside.length === 0,
        `no request outside the page (${outside.length ? outside.join(', ') : 'none'})`);
  check(errors.length === 0, `no script errors (${errors.join('; ') || 'none'})`);

  mkdirSync(options.artifacts, {recursive: true});
  const shot = join(options.artifacts, 'view-screenshot.png');
  await page.screenshot({path: shot, fullPage: true});
  console.log(`screenshot: ${shot}`);
} catch (error) {
  check(false, `the run went through: ${error && error.stack ? error.stack : error}`);
} finally {
  if (context) await context.close();
  rmSync(work, {recursive: true, force: true});
}

console.log(`${passed} passed, ${failures.length} failed`);
process.exit(failures.length === 0 ? 0 : 1);

#!/usr/bin/env node
// Full-page PNG screenshots of a list of URLs with Puppeteer or Playwright, one browser.
//
//   node peer.js --tool puppeteer|playwright --out DIR [--jobs 1|2] [--width 1024]
//                [--json FILE] [--no-cache] URL...
// --no-cache (Puppeteer only) turns the browser cache off, as korvane-capture does.
//
// The browser is Debian's /usr/bin/chromium, never a downloaded one. --jobs 2 keeps two
// pages of the one browser busy, taking URLs from a shared queue. Timings (ms, from this
// process's start) go to --json: browser launch, and per URL navigate+screenshot+write.
'use strict';
const fs = require('fs');
const path = require('path');

const t0 = process.hrtime.bigint();
const ms = () => Number(process.hrtime.bigint() - t0) / 1e6;

function parseArgs(argv) {
  const o = { tool: null, out: '.', jobs: 1, width: 1024, height: 768, json: null, noCache: false, urls: [] };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--tool') o.tool = argv[++i];
    else if (a === '--out') o.out = argv[++i];
    else if (a === '--jobs') o.jobs = parseInt(argv[++i], 10);
    else if (a === '--width') o.width = parseInt(argv[++i], 10);
    else if (a === '--json') o.json = argv[++i];
    else if (a === '--no-cache') o.noCache = true;
    else o.urls.push(a);
  }
  if (!['puppeteer', 'playwright'].includes(o.tool) || o.urls.length === 0 || !(o.jobs >= 1)) {
    console.error('usage: peer.js --tool puppeteer|playwright --out DIR [--jobs N] [--json FILE] URL...');
    process.exit(2);
  }
  return o;
}

const CHROMIUM_ARGS = [
  '--headless', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync',
];
if (process.getuid && process.getuid() === 0) CHROMIUM_ARGS.push('--no-sandbox');

function fileFor(out, index, url) {
  const stem = url.replace(/^[a-z]+:\/\/[^/]*\//, '').replace(/[^A-Za-z0-9._-]+/g, '_') || 'page';
  return path.join(out, `${String(index).padStart(3, '0')}-${stem}.png`);
}

async function launch(tool, o) {
  const viewport = { width: o.width, height: o.height };
  if (tool === 'puppeteer') {
    const puppeteer = require('puppeteer-core');
    const browser = await puppeteer.launch({
      executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS,
      defaultViewport: viewport,
    });
    return {
      newPage: async () => {
        const page = await browser.newPage();
        if (o.noCache) await page.setCacheEnabled(false);
        return page;
      },
      shoot: async (page, url, file) => {
        await page.goto(url, { waitUntil: 'load', timeout: 120000 });
        await page.screenshot({ path: file, fullPage: true, type: 'png' });
      },
      close: async () => browser.close(),
    };
  }
  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS,
  });
  const context = await browser.newContext({ viewport });
  return {
    newPage: async () => context.newPage(),
    shoot: async (page, url, file) => {
      await page.goto(url, { waitUntil: 'load', timeout: 120000 });
      await page.screenshot({ path: file, fullPage: true, type: 'png', timeout: 120000 });
    },
    close: async () => browser.close(),
  };
}

async function main() {
  const o = parseArgs(process.argv.slice(2));
  fs.mkdirSync(o.out, { recursive: true });
  const result = { tool: o.tool, jobs: o.jobs, start: ms(), pages: [] };
  const b = await launch(o.tool, o);
  result.launched = ms();
  let next = 0;
  const failures = [];
  async function worker() {
    const page = await b.newPage();
    for (;;) {
      const i = next++;
      if (i >= o.urls.length) break;
      const file = fileFor(o.out, i, o.urls[i]);
      const s = ms();
      try {
        await b.shoot(page, o.urls[i], file);
        result.pages.push({ url: o.urls[i], file, start: s, end: ms() });
        process.stdout.write(file + '\n');
      } catch (e) {
        failures.push(`${o.urls[i]}: ${e.message}`);
      }
    }
    await page.close();
  }
  await Promise.all(Array.from({ length: Math.min(o.jobs, o.urls.length) }, worker));
  result.captured = ms();
  await b.close();
  result.end = ms();
  result.failures = failures;
  if (o.json) fs.writeFileSync(o.json, JSON.stringify(result, null, 1));
  for (const f of failures) console.error('failed: ' + f);
  process.exit(failures.length ? 1 : 0);
}

main().catch((e) => { console.error(e); process.exit(1); });

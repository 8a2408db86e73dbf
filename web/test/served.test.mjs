// The same page from a static web server on this machine, on a phone-sized
// screen, and where the browser lets no worker start.

import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import { after, before, test } from 'node:test';
import * as t from './support.mjs';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };
let server;
let url;
let native;

before(async () => {
    native = t.nativeDemo();
    server = createServer(async (request, response) => {
        const path = new URL(request.url, 'http://localhost').pathname;
        try {
            const body = await readFile(join(t.pageDir, path === '/' ? 'index.html' : path.slice(1)));
            response.writeHead(200, { 'content-type': types[extname(path)] ?? 'text/html' }).end(body);
        } catch {
            response.writeHead(404).end();
        }
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    url = `http://127.0.0.1:${server.address().port}/`;
});
after(() => server?.close());

test('works from a static web server on a phone-sized screen', async () => {
    const context = await t.launch({ viewport: { width: 360, height: 740 }, isMobile: true });
    try {
        const page = await t.openPage(context, url);
        assert.equal(await page.getAttribute('html', 'data-engine'), 'worker');
        assert.equal(await t.openArchive(page, t.demo), 'Opened “demo.pev”.');
        assert.equal(await page.locator('#clips tbody tr[data-position]').count(), 3);
        // Nothing sticks out sideways.
        assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
        assert.deepEqual(page.errors, []);
    } finally {
        await context.close();
    }
});

test('says that the browser lacks WebAssembly SIMD where it does', async () => {
    const context = await t.launch();
    try {
        await context.addInitScript(() => {
            window.Worker = undefined; // the engine on the page, where the probe below is seen
            WebAssembly.validate = () => false;
        });
        const page = await context.newPage();
        await page.goto(url);
        await page.waitForFunction(() => /lacks WebAssembly SIMD/.test(document.querySelector('#message').textContent));
    } finally {
        await context.close();
    }
});

test('runs the engine on the page itself where no worker may start', async () => {
    const context = await t.launch();
    try {
        await context.addInitScript(() => {
            window.Worker = function () {
                throw new DOMException('Workers are barred here', 'SecurityError');
            };
        });
        const page = await t.openPage(context, url);
        assert.equal(await page.getAttribute('html', 'data-engine'), 'page');
        assert.equal(await t.openArchive(page, t.demo), 'Opened “demo.pev”.');
        const wav = await t.download(page, () => page.click('tr[data-position="3"] button.download'));
        assert.ok(wav.bytes.equals(native.wav(3)));
        assert.deepEqual(page.errors, []);
    } finally {
        await context.close();
    }
});

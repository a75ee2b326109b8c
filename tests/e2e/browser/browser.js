// What the browser tests, the benchmark and the screenshot script share: Debian's Chromium
// started headless on a fresh profile, and a look at the camera page's picture.
'use strict';

const { chromium } = require('playwright-core');

const CHROMIUM = process.env.KESTROVA_CHROMIUM || '/usr/bin/chromium';

async function launch() {
    return chromium.launch({
        executablePath: CHROMIUM,
        headless: true,
        // Playwright gives every launch a fresh --user-data-dir of its own.
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
               '--disable-background-networking', '--disable-component-update', '--disable-sync'],
        timeout: 30000,
    });
}

// One line of JSON on standard output: the test reads them as they come.
function report(event, fields) {
    process.stdout.write(JSON.stringify(Object.assign({ event: event }, fields)) + '\n');
}

// The picture the camera page shows now: the tag of the frame (set by the page's script once it
// has fetched one; empty for the picture the page came with), and one grey level per column
// over the rows that show only the virtual camera's still background (hills and houses; rows
// 40 to 140 of 240, above the moving ball). Null while no picture is shown.
function lookAtPicture() {
    const img = document.getElementById('picture');
    if (!img || img.hidden || !img.complete || img.naturalWidth === 0) {
        return null;
    }
    const w = img.naturalWidth;
    const h = img.naturalHeight;
    const canvas = document.createElement('canvas');
    canvas.width = w;
    canvas.height = h;
    const g = canvas.getContext('2d');
    g.drawImage(img, 0, 0);
    const d = g.getImageData(0, 0, w, h).data;
    const grey = (x, y) => {
        const i = (y * w + x) * 4;
        return (d[i] + d[i + 1] + d[i + 2]) / 3;
    };
    const top = Math.round(h * 40 / 240);
    const bottom = Math.round(h * 140 / 240);
    const columns = [];
    for (let x = 0; x < w; x++) {
        let sum = 0;
        for (let y = top; y < bottom; y++) {
            sum += grey(x, y);
        }
        columns.push(sum / (bottom - top));
    }
    return { frame: img.dataset.frame || '', width: w, height: h, columns: columns };
}

// How far the still background moved from `before` to `after`, in pixels: the shift whose
// columns match best, and how well it matches compared with no shift at all.
function backgroundShift(before, after) {
    const reach = Math.round(before.columns.length * 60 / 320);
    const error = (dx) => {
        let sum = 0;
        let n = 0;
        for (let x = reach; x < after.columns.length - reach; x++) {
            sum += Math.abs(after.columns[x] - before.columns[x + dx]);
            n++;
        }
        return sum / n;
    };
    let best = { dx: 0, error: Infinity };
    for (let dx = -reach; dx <= reach; dx++) {
        const e = error(dx);
        if (e < best.error) {
            best = { dx: dx, error: e };
        }
    }
    return { dx: best.dx, error: best.error, still: error(0) };
}

// True when the background moved by at least `pixels` (a pan step moves it 16 of 320).
function panned(before, after, pixels) {
    const s = backgroundShift(before, after);
    return Math.abs(s.dx) >= pixels && s.error < s.still / 2;
}

// True when the page has swapped in a newer frame than `before` (one with other bytes).
function fetched(picture) {
    return picture.frame !== '';
}

function differs(before, after) {
    return fetched(before) && fetched(after) && after.frame !== before.frame;
}

// Waits until the page shows a picture for which `test(picture)` holds; the picture, or an
// error after `ms`. The picture is looked at every 50 ms.
async function waitForPicture(page, ms, test) {
    const end = Date.now() + ms;
    for (;;) {
        const picture = await page.evaluate(lookAtPicture);
        if (picture !== null && test(picture)) {
            return picture;
        }
        if (Date.now() >= end) {
            throw new Error('the picture did not turn up within ' + ms + ' ms');
        }
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
}

module.exports = { launch, report, lookAtPicture, backgroundShift, panned, fetched, differs,
                   waitForPicture };

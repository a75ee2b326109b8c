// The benchmark's browser side. Usage:
//   node bench.js clicks URL N   clicks "Pan left" and "Pan right" in turn N times, each after a
//                                line "go" on standard input, printing when it clicked
//   node bench.js frames URL N   clicks them N times in turn and measures each time from the
//                                click to the first picture that shows the camera moved
// Prints one JSON line per click; exits non-zero with the reason on standard error.
'use strict';

const readline = require('readline');
const { launch, report, backgroundShift, panned, waitForPicture } = require('./browser');

const now = () => performance.timeOrigin + performance.now();

async function clicks(page, count) {
    const lines = readline.createInterface({ input: process.stdin })[Symbol.asyncIterator]();
    for (let i = 0; i < count; i++) {
        const line = await lines.next();
        if (line.done) {
            return;
        }
        const name = i % 2 === 0 ? 'Pan left' : 'Pan right';
        const at = now();
        await page.getByRole('button', { name: name, exact: true }).click();
        report('clicked', { at: at, button: name });
    }
}

async function frames(page, count) {
    let before = await waitForPicture(page, 10000, () => true);
    for (let i = 0; i < count; i++) {
        // A viewer clicks at any moment of the station's upload cycle, not right after a
        // picture came.
        await new Promise((resolve) => setTimeout(resolve, Math.random() * 1000));
        const name = i % 2 === 0 ? 'Pan left' : 'Pan right';
        const at = now();
        await page.getByRole('button', { name: name, exact: true }).click();
        const after = await waitForPicture(page, 15000, (p) => panned(before, p, 8));
        report('shown', { ms: now() - at, dx: backgroundShift(before, after).dx });
        before = after;
    }
}

(async () => {
    const [mode, url, count] = process.argv.slice(2);
    const browser = await launch();
    try {
        const page = await browser.newPage();
        await page.goto(url, { timeout: 10000 });
        await waitForPicture(page, 10000, () => true);
        report('ready', {});
        if (mode === 'clicks') {
            await clicks(page, Number(count));
        } else if (mode === 'frames') {
            await frames(page, Number(count));
        } else {
            throw new Error('unknown mode ' + mode);
        }
        report('done', {});
    } finally {
        await browser.close();
    }
})().catch((e) => {
    process.stderr.write('bench: ' + (e && e.stack ? e.stack : e) + '\n');
    process.exit(1);
});

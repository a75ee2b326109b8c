// The camera page in a real browser. Usage:
//   node camera-page.js pan URL           the picture shows, changes, and pans after "Pan left"
//   node camera-page.js password URL PW   a password-protected camera and its archive
// Prints one JSON line per step; exits non-zero with the reason on standard error.
'use strict';

const { launch, report, backgroundShift, panned, fetched, differs, waitForPicture } =
    require('./browser');

async function pan(page, url) {
    const opened = Date.now();
    await page.goto(url, { waitUntil: 'commit', timeout: 10000 });
    await waitForPicture(page, 10000, () => true);
    report('picture', { ms: Date.now() - opened });
    const first = await waitForPicture(page, 10000, fetched);
    const fresh = await waitForPicture(page, 15000, (p) => differs(first, p));
    report('changed', { ms: Date.now() - opened });

    const button = page.getByRole('button', { name: 'Pan left', exact: true });
    const answered = page.waitForResponse((r) => r.url().endsWith('/webcams/command'),
                                          { timeout: 5000 });
    const clicked = Date.now();
    await button.click();
    const answer = await answered;
    report('command', { status: answer.status(), ms: Date.now() - clicked });
    const after = await waitForPicture(page, 15000, (p) => panned(fresh, p, 8));
    report('panned', { ms: Date.now() - clicked, dx: backgroundShift(fresh, after).dx });
}

async function password(page, url, secret) {
    await page.goto(url, { timeout: 10000 });
    const field = page.locator('input[type="password"]');
    await field.waitFor({ timeout: 5000 });
    report('asked', { status: 401 });
    await field.fill('not-' + secret);
    await Promise.all([page.waitForNavigation({ timeout: 10000 }),
                       page.getByRole('button', { name: 'View the camera' }).click()]);
    report('wrong', { says: await page.locator('.message').innerText() });
    await page.locator('input[type="password"]').fill(secret);
    await Promise.all([page.waitForNavigation({ timeout: 10000 }),
                       page.getByRole('button', { name: 'View the camera' }).click()]);
    await waitForPicture(page, 10000, () => true);
    report('picture', {});
    await Promise.all([page.waitForNavigation({ timeout: 10000 }),
                       page.getByRole('link', { name: 'Archive' }).click()]);
    const frames = page.locator('.frames img');
    await frames.first().waitFor({ timeout: 5000 });
    await page.waitForFunction(() => [...document.querySelectorAll('.frames img')]
                                   .every((img) => img.complete && img.naturalWidth > 0),
                               null, { timeout: 10000, polling: 50 });
    report('archive', { days: await page.locator('.days li').count(),
                        frames: await frames.count() });
    const link = await page.locator('.frames a').first().getAttribute('href');
    const frame = await page.request.get(new URL(link, page.url()).toString());
    report('frame', { status: frame.status(), type: frame.headers()['content-type'] });
}

(async () => {
    const [scenario, url, secret] = process.argv.slice(2);
    const browser = await launch();
    try {
        const page = await browser.newPage({ viewport: { width: 800, height: 900 } });
        if (scenario === 'pan') {
            await pan(page, url);
        } else if (scenario === 'password') {
            await password(page, url, secret);
        } else {
            throw new Error('unknown scenario ' + scenario);
        }
        report('done', {});
    } finally {
        await browser.close();
    }
})().catch((e) => {
    process.stderr.write('camera-page: ' + (e && e.stack ? e.stack : e) + '\n');
    process.exit(1);
});

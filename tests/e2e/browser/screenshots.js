// Photographs the relay's viewer pages for the README. Usage:
//   node screenshots.js BASE CAMERA OUTDIR
// (BASE: http://host:port). Waits for the camera's picture to show and refresh before each
// picture is taken.
'use strict';

const path = require('path');
const { launch, fetched, differs, waitForPicture } = require('./browser');

async function shoot(page, url, file, ready) {
    await page.goto(url, { timeout: 10000 });
    if (ready) {
        await ready(page);
    }
    await page.screenshot({ path: file, fullPage: true });
    process.stdout.write(file + '\n');
}

async function livePicture(page) {
    const first = await waitForPicture(page, 10000, fetched);
    await waitForPicture(page, 15000, (p) => differs(first, p));
}

async function allImages(page) {
    await page.waitForFunction(() => [...document.images].every((i) => i.complete),
                               null, { timeout: 10000, polling: 100 });
}

(async () => {
    const [base, camera, out] = process.argv.slice(2);
    const browser = await launch();
    try {
        const desktop = await browser.newPage({ viewport: { width: 900, height: 820 } });
        const id = encodeURIComponent(camera);
        await shoot(desktop, base + '/webcams/index.jsp?id=' + id + '&path=webcams&type=1&gads=1' +
                    '&ptz=true&browser=MOZILLA&name=Garden%20Camera',
                    path.join(out, 'viewer-camera.png'), livePicture);
        await shoot(desktop, base + '/webcams/PassRequiredArchive?id=' + id + '&name=Garden%20Camera',
                    path.join(out, 'viewer-archive.png'), allImages);
        await shoot(desktop, base + '/livelist.php', path.join(out, 'viewer-livelist.png'),
                    allImages);
        await shoot(desktop, base + '/webcams/admin/index.jsp?id=' + id + '&path=webcams' +
                    '&sphere=False&gads=1&opticam=False', path.join(out, 'viewer-admin.png'));
        await shoot(desktop, base + '/fchat/chat2.php?path=1&name=Ann&room=Garden%20Chat:0',
                    path.join(out, 'viewer-chat.png'));
        // A page the browser does not show counts as hidden, and the camera page stops
        // refreshing while hidden.
        await desktop.close();
        const phone = await browser.newPage({ viewport: { width: 390, height: 844 },
                                              deviceScaleFactor: 1, isMobile: true,
                                              hasTouch: true });
        await shoot(phone, base + '/webcams/index.jsp?id=' + id + '&name=Garden%20Camera',
                    path.join(out, 'viewer-phone.png'), livePicture);
    } finally {
        await browser.close();
    }
})().catch((e) => {
    process.stderr.write('screenshots: ' + (e && e.stack ? e.stack : e) + '\n');
    process.exit(1);
});

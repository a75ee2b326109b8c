// Keeps the live picture of one camera fresh: about once a second it fetches the camera's
// latest frame and swaps it in once it has loaded, so the picture never flickers.
(function () {
    'use strict';

    const PERIOD_MS = 1000;
    const figure = document.getElementById('live');
    const picture = document.getElementById('picture');
    const status = document.getElementById('status');
    const camera = figure.dataset.camera;
    let shownUrl = null;

    function showNoPicture(text) {
        picture.hidden = true;
        status.textContent = text;
    }

    function showFrame(blob) {
        const url = URL.createObjectURL(blob);
        picture.onload = function () {
            if (shownUrl !== null) {
                URL.revokeObjectURL(shownUrl);
            }
            shownUrl = url;
            picture.hidden = false;
            status.textContent = 'Live - updated ' + new Date().toLocaleTimeString();
        };
        picture.onerror = function () {
            URL.revokeObjectURL(url);
        };
        picture.src = url;
    }

    async function refresh() {
        if (!document.hidden) {
            try {
                // Revalidated every time: an unchanged frame comes back as 304 from the relay
                // (or a cache in front of it) without its bytes.
                const address = '/webcams/live?id=' + encodeURIComponent(camera);
                const answer = await fetch(address, { cache: 'no-cache' });
                if (answer.ok) {
                    showFrame(await answer.blob());
                } else if (answer.status === 404) {
                    showNoPicture('No picture yet');
                } else {
                    status.textContent = 'The relay answered ' + answer.status + '; retrying';
                }
            } catch (e) {
                status.textContent = 'The relay cannot be reached; retrying';
            }
        }
        setTimeout(refresh, PERIOD_MS);
    }

    refresh();
})();

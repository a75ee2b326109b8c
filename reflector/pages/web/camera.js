// The camera page: keeps the live picture fresh (about once a second it asks for the latest
// frame and swaps it in once loaded, so the picture never flickers) and sends the camera
// buttons' commands without leaving the page. For a few seconds after a command it asks four
// times a second, so that the move shows as soon as the station sends it.
(function () {
    'use strict';

    const PERIOD_MS = 1000;
    const FAST_MS = 250;
    const FAST_FOR_MS = 3000;
    const figure = document.getElementById('live');
    const picture = document.getElementById('picture');
    const status = document.getElementById('status');
    const camera = figure.dataset.camera;
    let shownUrl = null;
    let shownTag = null;
    let timer = null;
    let busy = false;
    let fastUntil = 0;

    function say(text) {
        status.textContent = text;
    }

    function showFrame(blob, tag) {
        const url = URL.createObjectURL(blob);
        const next = new Image();
        next.onload = function () {
            picture.src = url;
            if (shownUrl !== null) {
                URL.revokeObjectURL(shownUrl);
            }
            shownUrl = url;
            shownTag = tag;
            picture.dataset.frame = tag || '';
            picture.hidden = false;
            say('Live - updated ' + new Date().toLocaleTimeString());
        };
        next.onerror = function () {
            URL.revokeObjectURL(url);
        };
        next.src = url;
    }

    function schedule(ms) {
        clearTimeout(timer);
        timer = setTimeout(refresh, ms);
    }

    async function refresh() {
        if (busy) {
            return;
        }
        busy = true;
        if (!document.hidden) {
            try {
                // Revalidated every time: an unchanged frame comes back as 304 from the relay
                // (or a cache in front of it) without its bytes.
                const address = '/webcams/live?id=' + encodeURIComponent(camera);
                const answer = await fetch(address, { cache: 'no-cache' });
                if (answer.ok) {
                    const tag = answer.headers.get('ETag');
                    if (tag === null || tag !== shownTag) {
                        showFrame(await answer.blob(), tag);
                    }
                } else if (answer.status === 404) {
                    picture.hidden = true;
                    say('No picture yet');
                } else if (answer.status === 401) {
                    // The session ended (the password changed): the page asks again.
                    window.location.reload();
                    return;
                } else {
                    say('The relay answered ' + answer.status + '; retrying');
                }
            } catch (e) {
                say('The relay cannot be reached; retrying');
            }
        }
        busy = false;
        schedule(Date.now() < fastUntil ? FAST_MS : PERIOD_MS);
    }

    async function send(command) {
        const body = new URLSearchParams();
        body.set('id', camera);
        body.set('cmd', command);
        try {
            const answer = await fetch('/webcams/command', { method: 'POST', body: body });
            if (answer.ok) {
                fastUntil = Date.now() + FAST_FOR_MS;
                if (!busy) {
                    schedule(FAST_MS);
                }
            } else if (answer.status === 429) {
                say('Slow down: a few moves per second at most');
            } else if (answer.status === 401) {
                window.location.reload();
            } else if (!answer.ok) {
                say('The move was refused (' + answer.status + ')');
            }
        } catch (e) {
            say('The relay cannot be reached; the move was not sent');
        }
    }

    for (const form of document.querySelectorAll('form.controls')) {
        form.addEventListener('submit', function (event) {
            event.preventDefault();
            const button = event.submitter;
            if (button && button.value) {
                send(button.value);
            }
        });
    }

    picture.addEventListener('error', function () {
        if (shownUrl === null) {
            picture.hidden = true;
            say('No picture yet');
        }
    });
    refresh();
})();

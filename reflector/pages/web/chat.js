// The chat page: fetches the room's new messages every two seconds and sends messages without
// leaving the page. Every text is shown as text, never as markup.
(function () {
    'use strict';

    const PERIOD_MS = 2000;
    const chat = document.getElementById('chat');
    const list = document.getElementById('messages');
    const form = document.getElementById('say');
    const status = document.getElementById('chat-status');
    const room = chat.dataset.room;
    let last = Number(chat.dataset.last) || 0;

    function time(iso) {
        const at = new Date(iso);
        return isNaN(at) ? '' : at.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
    }

    function append(message) {
        const item = document.createElement('li');
        const when = document.createElement('time');
        when.dateTime = message.at;
        when.textContent = time(message.at);
        const who = document.createElement('b');
        who.textContent = message.name;
        item.append(when, ' ', who, ' ', message.text);
        list.append(item);
        last = Math.max(last, message.id);
        item.scrollIntoView({ block: 'nearest' });
    }

    async function fetchNew() {
        try {
            const answer = await fetch('/fchat/messages?room=' + encodeURIComponent(room) +
                                       '&after=' + last, { cache: 'no-store' });
            if (answer.ok) {
                const data = await answer.json();
                data.messages.forEach(append);
            }
        } catch (e) {
            status.textContent = 'The chat cannot be reached; retrying';
        }
    }

    async function poll() {
        await fetchNew();
        setTimeout(poll, PERIOD_MS);
    }

    form.addEventListener('submit', async function (event) {
        event.preventDefault();
        const body = new URLSearchParams();
        body.set('room', room);
        body.set('name', form.elements.name.value);
        body.set('text', form.elements.text.value);
        try {
            const answer = await fetch('/fchat/send', { method: 'POST', body: body });
            if (answer.ok) {
                form.elements.text.value = '';
                status.textContent = 'Messages are kept for a day.';
                await fetchNew();
            } else {
                status.textContent = await answer.text();
            }
        } catch (e) {
            status.textContent = 'The chat cannot be reached; the message was not sent';
        }
    });

    for (const when of list.querySelectorAll('time')) {
        when.textContent = time(when.dateTime);
    }
    poll();
})();

package org.kestrova.beacon;

import java.io.IOException;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * Posting: keeps the camera's entry in the live listing of its listing host. One worker thread
 * does every exchange with the listing host, in order: post the entry (and learn its token),
 * refresh it every 45 s, post it again when the host has lost it, remove it when posting stops.
 * Requests from the station only change what the worker should hold and wake it, so they never
 * wait for the listing host, and a stop can never overtake the post it follows.
 */
final class Posting implements Runnable {
    private static final Pattern POSTED = Pattern.compile("Listing: true token=([0-9A-Za-z]{1,128})");

    private enum Action { IDLE, POST, REFRESH, REMOVE }

    private final long refreshMs;
    private final Object lock = new Object();
    private final Thread thread;
    private final HttpCall.Cancel cancel = new HttpCall.Cancel();
    private final Backoff backoff = new Backoff("Posting");

    // What the station wants, under lock.
    private ListingData wanted;
    private long generation;
    private boolean stopping;

    // The entry held at the listing host and its token; written by the worker only.
    private volatile ListingData entry;
    private volatile String token;

    Posting(long refreshMs) {
        this.refreshMs = refreshMs;
        this.thread = BeaconServer.threads("posting").newThread(this);
    }

    void start() {
        thread.start();
    }

    /** Posts this entry now and keeps it alive (also used by edit: post again with the token). */
    void post(ListingData data) {
        synchronized (lock) {
            wanted = data;
            generation++;
            lock.notifyAll();
        }
    }

    /** Stops keeping the entry alive and removes it from the listing. */
    void stop() {
        synchronized (lock) {
            wanted = null;
            generation++;
            lock.notifyAll();
        }
    }

    ListingData wanted() {
        synchronized (lock) {
            return wanted;
        }
    }

    /**
     * Whether posting runs and the listing host really lists the camera now (asked at once,
     * bounded by the short exchange time). A host that answers "not listed" gets the entry
     * posted again straight away.
     */
    boolean check() {
        ListingData data = wanted();
        if (data == null) {
            Log.debug("Posting: check while posting is off");
            return false;
        }
        HttpCall.Answer answer;
        try {
            answer = HttpCall.get(data.listingHost(), "/live/check?id=" + data.cameraId(),
                    Config.HTTP_CALL_MS, null);
        } catch (IOException e) {
            Log.info("Posting: cannot check camera " + data.cameraId() + " at "
                    + data.listingHost() + ": " + HttpCall.why(e));
            return false;
        }
        if (answer.status() == 200 && answer.text().equals("Listed: true")) {
            return data.sameEntry(wanted());
        }
        Log.info("Posting: the listing at " + data.listingHost() + " does not hold camera "
                + data.cameraId() + " (" + answer.describe() + ")");
        if (answer.status() == 200 && answer.text().equals("Listed: false")) {
            synchronized (lock) {
                if (wanted != null) {
                    generation++;
                    lock.notifyAll();
                }
            }
        }
        return false;
    }

    /** Ends the worker and removes the entry, all within about boundMs. */
    void shutdown(int boundMs) {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(boundMs);
        synchronized (lock) {
            stopping = true;
            lock.notifyAll();
        }
        cancel.cancel();
        thread.interrupt();
        try {
            thread.join(Math.min(500, boundMs));
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        ListingData held = entry;
        String heldToken = token;
        long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
        if (held != null && heldToken != null && left > 0) {
            remove(held, heldToken, (int) left, null);
        }
        entry = null;
        token = null;
    }

    @Override
    public void run() {
        long seen = 0;
        ListingData want = null;
        Action action = Action.IDLE;
        long dueAt = System.nanoTime();
        while (true) {
            boolean changed = false;
            synchronized (lock) {
                while (!stopping && generation == seen) {
                    long waitMs = TimeUnit.NANOSECONDS.toMillis(dueAt - System.nanoTime());
                    if (action != Action.IDLE && waitMs <= 0) {
                        break;
                    }
                    try {
                        lock.wait(action == Action.IDLE ? 0 : Math.max(waitMs, 1));
                    } catch (InterruptedException e) {
                        // stopping is set before the interrupt; the loop looks at it
                    }
                }
                if (stopping) {
                    return;
                }
                if (generation != seen) {
                    seen = generation;
                    want = wanted;
                    changed = true;
                }
            }
            if (changed) {
                ListingData held = entry;
                if (want == null) {
                    action = held != null ? Action.REMOVE : Action.IDLE;
                } else if (held != null && !held.sameEntry(want)) {
                    action = Action.REMOVE; // another camera or host: the old entry goes first
                } else {
                    action = Action.POST;
                }
                dueAt = System.nanoTime();
                continue;
            }
            long now = System.nanoTime();
            switch (action) {
                case POST -> {
                    long delay = postEntry(want);
                    if (delay == 0) {
                        action = Action.REFRESH;
                        dueAt = now + TimeUnit.MILLISECONDS.toNanos(refreshMs);
                    } else {
                        dueAt = now + TimeUnit.MILLISECONDS.toNanos(delay);
                    }
                }
                case REFRESH -> {
                    long delay = refreshEntry();
                    if (delay < 0) {
                        action = Action.POST;
                        dueAt = now;
                    } else {
                        dueAt = now + TimeUnit.MILLISECONDS.toNanos(delay == 0 ? refreshMs : delay);
                    }
                }
                case REMOVE -> {
                    ListingData held = entry;
                    String heldToken = token;
                    if (held != null && heldToken != null) {
                        remove(held, heldToken, Config.HTTP_CALL_MS, cancel);
                    }
                    entry = null;
                    token = null;
                    action = want != null ? Action.POST : Action.IDLE;
                    dueAt = now;
                }
                case IDLE -> {
                    // nothing to do until the station asks for something
                }
            }
        }
    }

    /** Posts the entry; 0 when it is listed now, else the delay before the next attempt. */
    private long postEntry(ListingData data) {
        HttpCall.Answer answer;
        try {
            answer = HttpCall.post(data.listingHost(), "/live/post", data.postForm(token),
                    Config.HTTP_CALL_MS, cancel);
        } catch (IOException e) {
            return cancel.cancelled() ? 0
                    : backoff.fail("cannot post camera " + data.cameraId() + " to "
                            + data.listingHost() + ": " + HttpCall.why(e));
        }
        Matcher m = POSTED.matcher(answer.text());
        if (answer.status() == 200 && m.matches()) {
            boolean fresh = entry == null || !m.group(1).equals(token);
            token = m.group(1);
            entry = data;
            backoff.ok();
            if (fresh) {
                Log.info("Posting: camera " + data.cameraId() + " listed at " + data.listingHost());
            } else {
                Log.debug("Posting: camera " + data.cameraId() + " posted again");
            }
            return 0;
        }
        if (answer.status() == 403 && !answer.keyRefused()) {
            // Our token is not the one the host holds the entry under; only a fresh post can
            // take it back once that entry expires.
            token = null;
        }
        return backoff.fail("listing host " + data.listingHost() + " refused camera "
                + data.cameraId() + ": " + answer.describe());
    }

    /**
     * Refreshes the entry: 0 when it is still listed, -1 when the host lost it (post again now),
     * else the delay before the next attempt.
     */
    private long refreshEntry() {
        ListingData held = entry;
        String heldToken = token;
        if (held == null || heldToken == null) {
            return -1;
        }
        HttpCall.Answer answer;
        try {
            answer = HttpCall.post(held.listingHost(), "/live/refresh",
                    "id=" + held.cameraId() + "&token=" + heldToken, Config.HTTP_CALL_MS, cancel);
        } catch (IOException e) {
            return cancel.cancelled() ? 0
                    : backoff.fail("cannot refresh camera " + held.cameraId() + " at "
                            + held.listingHost() + ": " + HttpCall.why(e));
        }
        if (answer.status() == 200 && answer.text().equals("Listing: true")) {
            backoff.ok();
            Log.debug("Posting: camera " + held.cameraId() + " refreshed");
            return 0;
        }
        if (answer.keyRefused()) {
            return backoff.fail("listing host " + held.listingHost() + " refused the station key: "
                    + answer.describe());
        }
        if (answer.status() == 404 || answer.status() == 403) {
            Log.info("Posting: the listing at " + held.listingHost() + " has lost camera "
                    + held.cameraId() + " (" + answer.describe() + "); posting it again");
            if (answer.status() == 403) {
                token = null;
            }
            return -1;
        }
        return backoff.fail("listing host " + held.listingHost() + " answered the refresh with "
                + answer.describe());
    }

    private static void remove(ListingData held, String heldToken, int boundMs,
            HttpCall.Cancel cancel) {
        try {
            HttpCall.Answer answer = HttpCall.post(held.listingHost(), "/live/remove",
                    "id=" + held.cameraId() + "&token=" + heldToken, boundMs, cancel);
            if (answer.status() == 200) {
                Log.info("Posting: camera " + held.cameraId() + " removed from the listing at "
                        + held.listingHost());
            } else {
                Log.info("Posting: listing host " + held.listingHost()
                        + " refused to remove camera " + held.cameraId() + ": "
                        + answer.describe());
            }
        } catch (IOException e) {
            Log.info("Posting: cannot remove camera " + held.cameraId() + " from "
                    + held.listingHost() + " (it expires there by itself): " + HttpCall.why(e));
        }
    }
}

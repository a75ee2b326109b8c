package org.kestrova.beacon;

import java.io.IOException;
import java.util.Locale;

/**
 * A job that asks the camera's relay again and again and hands what it learns to the station's
 * PTZ listener, on its own thread, until it is stopped. A failed round (relay down, time-out,
 * an answer that makes no sense) is logged and retried after a back-off; nothing ends the job
 * but stop().
 */
abstract class RelayJob implements Runnable {
    protected final RelayLine line;
    protected final String name;
    protected final Backoff backoff;
    protected final HttpCall.Cancel cancel = new HttpCall.Cancel();
    private final Thread thread;
    private volatile boolean running = true;

    RelayJob(String name, RelayLine line) {
        this.name = name;
        this.line = line;
        this.backoff = new Backoff(name);
        this.thread = BeaconServer.threads(name.toLowerCase(Locale.ROOT).replace(' ', '-'))
                .newThread(this);
    }

    RelayLine line() {
        return line;
    }

    void start() {
        Log.info(name + ": started with relay " + line.relay() + ", camera " + line.cameraId()
                + ", station listener port " + line.listenerPort());
        thread.start();
    }

    /** Ends the job: a poll in progress is cut off at once; nothing is delivered afterwards. */
    void stop() {
        running = false;
        cancel.cancel();
        thread.interrupt();
    }

    boolean running() {
        return running;
    }

    /** Waits, unless the job is stopped meanwhile; true when the job should go on. */
    protected boolean pause(long ms) {
        if (ms > 0 && running) {
            try {
                Thread.sleep(ms);
            } catch (InterruptedException e) {
                return false;
            }
        }
        return running;
    }

    /** One round: one question to the relay and the deliveries it leads to. */
    protected abstract void round() throws IOException;

    @Override
    public final void run() {
        while (running) {
            try {
                round();
            } catch (IOException e) {
                if (!running) {
                    break;
                }
                pause(backoff.fail("relay " + line.relay() + ": " + HttpCall.why(e)));
            } catch (RuntimeException e) {
                Log.info(name + ": unexpected " + e);
                pause(backoff.fail("unexpected " + e));
            }
        }
        Log.info(name + ": stopped (camera " + line.cameraId() + ")");
    }
}

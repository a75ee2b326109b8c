package org.kestrova.beacon;

import java.io.IOException;
import java.util.concurrent.TimeUnit;

/**
 * The visitor check: asks the relay whether the camera has viewers (CheckVisitorStatus, held
 * up to 20 s until the status differs from the one we know) and sends "Reflector_true" or
 * "Reflector_false" to the station's PTZ listener whenever the status differs from the one last
 * delivered. The first status after the start is always delivered.
 */
final class VisitorCheck extends RelayJob {
    private Boolean delivered;

    VisitorCheck(RelayLine line) {
        super("Visitor check", line);
    }

    @Override
    protected void round() throws IOException {
        long started = System.nanoTime();
        String target = line.target();
        if (delivered != null) {
            target += "&known=" + delivered + "&wait=" + Config.LONG_POLL_WAIT_S;
        }
        HttpCall.Answer answer = HttpCall.get(line.relay(), target, Config.LONG_POLL_MS, cancel);
        Boolean visitors = null;
        if (answer.status() == 200 && answer.text().equals("true")) {
            visitors = Boolean.TRUE;
        } else if (answer.status() == 200 && answer.text().equals("false")) {
            visitors = Boolean.FALSE;
        }
        if (visitors == null) {
            pause(backoff.fail("relay " + line.relay() + " answered " + answer.describe()));
            return;
        }
        if (visitors.equals(delivered)) {
            backoff.ok();
            long elapsed = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started);
            pause(Config.VISITOR_POLL_GAP_MS - elapsed);
            return;
        }
        if (!running()) {
            return;
        }
        String packet = "Reflector_" + visitors;
        if (StationListener.deliver(line.listenerPort(), packet)) {
            backoff.ok();
            delivered = visitors;
            Log.info(name + ": camera " + line.cameraId()
                    + (visitors ? " has visitors" : " has no visitors") + "; " + packet
                    + " delivered");
        } else {
            pause(backoff.fail("the station's listener did not take " + packet));
        }
    }
}

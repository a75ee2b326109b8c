package org.kestrova.beacon;

import java.io.IOException;
import java.util.concurrent.TimeUnit;

/**
 * Move polling: long-polls the relay's move queue (MoveRouterProxy, held up to 20 s while the
 * queue is empty) and delivers each command it hands out to the station's PTZ listener, one
 * connection per command, in the order the relay gave them.
 */
final class MovePolling extends RelayJob {
    MovePolling(RelayLine line) {
        super("Polling", line);
    }

    @Override
    protected void round() throws IOException {
        long started = System.nanoTime();
        HttpCall.Answer answer = HttpCall.get(line.relay(),
                line.target() + "&wait=" + Config.LONG_POLL_WAIT_S, Config.LONG_POLL_MS, cancel);
        if (answer.status() != 200) {
            pause(backoff.fail("relay " + line.relay() + " answered " + answer.describe()));
            return;
        }
        backoff.ok();
        int commands = 0;
        for (String part : answer.body().split("\n")) {
            String command = part.strip();
            if (command.isEmpty()) {
                continue;
            }
            if (!running()) {
                return;
            }
            if (!StationListener.isMoveCommand(command)) {
                Log.info(name + ": ignoring " + Log.quote(command, 80)
                        + " from the relay: not a command word");
                continue;
            }
            commands++;
            Log.debug(name + ": command " + command);
            StationListener.deliver(line.listenerPort(), command);
        }
        if (commands == 0) {
            // A relay that does not hold the poll answers at once; do not ask it in a loop.
            long elapsed = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - started);
            pause(Config.MOVE_POLL_GAP_MS - elapsed);
        }
    }
}

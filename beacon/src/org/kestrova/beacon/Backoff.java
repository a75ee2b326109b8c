package org.kestrova.beacon;

/**
 * Retry delays of a job after failures (1 s, doubled up to 30 s) and the log lines about them:
 * the first failure of a run is logged, then every tenth, and the recovery; the others go to the
 * debug log only, so a host that stays down for a day does not fill the log.
 */
final class Backoff {
    private final String job;
    private long delayMs;
    private int failures;

    Backoff(String job) {
        this.job = job;
    }

    /** Notes a failure and returns how long to wait before the next attempt. */
    long fail(String problem) {
        failures++;
        delayMs = delayMs == 0 ? Config.BACKOFF_FIRST_MS
                : Math.min(delayMs * 2, Config.BACKOFF_MAX_MS);
        String line = job + ": " + problem + "; retrying in " + delayMs + " ms";
        if (failures == 1) {
            Log.info(line);
        } else if (failures % 10 == 0) {
            Log.info(line + " (" + failures + " failures in a row)");
        } else {
            Log.debug(line);
        }
        return delayMs;
    }

    /** Notes a success; the next failure starts again at the first delay. */
    void ok() {
        if (failures > 0) {
            Log.info(job + ": working again after " + failures
                    + (failures == 1 ? " failure" : " failures"));
        }
        failures = 0;
        delayMs = 0;
    }
}

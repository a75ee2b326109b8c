package org.kestrova.beacon;

import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;

/**
 * Limits and timings. The station's command line is fixed, so the few values that tests
 * shorten, and the station's process id, come from the environment.
 */
final class Config {
    /** Longest request line, without its line end. */
    static final int REQUEST_LINE_MAX = 256;
    /** Longest parameter line, without its line end. */
    static final int PARAMETER_LINE_MAX = 4096;
    /** Bound of one short HTTP exchange (listing host, first visitor question). */
    static final int HTTP_CALL_MS = 4000;
    /** How long the relay may hold a long poll, in seconds, and our bound for that exchange. */
    static final int LONG_POLL_WAIT_S = 20;
    static final int LONG_POLL_MS = 25000;
    /**
     * Bound of one delivery to the station's PTZ listener (connect, send, "OK"). The station
     * answers once the command has been carried out: a preset of a camera moved by its motion
     * library alone takes about five seconds, and a command may wait behind one.
     */
    static final int DELIVERY_MS = 12000;
    /** Least time between two move polls that brought nothing (a relay that does not wait). */
    static final int MOVE_POLL_GAP_MS = 300;
    /** Least time between two visitor questions that brought no change. */
    static final int VISITOR_POLL_GAP_MS = 1000;
    /** Retry back-off after a failure: first delay, doubled up to the cap. */
    static final int BACKOFF_FIRST_MS = 1000;
    static final int BACKOFF_MAX_MS = 30000;
    /** Requests handled at the same time; more connections are closed at once. */
    static final int MAX_CONNECTIONS = 16;
    /** Bound of the listing removal when the helper ends. */
    static final int FINAL_REMOVE_MS = 3000;

    /** A client that sends nothing this long is dropped (KESTROVA_BEACON_IDLE_MS). */
    final long clientSilenceMs;
    /** No request this long and no station: the helper ends (KESTROVA_BEACON_EXIT_IDLE_MS). */
    final long exitIdleMs;
    /** Refresh interval of the listing entry (KESTROVA_BEACON_REFRESH_MS). */
    final long refreshMs;
    /** Size cap of the log file (KESTROVA_BEACON_LOG_MAX, bytes). */
    final long logMaxBytes;
    /** The station's process id (KESTROVA_STATION_PID), or -1 when none was given. */
    final long stationPid;
    /**
     * The station key (KESTROVA_STATION_KEY) that every request to the relay shows, or null when
     * none was given. It is never logged.
     */
    final String stationKey;
    /** Complaints about the environment, logged once the log is open. */
    final List<String> warnings = new ArrayList<>();

    Config(Map<String, String> env) {
        clientSilenceMs = number(env, "KESTROVA_BEACON_IDLE_MS", 10_000, 10, 600_000);
        exitIdleMs = number(env, "KESTROVA_BEACON_EXIT_IDLE_MS", 180_000, 10, 86_400_000);
        refreshMs = number(env, "KESTROVA_BEACON_REFRESH_MS", 45_000, 10, 3_600_000);
        logMaxBytes = number(env, "KESTROVA_BEACON_LOG_MAX", 1 << 20, 1024, 1L << 30);
        stationPid = number(env, "KESTROVA_STATION_PID", -1, 1, Long.MAX_VALUE);
        stationKey = stationKey(env);
    }

    /** 43 base64url characters: 256 bits, as the station makes them. */
    private static final Pattern KEY = Pattern.compile("[A-Za-z0-9_-]{43}");

    private String stationKey(Map<String, String> env) {
        String text = env.get("KESTROVA_STATION_KEY");
        if (text == null || text.isEmpty()) {
            return null;
        }
        if (KEY.matcher(text).matches()) {
            return text;
        }
        // The value is not quoted: it may be a key that is merely damaged.
        warnings.add("Ignoring KESTROVA_STATION_KEY: not 43 characters of A-Z a-z 0-9 - _; "
                + "requests go to the relay without a station key");
        return null;
    }

    private long number(Map<String, String> env, String name, long fallback, long min, long max) {
        String text = env.get(name);
        if (text == null || text.isEmpty()) {
            return fallback;
        }
        try {
            long value = Long.parseLong(text.trim());
            if (value >= min && value <= max) {
                return value;
            }
        } catch (NumberFormatException ignored) {
            // Reported below.
        }
        warnings.add("Ignoring " + name + "=" + Log.quote(text, 40) + ": not a number from " + min
                + " to " + max);
        return fallback;
    }
}

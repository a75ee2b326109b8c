package org.kestrova.beacon;

/**
 * A parameter line that cannot be used. The message goes into the answer to the station, so it
 * names the problem but never quotes the line itself.
 */
final class BadInput extends Exception {
    private static final long serialVersionUID = 1L;

    BadInput(String message) {
        super(message);
    }
}

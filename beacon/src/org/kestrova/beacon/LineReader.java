package org.kestrova.beacon;

import java.io.IOException;
import java.io.InputStream;
import java.net.Socket;
import java.net.SocketTimeoutException;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.TimeUnit;

/**
 * Reads the station's request lines: single-byte text ended by LF (a CR before it is dropped),
 * each line within a byte limit and within the silence limit counted from the moment the line
 * is asked for.
 */
final class LineReader {
    /** A line longer than allowed; the rest of it is left unread. */
    static final class TooLong extends IOException {
        private static final long serialVersionUID = 1L;

        TooLong(String message) {
            super(message);
        }
    }

    private final Socket socket;
    private final InputStream in;
    private final long silenceMs;
    private final byte[] buffer = new byte[1024];
    private int pos;
    private int end;

    LineReader(Socket socket, long silenceMs) throws IOException {
        this.socket = socket;
        this.in = socket.getInputStream();
        this.silenceMs = silenceMs;
    }

    /** The next line without its line end; null when the client closed before sending any. */
    String line(int maxBytes) throws IOException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(silenceMs);
        byte[] line = new byte[maxBytes + 1];
        int length = 0;
        while (true) {
            if (pos == end) {
                long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
                if (left <= 0) {
                    throw new SocketTimeoutException("silent client");
                }
                socket.setSoTimeout((int) Math.min(left, Integer.MAX_VALUE));
                int n = in.read(buffer);
                if (n < 0) {
                    if (length == 0) {
                        return null;
                    }
                    break; // a last line without its line end
                }
                pos = 0;
                end = n;
            }
            byte b = buffer[pos++];
            if (b == '\n') {
                break;
            }
            if (length > maxBytes) {
                throw new TooLong("a line longer than " + maxBytes + " bytes");
            }
            line[length++] = b;
        }
        if (length > 0 && line[length - 1] == '\r') {
            length--;
        }
        if (length > maxBytes) {
            throw new TooLong("a line longer than " + maxBytes + " bytes");
        }
        return new String(line, 0, length, StandardCharsets.ISO_8859_1);
    }
}

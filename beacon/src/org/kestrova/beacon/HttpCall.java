package org.kestrova.beacon;

import java.io.ByteArrayOutputStream;
import java.io.Closeable;
import java.io.IOException;
import java.io.InputStream;
import java.io.InterruptedIOException;
import java.io.OutputStream;
import java.net.ConnectException;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.net.SocketException;
import java.net.SocketTimeoutException;
import java.net.UnknownHostException;
import java.nio.charset.StandardCharsets;
import java.util.Locale;
import java.util.concurrent.ExecutionException;
import java.util.concurrent.Future;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.TimeoutException;

/**
 * One HTTP/1.1 exchange with a relay or listing host over a fresh connection, bounded as a
 * whole: the name look-up, the connect, the request and the whole answer must fit in the time
 * given. The helper talks to hosts that close the connection after each answer, so it asks for
 * that (Connection: close) and never reuses a connection. Answers are read up to a small cap;
 * anything beyond it is an error, not a bigger buffer.
 */
final class HttpCall {
    /** Longest status line plus headers, and longest body, that the helper accepts. */
    static final int MAX_HEAD = 16 * 1024;
    static final int MAX_BODY = 64 * 1024;

    /** An answer: status and body text (UTF-8). */
    record Answer(int status, String body) {
        String text() {
            return body.strip();
        }

        /** Status and body for a log line. */
        String describe() {
            return status + " " + Log.quote(body, 120);
        }

        /** The relay refused the request's station key (missing, or not the camera's). */
        boolean keyRefused() {
            return status == 403 && body.toLowerCase(Locale.ROOT).contains("key");
        }
    }

    /** A host and port to talk to. */
    record Endpoint(String host, int port) {
        String hostHeader() {
            return port == 80 ? host : host + ":" + port;
        }

        @Override
        public String toString() {
            return host + ":" + port;
        }
    }

    /**
     * Lets another thread end the exchange that a job runs: cancel() closes the socket in use,
     * which ends a blocked read at once, and refuses every later exchange on this object.
     */
    static final class Cancel {
        private Socket socket;
        private boolean cancelled;

        synchronized void attach(Socket s) throws IOException {
            if (cancelled) {
                s.close();
                throw new InterruptedIOException("stopped");
            }
            socket = s;
        }

        synchronized void detach(Socket s) {
            if (socket == s) {
                socket = null;
            }
        }

        synchronized void cancel() {
            cancelled = true;
            if (socket != null) {
                closeQuietly(socket);
                socket = null;
            }
        }

        synchronized boolean cancelled() {
            return cancelled;
        }
    }

    // Name look-ups have no time-out of their own; they run here so that a caller can stop
    // waiting for one.
    private static final ThreadPoolExecutor RESOLVER = new ThreadPoolExecutor(2, 2, 30,
            TimeUnit.SECONDS, new LinkedBlockingQueue<>(), BeaconServer.threads("name-lookup"));

    static {
        RESOLVER.allowCoreThreadTimeOut(true);
    }

    /** The station key every request shows as "Authorization: Bearer KEY"; null for none. */
    private static volatile String stationKey;

    private HttpCall() {}

    /** From now on every request carries this key (null: none). */
    static void useStationKey(String key) {
        stationKey = key;
    }

    /** The connection closed before the whole answer had come. */
    static final class ClosedEarly extends IOException {
        private static final long serialVersionUID = 1L;

        ClosedEarly(String message) {
            super(message);
        }
    }

    /**
     * What went wrong with an exchange, in words for the log: refused, timed out, closed early,
     * or the failure's own description.
     */
    static String why(IOException e) {
        if (e instanceof ConnectException) {
            return "connection refused";
        }
        if (e instanceof SocketTimeoutException) {
            String message = e.getMessage();
            return message != null && message.startsWith("name look-up") ? message : "timed out";
        }
        if (e instanceof ClosedEarly) {
            return "connection closed before the whole answer (" + e.getMessage() + ")";
        }
        if (e instanceof UnknownHostException) {
            return "unknown host " + e.getMessage();
        }
        if (e instanceof SocketException && e.getMessage() != null
                && e.getMessage().contains("reset")) {
            return "connection reset";
        }
        return String.valueOf(e);
    }

    static Answer get(Endpoint to, String target, int boundMs, Cancel cancel) throws IOException {
        return exchange(to, "GET", target, null, boundMs, cancel);
    }

    static Answer post(Endpoint to, String target, String form, int boundMs, Cancel cancel)
            throws IOException {
        return exchange(to, "POST", target, form, boundMs, cancel);
    }

    private static Answer exchange(Endpoint to, String method, String target, String form,
            int boundMs, Cancel cancel) throws IOException {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(boundMs);
        InetAddress address = resolve(to.host(), deadline);
        Socket socket = new Socket();
        try {
            if (cancel != null) {
                cancel.attach(socket);
            }
            socket.connect(new InetSocketAddress(address, to.port()), remainingMs(deadline));
            socket.setTcpNoDelay(true);
            StringBuilder head = new StringBuilder();
            head.append(method).append(' ').append(target).append(" HTTP/1.1\r\n");
            head.append("Host: ").append(to.hostHeader()).append("\r\n");
            head.append("User-Agent: BeaconServer\r\n");
            head.append("Accept: text/plain\r\n");
            head.append("Connection: close\r\n");
            byte[] body = form == null ? new byte[0] : form.getBytes(StandardCharsets.US_ASCII);
            if (form != null) {
                head.append("Content-Type: application/x-www-form-urlencoded\r\n");
                head.append("Content-Length: ").append(body.length).append("\r\n");
            }
            String key = stationKey;
            if (key != null) {
                head.append("Authorization: Bearer ").append(key).append("\r\n");
            }
            head.append("\r\n");
            OutputStream out = socket.getOutputStream();
            out.write(head.toString().getBytes(StandardCharsets.US_ASCII));
            out.write(body);
            out.flush();
            return readAnswer(new Reader(socket, deadline));
        } catch (IOException e) {
            if (cancel != null && cancel.cancelled()) {
                throw new InterruptedIOException("stopped");
            }
            throw e;
        } finally {
            if (cancel != null) {
                cancel.detach(socket);
            }
            closeQuietly(socket);
        }
    }

    private static Answer readAnswer(Reader in) throws IOException {
        while (true) {
            String statusLine = in.line();
            int status = parseStatus(statusLine);
            long length = -1;
            boolean chunked = false;
            for (String line = in.line(); !line.isEmpty(); line = in.line()) {
                int colon = line.indexOf(':');
                if (colon <= 0) {
                    throw new IOException("bad header line " + Log.quote(line, 80));
                }
                String name = line.substring(0, colon).trim().toLowerCase(Locale.ROOT);
                String value = line.substring(colon + 1).trim();
                if (name.equals("content-length")) {
                    try {
                        length = Long.parseLong(value);
                    } catch (NumberFormatException e) {
                        throw new IOException("bad Content-Length " + Log.quote(value, 40));
                    }
                    if (length < 0) {
                        throw new IOException("bad Content-Length " + Log.quote(value, 40));
                    }
                } else if (name.equals("transfer-encoding")) {
                    chunked = value.toLowerCase(Locale.ROOT).contains("chunked");
                }
            }
            if (status >= 100 && status < 200) {
                continue; // an interim answer; the real one follows
            }
            byte[] body;
            if (chunked) {
                body = in.chunkedBody();
            } else if (length >= 0) {
                if (length > MAX_BODY) {
                    throw new IOException("answer body of " + length + " bytes is too long");
                }
                body = in.bytes((int) length);
            } else {
                body = in.untilEnd();
            }
            return new Answer(status, new String(body, StandardCharsets.UTF_8));
        }
    }

    private static int parseStatus(String line) throws IOException {
        // "HTTP/1.1 200 OK"
        if (line.startsWith("HTTP/1.") && line.length() >= 12 && line.charAt(8) == ' ') {
            String code = line.substring(9, 12);
            if (code.chars().allMatch(c -> c >= '0' && c <= '9')
                    && (line.length() == 12 || line.charAt(12) == ' ')) {
                return Integer.parseInt(code);
            }
        }
        throw new IOException("not an HTTP answer: " + Log.quote(line, 80));
    }

    private static InetAddress resolve(String host, long deadline) throws IOException {
        Future<InetAddress> lookup = RESOLVER.submit(() -> InetAddress.getByName(host));
        try {
            return lookup.get(remainingMs(deadline), TimeUnit.MILLISECONDS);
        } catch (TimeoutException e) {
            lookup.cancel(true);
            throw new SocketTimeoutException("name look-up of " + host + " timed out");
        } catch (ExecutionException e) {
            Throwable cause = e.getCause();
            throw cause instanceof IOException io ? io : new IOException(cause);
        } catch (InterruptedException e) {
            lookup.cancel(true);
            Thread.currentThread().interrupt();
            throw new InterruptedIOException("stopped");
        }
    }

    static int remainingMs(long deadline) throws SocketTimeoutException {
        long left = TimeUnit.NANOSECONDS.toMillis(deadline - System.nanoTime());
        if (left <= 0) {
            throw new SocketTimeoutException("timed out");
        }
        return (int) Math.min(left, Integer.MAX_VALUE);
    }

    static void closeQuietly(Closeable closeable) {
        try {
            closeable.close();
        } catch (IOException ignored) {
            // Closing is all that is left to do with it.
        }
    }

    /** Reads an answer under the exchange's deadline. */
    private static final class Reader {
        private final Socket socket;
        private final InputStream in;
        private final long deadline;
        private final byte[] buffer = new byte[4096];
        private int pos;
        private int end;
        private int headBytes;

        Reader(Socket socket, long deadline) throws IOException {
            this.socket = socket;
            this.in = socket.getInputStream();
            this.deadline = deadline;
        }

        /** Next byte, or -1 at the end of the stream. */
        private int next() throws IOException {
            if (pos == end) {
                socket.setSoTimeout(remainingMs(deadline));
                int n = in.read(buffer);
                if (n < 0) {
                    return -1;
                }
                pos = 0;
                end = n;
            }
            return buffer[pos++] & 0xff;
        }

        /** A line of the head without its line end. */
        String line() throws IOException {
            StringBuilder b = new StringBuilder();
            while (true) {
                int c = next();
                if (c < 0) {
                    throw new ClosedEarly("in the answer's head");
                }
                if (++headBytes > MAX_HEAD) {
                    throw new IOException("answer head too long");
                }
                if (c == '\n') {
                    int n = b.length();
                    if (n > 0 && b.charAt(n - 1) == '\r') {
                        b.setLength(n - 1);
                    }
                    return b.toString();
                }
                b.append((char) c);
            }
        }

        byte[] bytes(int count) throws IOException {
            byte[] out = new byte[count];
            for (int i = 0; i < count; i++) {
                int c = next();
                if (c < 0) {
                    throw new ClosedEarly(i + " of " + count + " bytes of the body");
                }
                out[i] = (byte) c;
            }
            return out;
        }

        byte[] untilEnd() throws IOException {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            for (int c = next(); c >= 0; c = next()) {
                if (out.size() >= MAX_BODY) {
                    throw new IOException("answer body too long");
                }
                out.write(c);
            }
            return out.toByteArray();
        }

        byte[] chunkedBody() throws IOException {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            while (true) {
                headBytes = 0; // each chunk's size line is bounded on its own
                String sizeLine = line();
                int semicolon = sizeLine.indexOf(';');
                String hex = (semicolon >= 0 ? sizeLine.substring(0, semicolon) : sizeLine).trim();
                int size;
                try {
                    size = Integer.parseInt(hex, 16);
                } catch (NumberFormatException e) {
                    throw new IOException("bad chunk size " + Log.quote(sizeLine, 40));
                }
                if (size < 0 || out.size() + (long) size > MAX_BODY) {
                    throw new IOException("answer body too long");
                }
                if (size == 0) {
                    while (!line().isEmpty()) {
                        // trailer lines are of no interest
                    }
                    return out.toByteArray();
                }
                out.write(bytes(size));
                if (!line().isEmpty()) {
                    throw new IOException("chunk not followed by its line end");
                }
            }
        }
    }
}

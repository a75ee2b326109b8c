package org.kestrova.beacon;

import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.List;

/**
 * The helper's log, BeaconServer.log in the working directory: one line per event, each
 * starting with the local date and time. When the file would grow beyond its cap it is moved to
 * BeaconServer.log.1 (replacing an older one) and a fresh file is started, so the two files
 * together never hold much more than twice the cap.
 */
final class Log {
    private static final DateTimeFormatter STAMP =
            DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss.SSS");

    private static Path file;
    private static Path previous;
    private static long maxBytes = 1 << 20;
    private static OutputStream out;
    private static long size;
    private static boolean failed;
    private static volatile boolean debug;

    private Log() {}

    static synchronized void open(Path path, boolean debugOn, long capBytes) {
        file = path;
        previous = path.resolveSibling(path.getFileName() + ".1");
        maxBytes = Math.max(capBytes, 1024);
        debug = debugOn;
        reopen();
    }

    static boolean debugOn() {
        return debug;
    }

    static void info(String text) {
        write(List.of(text));
    }

    /** A line written only when the helper was started with debug on. */
    static void debug(String text) {
        if (debug) {
            write(List.of("debug: " + text));
        }
    }

    /** Several lines kept together (another thread's line never lands between them). */
    static void block(List<String> lines) {
        write(lines);
    }

    static synchronized void close() {
        if (out != null) {
            try {
                out.close();
            } catch (IOException ignored) {
                // Nothing is left to report it to.
            }
            out = null;
        }
    }

    /**
     * Text from the network as one readable log line: line ends and other control characters
     * are written as escapes, so a remote answer can never forge or break up log lines; long
     * texts are cut.
     */
    static String quote(String text, int maxChars) {
        StringBuilder b = new StringBuilder("\"");
        int n = Math.min(text.length(), maxChars);
        for (int i = 0; i < n; i++) {
            char c = text.charAt(i);
            if (c == '\r') {
                b.append("\\r");
            } else if (c == '\n') {
                b.append("\\n");
            } else if (c == '"' || c == '\\') {
                b.append('\\').append(c);
            } else if (c < 0x20 || c == 0x7f) {
                b.append(String.format("\\x%02x", (int) c));
            } else {
                b.append(c);
            }
        }
        b.append('"');
        if (text.length() > maxChars) {
            b.append(" (").append(text.length()).append(" characters, cut)");
        }
        return b.toString();
    }

    static String quote(String text) {
        return quote(text, 200);
    }

    private static synchronized void write(List<String> lines) {
        String stamp = LocalDateTime.now().format(STAMP);
        StringBuilder b = new StringBuilder();
        for (String line : lines) {
            b.append(stamp).append(' ').append(oneLine(line)).append('\n');
        }
        byte[] bytes = b.toString().getBytes(StandardCharsets.UTF_8);
        if (out == null) {
            System.err.write(bytes, 0, bytes.length);
            System.err.flush();
            return;
        }
        try {
            if (size > 0 && size + bytes.length > maxBytes) {
                rotate();
            }
            if (out != null) {
                out.write(bytes);
                out.flush();
                size += bytes.length;
                return;
            }
        } catch (IOException e) {
            fail(e);
        }
        System.err.write(bytes, 0, bytes.length);
        System.err.flush();
    }

    private static String oneLine(String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c == '\r' || c == '\n') {
                return text.replace("\r", "\\r").replace("\n", "\\n");
            }
        }
        return text;
    }

    private static void rotate() throws IOException {
        out.close();
        out = null;
        Files.move(file, previous, StandardCopyOption.REPLACE_EXISTING);
        reopen();
    }

    private static void reopen() {
        try {
            out = Files.newOutputStream(file, StandardOpenOption.CREATE, StandardOpenOption.APPEND);
            size = Files.size(file);
        } catch (IOException e) {
            fail(e);
        }
    }

    private static void fail(IOException e) {
        out = null;
        if (!failed) {
            failed = true;
            System.err.println("BeaconServer: cannot write the log " + file + ": " + e
                    + "; logging to standard error");
        }
    }
}

package org.kestrova.beaconfuzz;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Random;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

/**
 * Throws generated request lines and parameter lines at the posting helper over its socket, as
 * the station's channel carries them: random bytes, request words with bytes changed, too long
 * lines, lines cut short, and parameter lines built from the station's own with fields
 * changed. After every connection it checks that the helper said nothing or one line, and
 * every fiftieth time (and at the end) that it still answers valid requests; finally that
 * "shutdown" ends it cleanly. Every host a generated line could make the helper contact is
 * 127.0.0.1, on a port where nothing listens.
 *
 * Usage: RequestFuzz JAVA BEACONSERVER_JAR [--requests N | --seconds S] [--seed N]
 */
public final class RequestFuzz {
    private static final List<String> REQUESTS = List.of("check_posting", "begin_posting",
            "edit_posting", "stop_posting", "start_polling", "stop_polling", "start_reflector",
            "stop_reflector", "thread_dump");
    private static final Pattern HOST_NAME = Pattern.compile("[A-Za-z0-9._-]+");

    private final Random random;
    private final int helperPort;
    private final int deadPort;

    private RequestFuzz(long seed, int helperPort, int deadPort) {
        this.random = new Random(seed);
        this.helperPort = helperPort;
        this.deadPort = deadPort;
    }

    public static void main(String[] args) throws Exception {
        if (args.length < 2) {
            System.err.println("usage: RequestFuzz JAVA JAR [--requests N | --seconds S] [--seed N]");
            System.exit(2);
        }
        long requests = 400;
        long seconds = 0;
        long seed = 20240607;
        for (int i = 2; i + 1 < args.length; i += 2) {
            switch (args[i]) {
                case "--requests" -> requests = Long.parseLong(args[i + 1]);
                case "--seconds" -> { seconds = Long.parseLong(args[i + 1]); requests = Long.MAX_VALUE; }
                case "--seed" -> seed = Long.parseLong(args[i + 1]);
                default -> throw new IllegalArgumentException(args[i]);
            }
        }
        Path folder = Files.createTempDirectory("beacon-fuzz");
        int helperPort = freePort();
        int deadPort = freePort();
        ProcessBuilder builder = new ProcessBuilder(Path.of(args[0]).toAbsolutePath().toString(),
                "-jar", Path.of(args[1]).toAbsolutePath().toString(),
                Integer.toString(helperPort), "false");
        builder.directory(folder.toFile());
        builder.environment().put("KESTROVA_BEACON_IDLE_MS", "300");
        builder.environment().put("KESTROVA_STATION_PID", Long.toString(ProcessHandle.current().pid()));
        builder.redirectErrorStream(true).redirectOutput(folder.resolve("helper.out").toFile());
        Process helper = builder.start();
        int failures = 0;
        long done = 0;
        long started = System.nanoTime();
        try {
            RequestFuzz fuzz = new RequestFuzz(seed, helperPort, deadPort);
            fuzz.waitForHelper(helper);
            long end = seconds > 0 ? started + TimeUnit.SECONDS.toNanos(seconds) : Long.MAX_VALUE;
            for (; done < requests && System.nanoTime() < end && failures == 0; done++) {
                failures += fuzz.throwOne(done);
                if (done % 50 == 49) {
                    failures += fuzz.stillAnswers(helper);
                }
            }
            failures += fuzz.stillAnswers(helper);
            failures += fuzz.shutsDown(helper);
        } finally {
            helper.destroyForcibly();
        }
        String output = Files.readString(folder.resolve("helper.out"), StandardCharsets.ISO_8859_1);
        if (output.contains("Exception in thread") || output.contains("Error:")) {
            System.out.println("FAIL: the helper wrote to its standard output or error:\n" + output);
            failures++;
        }
        double took = (System.nanoTime() - started) / 1e9;
        System.out.printf("%d generated requests in %.1f s (%.0f per second), seed %d%n",
                done, took, done / took, seed);
        if (failures == 0) {
            try (var files = Files.list(folder)) {
                for (Path file : files.toList()) {
                    Files.delete(file);
                }
            }
            Files.delete(folder);
        }
        System.out.println((failures == 0 ? 1 : 0) + " passed, " + (failures == 0 ? 0 : 1) + " failed");
        System.exit(failures == 0 ? 0 : 1);
    }

    private static int freePort() throws IOException {
        try (ServerSocket socket = new ServerSocket(0, 1, InetAddress.getLoopbackAddress())) {
            return socket.getLocalPort();
        }
    }

    private void waitForHelper(Process helper) throws Exception {
        for (int i = 0; i < 200 && helper.isAlive(); i++) {
            try (Socket socket = new Socket()) {
                socket.connect(new InetSocketAddress(InetAddress.getLoopbackAddress(), helperPort), 500);
                return;
            } catch (IOException notYet) {
                Thread.sleep(50);
            }
        }
        throw new IllegalStateException("the helper does not listen on port " + helperPort);
    }

    /** One connection with one generated request; 1 when the helper's answer is wrong. */
    private int throwOne(long number) {
        String request = requestLine();
        byte[] bytes = join(request, parameterLine(request));
        String answer = exchange(bytes, random.nextInt(8) == 0);
        // Nothing (a dropped client) or one line, never more.
        if (answer == null || answer.isEmpty() || (answer.endsWith("\r\n") && answer.indexOf('\n') == answer.length() - 1)) {
            return 0;
        }
        System.out.println("FAIL: request " + number + " got " + quoted(answer) + " for " + quoted(new String(bytes, StandardCharsets.ISO_8859_1)));
        return 1;
    }

    /** The request line: a request word (maybe changed), random bytes, or a too long line. */
    private String requestLine() {
        switch (random.nextInt(6)) {
            case 0:
                return randomText(random.nextInt(40), false);
            case 1:
                return "x".repeat(250 + random.nextInt(20));
            case 2:
                return mutate(REQUESTS.get(random.nextInt(REQUESTS.size())));
            default:
                return REQUESTS.get(random.nextInt(REQUESTS.size()));
        }
    }

    private String parameterLine(String request) {
        switch (request) {
            case "begin_posting", "edit_posting" -> {
                String[] fields = {"127.0.0.1:" + deadPort, "127.0.0.1", "8080", "", "webcams",
                    "My%20Cam", "me%40example.org", "12", "1", "0", "Cam_01", "1", "0", "1"};
                if (random.nextInt(3) > 0) {
                    fields[random.nextInt(fields.length)] = field();
                }
                String line = random.nextInt(10) == 0 ? randomText(5000, true) : String.join("&", fields);
                return safeListingLine(line) ? line : "&" + line;
            }
            case "start_polling", "start_reflector" -> {
                String route = request.equals("start_polling") ? "MoveRouterProxy" : "CheckVisitorStatus";
                String line = "http://127.0.0.1:" + deadPort + "/webcams/" + route + "?id=" + field() + ";"
                        + (random.nextBoolean() ? Integer.toString(deadPort) : field());
                if (random.nextInt(4) == 0) {
                    line = mutate(line);
                }
                return safeRelayLine(line) ? line : "x" + line;
            }
            default -> {
                // A parameter line where none is asked for.
                return random.nextInt(4) == 0 ? randomText(100, true) : null;
            }
        }
    }

    /** The field of a listing host names only 127.0.0.1 (or no host name at all). */
    private static boolean safeListingLine(String line) {
        String first = line.split("&", -1)[0].strip();
        int colon = first.indexOf(':');
        String host = colon >= 0 ? first.substring(0, colon) : first;
        return !HOST_NAME.matcher(host).matches() || host.equals("127.0.0.1");
    }

    /** Every address in the line is 127.0.0.1. */
    private static boolean safeRelayLine(String line) {
        String lower = line.toLowerCase(java.util.Locale.ROOT);
        for (int at = lower.indexOf("http://"); at >= 0; at = lower.indexOf("http://", at + 1)) {
            if (!lower.startsWith("127.0.0.1:", at + 7)) {
                return false;
            }
        }
        return true;
    }

    private String field() {
        return switch (random.nextInt(8)) {
            case 0 -> "";
            case 1 -> "-1";
            case 2 -> "99999";
            case 3 -> "x".repeat(60 + random.nextInt(2000));
            case 4 -> "%zz%00%FF";
            default -> randomText(1 + random.nextInt(30), true);
        };
    }

    private String mutate(String text) {
        StringBuilder b = new StringBuilder(text);
        for (int i = 1 + random.nextInt(3); i > 0 && b.length() > 0; i--) {
            int at = random.nextInt(b.length());
            switch (random.nextInt(3)) {
                case 0 -> b.setCharAt(at, (char) random.nextInt(256));
                case 1 -> b.insert(at, (char) random.nextInt(256));
                default -> b.deleteCharAt(at);
            }
        }
        return b.toString();
    }

    /** Bytes 0 to 255 as ISO-8859-1 text; without line ends unless asked for. */
    private String randomText(int length, boolean lineEnds) {
        StringBuilder b = new StringBuilder(length);
        for (int i = 0; i < length; i++) {
            char c = (char) random.nextInt(256);
            b.append(!lineEnds && (c == '\n' || c == '\r') ? ' ' : c);
        }
        return b.toString();
    }

    /** The lines as the station writes them, with CR LF, a bare LF or (rarely) cut short. */
    private byte[] join(String request, String parameter) {
        String end = random.nextInt(4) == 0 ? "\n" : "\r\n";
        String text = request + end + (parameter == null ? "" : parameter + end);
        if (random.nextInt(20) == 0) {
            text = text.substring(0, random.nextInt(text.length() + 1));
        }
        return text.getBytes(StandardCharsets.ISO_8859_1);
    }

    /** Sends the bytes and reads what comes back until the helper closes (at most 3 s). */
    private String exchange(byte[] bytes, boolean closeEarly) {
        try (Socket socket = new Socket()) {
            socket.connect(new InetSocketAddress(InetAddress.getLoopbackAddress(), helperPort), 2000);
            socket.setSoTimeout(3000);
            OutputStream out = socket.getOutputStream();
            out.write(bytes);
            out.flush();
            if (closeEarly) {
                return null;
            }
            InputStream in = socket.getInputStream();
            ByteArrayOutputStream answer = new ByteArrayOutputStream();
            byte[] buffer = new byte[512];
            for (int n; (n = in.read(buffer)) > 0; ) {
                answer.write(buffer, 0, n);
            }
            return answer.toString(StandardCharsets.ISO_8859_1);
        } catch (IOException e) {
            // A reset after a refused line is the helper's right; a silent helper is not.
            return e instanceof java.net.SocketTimeoutException ? "(no answer within 3 s)" : null;
        }
    }

    /** The helper is alive and answers the valid requests as before. */
    private int stillAnswers(Process helper) {
        int failures = 0;
        String[][] checks = {{"stop_posting\r\n", "Posting; Stop OK\r\n"},
            {"stop_polling\r\n", "Polling; Stop OK\r\n"}, {"stop_reflector\r\n", "Reflector; Stop OK\r\n"},
            {"frobnicate\r\n", "Error: unknown request\r\n"}};
        for (String[] check : checks) {
            String answer = exchange(check[0].getBytes(StandardCharsets.ISO_8859_1), false);
            if (!helper.isAlive() || !check[1].equals(answer)) {
                System.out.println("FAIL: " + quoted(check[0]) + " got " + quoted(answer) + (helper.isAlive() ? "" : " (the helper has ended)"));
                failures++;
            }
        }
        return failures;
    }

    private int shutsDown(Process helper) throws InterruptedException {
        String answer = exchange("shutdown\r\n".getBytes(StandardCharsets.ISO_8859_1), false);
        if (!"Shutdown;\r\n".equals(answer) || !helper.waitFor(10, TimeUnit.SECONDS) || helper.exitValue() != 0) {
            System.out.println("FAIL: shutdown got " + quoted(answer) + ", the helper " + (helper.isAlive() ? "still runs" : "ended with " + helper.exitValue()));
            return 1;
        }
        return 0;
    }

    private static String quoted(String text) {
        if (text == null) {
            return "nothing";
        }
        StringBuilder b = new StringBuilder("\"");
        for (char c : text.substring(0, Math.min(text.length(), 200)).toCharArray()) {
            b.append(c >= 0x20 && c < 0x7F ? String.valueOf(c) : String.format("\\x%02X", (int) c));
        }
        return b.append(text.length() > 200 ? "...\"" : "\"").toString();
    }
}

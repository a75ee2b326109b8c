package org.kestrova.beacon;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.SocketTimeoutException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Instant;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.RejectedExecutionException;
import java.util.concurrent.SynchronousQueue;
import java.util.concurrent.ThreadFactory;
import java.util.concurrent.ThreadPoolExecutor;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * BeaconServer, the station's local posting helper. The station starts it in its data folder
 * as {@code java -jar BeaconServer.jar <port> <true|false>} and sends it one-line requests on
 * 127.0.0.1:port; the helper keeps the camera's live-listing entry alive, relays the viewers'
 * move commands and the visitor status from the relay to the station's PTZ listener, and ends
 * on "shutdown" or by itself once its station is gone.
 */
public final class BeaconServer {
    static final String LOG_FILE = "BeaconServer.log";

    private final Config config;
    private final int port;
    private final Instant started;
    private final Posting posting;
    private final ThreadPoolExecutor handlers;
    private final Object jobsLock = new Object();
    private MovePolling polling;
    private VisitorCheck visitors;
    private ServerSocket server;
    private volatile long lastRequest = System.nanoTime();
    private final AtomicBoolean ending = new AtomicBoolean();
    private volatile int exitCode;
    private final AtomicBoolean cleaning = new AtomicBoolean();
    private final CountDownLatch cleanedUp = new CountDownLatch(1);

    private BeaconServer(Config config, int port) {
        this.config = config;
        this.port = port;
        this.started = ProcessHandle.current().info().startInstant().orElse(Instant.now());
        this.posting = new Posting(config.refreshMs);
        this.handlers = new ThreadPoolExecutor(0, Config.MAX_CONNECTIONS, 30, TimeUnit.SECONDS,
                new SynchronousQueue<>(), threads("request"));
    }

    public static void main(String[] args) {
        int port = args.length >= 1 && args.length <= 2 ? ListingData.portNumber(args[0]) : -1;
        boolean debug = args.length == 2 && args[1].equalsIgnoreCase("true");
        Config config = new Config(System.getenv());
        Log.open(Path.of(LOG_FILE), debug, config.logMaxBytes);
        if (port < 0) {
            Log.info("Bad command line " + Log.quote(String.join(" ", args))
                    + "; usage: java -jar BeaconServer.jar <port> <true|false>");
            System.err.println("Usage: java -jar BeaconServer.jar <port> <true|false>");
            System.exit(2);
        }
        config.warnings.forEach(Log::info);
        HttpCall.useStationKey(config.stationKey);
        new BeaconServer(config, port).serve();
    }

    /** Daemon threads named after their job. */
    static ThreadFactory threads(String name) {
        AtomicInteger count = new AtomicInteger();
        return job -> {
            Thread t = new Thread(job, name + "-" + count.incrementAndGet());
            t.setDaemon(true);
            return t;
        };
    }

    private void serve() {
        String version = BeaconServer.class.getPackage().getImplementationVersion();
        Log.info("BeaconServer " + (version != null ? version : "(development)") + " starting: port "
                + port + ", debug " + Log.debugOn() + ", pid " + ProcessHandle.current().pid()
                + ", station pid " + (config.stationPid > 0 ? config.stationPid : "not given")
                + ", station key " + (config.stationKey != null ? "given" : "not given")
                + ", folder " + Path.of("").toAbsolutePath() + ", Java " + Runtime.version());
        try {
            server = new ServerSocket();
            server.setReuseAddress(true);
            server.bind(new InetSocketAddress(InetAddress.getLoopbackAddress(), port), 50);
        } catch (IOException e) {
            Log.info("Cannot listen on 127.0.0.1 port " + port + " (" + e.getMessage()
                    + "); another helper probably runs there; exiting");
            Log.close();
            System.exit(1);
        }
        Log.info("Listening on 127.0.0.1 port " + port);
        Runtime.getRuntime().addShutdownHook(new Thread(this::onProcessEnd, "process-end"));
        posting.start();
        Thread watch = threads("station-watch").newThread(this::watchStation);
        watch.start();

        while (!ending.get()) {
            Socket client;
            try {
                client = server.accept();
            } catch (IOException e) {
                if (ending.get()) {
                    break;
                }
                Log.info("Accepting a connection failed: " + e);
                sleepQuietly(100);
                continue;
            }
            lastRequest = System.nanoTime();
            try {
                handlers.execute(() -> handle(client));
            } catch (RejectedExecutionException e) {
                Log.info("More than " + Config.MAX_CONNECTIONS
                        + " connections at once; closing a new one");
                HttpCall.closeQuietly(client);
            }
        }
        cleanUp();
        System.exit(exitCode);
    }

    /** Starts the end of the helper: the accept loop stops and the main thread cleans up. */
    private void end(String reason, int code) {
        if (ending.compareAndSet(false, true)) {
            exitCode = code;
            Log.info(reason);
            try {
                server.close();
            } catch (IOException ignored) {
                // The accept loop ends either way.
            }
        }
    }

    /** Stops the jobs and removes the listing entry; once, whichever thread comes first. */
    private void cleanUp() {
        if (!cleaning.compareAndSet(false, true)) {
            try {
                cleanedUp.await(Config.FINAL_REMOVE_MS + 1000, TimeUnit.MILLISECONDS);
            } catch (InterruptedException ignored) {
                // ending anyway
            }
            return;
        }
        stopRelayJobs();
        posting.shutdown(Config.FINAL_REMOVE_MS);
        Log.info("BeaconServer stopped");
        cleanedUp.countDown();
    }

    /** The process ends (a signal, or System.exit after the clean-up). */
    private void onProcessEnd() {
        if (ending.compareAndSet(false, true)) {
            Log.info("Terminated; removing the listing entry and stopping");
            HttpCall.closeQuietly(server);
        }
        cleanUp();
        Log.close();
    }

    // ---- requests ----

    private void handle(Socket client) {
        try (client) {
            client.setTcpNoDelay(true);
            LineReader in = new LineReader(client, config.clientSilenceMs);
            String request = in.line(Config.REQUEST_LINE_MAX);
            if (request == null) {
                Log.debug("A client closed its connection without a request");
                return;
            }
            lastRequest = System.nanoTime();
            String word = request.strip();
            Log.debug("Request " + Log.quote(word));
            boolean shutdown = word.equals("shutdown");
            String answer = answer(word, in);
            if (answer == null) {
                return;
            }
            Log.debug("Answer " + Log.quote(answer));
            send(client, answer);
            if (shutdown) {
                end("Shutdown requested by the station", 0);
            }
        } catch (LineReader.TooLong e) {
            Log.info("A client sent " + e.getMessage() + "; connection closed");
        } catch (SocketTimeoutException e) {
            Log.info("A client sent nothing for " + config.clientSilenceMs
                    + " ms; connection dropped");
        } catch (IOException e) {
            Log.info("Connection error: " + e);
        } catch (RuntimeException e) {
            Log.info("Unexpected error while answering a request: " + e);
            dumpStack(e);
        }
    }

    /** The answer to one request; null when the connection is to be closed without one. */
    private String answer(String word, LineReader in) throws IOException {
        switch (word) {
            case "check_posting":
                return posting.check() ? "Posting; Check OK" : "Posting; Check FAIL";
            case "begin_posting":
            case "edit_posting": {
                boolean begin = word.equals("begin_posting");
                String fail = begin ? "Posting; Start FAIL - " : "Posting; Edit FAIL - ";
                String line = parameter(in, word);
                if (line == null) {
                    return null;
                }
                if (line == TOO_LONG) {
                    return fail + "parameter line too long";
                }
                try {
                    ListingData data = ListingData.parse(line);
                    Log.info("Posting: " + (begin ? "begin" : "edit") + " for camera "
                            + data.cameraId() + " at listing host " + data.listingHost());
                    Log.debug("Posting: data " + Log.quote(line, 4096));
                    posting.post(data);
                    return begin ? "Posting; Start OK" : "Posting; Edit OK";
                } catch (BadInput e) {
                    Log.info(word + " refused: " + e.getMessage() + ": " + Log.quote(line, 400));
                    return fail + e.getMessage();
                }
            }
            case "stop_posting":
                Log.info("Posting: stop");
                posting.stop();
                return "Posting; Stop OK";
            case "start_polling":
            case "start_reflector": {
                boolean moves = word.equals("start_polling");
                String fail = moves ? "Polling; Start FAIL - " : "Reflector; Start FAIL - ";
                String line = parameter(in, word);
                if (line == null) {
                    return null;
                }
                if (line == TOO_LONG) {
                    return fail + "parameter line too long";
                }
                try {
                    RelayLine relay =
                            RelayLine.parse(line, moves ? "MoveRouterProxy" : "CheckVisitorStatus");
                    startRelayJob(moves, relay);
                    return moves ? "Polling; Start OK" : "Reflector; Start OK";
                } catch (BadInput e) {
                    Log.info(word + " refused: " + e.getMessage() + ": " + Log.quote(line, 400));
                    return fail + e.getMessage();
                }
            }
            case "stop_polling":
                stopRelayJob(true);
                return "Polling; Stop OK";
            case "stop_reflector":
                stopRelayJob(false);
                return "Reflector; Stop OK";
            case "thread_dump":
                threadDump();
                return "Dump OK";
            case "shutdown":
                return "Shutdown;";
            default:
                Log.info("Unknown request " + Log.quote(word, 80));
                return "Error: unknown request";
        }
    }

    /** Stands for a parameter line over the limit. */
    private static final String TOO_LONG = new String("(too long)");

    /**
     * The parameter line of a request: TOO_LONG when it is over the limit, null (logged) when
     * the client closed before sending it.
     */
    private static String parameter(LineReader in, String word) throws IOException {
        try {
            String line = in.line(Config.PARAMETER_LINE_MAX);
            if (line == null) {
                Log.info(word + " without its parameter line; connection closed");
            }
            return line;
        } catch (LineReader.TooLong e) {
            Log.info(word + " with " + e.getMessage() + " as its parameter line; refused");
            return TOO_LONG;
        }
    }

    /**
     * Sends the answer and closes the connection: our side is shut first and whatever the
     * client still sends is read for a moment, so that the close never discards the answer.
     */
    private static void send(Socket client, String answer) throws IOException {
        OutputStream out = client.getOutputStream();
        out.write((answer + "\r\n").getBytes(StandardCharsets.ISO_8859_1));
        out.flush();
        client.shutdownOutput();
        client.setSoTimeout(500);
        InputStream in = client.getInputStream();
        byte[] rest = new byte[1024];
        try {
            for (int total = 0; total < 65536; ) {
                int n = in.read(rest);
                if (n < 0) {
                    break;
                }
                total += n;
            }
        } catch (IOException e) {
            // The client kept its side open; closing now is fine.
        }
    }

    // ---- relay jobs ----

    private void startRelayJob(boolean moves, RelayLine line) {
        synchronized (jobsLock) {
            RelayJob current = moves ? polling : visitors;
            if (current != null && current.running() && current.line().equals(line)) {
                Log.debug((moves ? "Polling" : "Visitor check") + ": already running");
                return;
            }
            if (current != null) {
                current.stop();
            }
            if (moves) {
                polling = new MovePolling(line);
                polling.start();
            } else {
                visitors = new VisitorCheck(line);
                visitors.start();
            }
        }
    }

    private void stopRelayJob(boolean moves) {
        synchronized (jobsLock) {
            RelayJob current = moves ? polling : visitors;
            if (current != null) {
                current.stop();
            } else {
                Log.debug((moves ? "Polling" : "Visitor check") + ": stop while not running");
            }
            if (moves) {
                polling = null;
            } else {
                visitors = null;
            }
        }
    }

    private void stopRelayJobs() {
        stopRelayJob(true);
        stopRelayJob(false);
    }

    // ---- the station's lifetime ----

    /**
     * Ends the helper when nobody has asked anything for a while and its station has gone: the
     * station's pid is not alive, now belongs to a process started after the helper, or was
     * never given.
     */
    private void watchStation() {
        long interval = Math.max(50, Math.min(config.exitIdleMs / 4, 5000));
        long reportedFor = -1;
        while (!ending.get()) {
            sleepQuietly(interval);
            long since = lastRequest;
            long idleMs = TimeUnit.NANOSECONDS.toMillis(System.nanoTime() - since);
            if (idleMs < config.exitIdleMs) {
                continue;
            }
            String gone = stationGone();
            if (gone != null) {
                end("No request for " + idleMs / 1000 + " s and " + gone + "; exiting", 0);
                return;
            }
            if (reportedFor != since) {
                reportedFor = since;
                Log.debug("No request for " + idleMs + " ms; the station (pid " + config.stationPid
                        + ") still runs");
            }
        }
    }

    /** Why the station counts as gone, or null while it runs. */
    private String stationGone() {
        long pid = config.stationPid;
        if (pid <= 0) {
            return "no station process id was given";
        }
        Optional<ProcessHandle> station = ProcessHandle.of(pid);
        if (station.isEmpty() || !station.get().isAlive() || isZombie(pid)) {
            return "the station (pid " + pid + ") has ended";
        }
        Optional<Instant> since = station.get().info().startInstant();
        if (since.isPresent() && since.get().isAfter(started)) {
            return "pid " + pid + " now belongs to a process started after the helper";
        }
        return null;
    }

    /** A process that has ended but not yet been collected by its parent. */
    private static boolean isZombie(long pid) {
        try {
            String stat = Files.readString(Path.of("/proc/" + pid + "/stat"));
            int close = stat.lastIndexOf(')');
            return close > 0 && close + 2 < stat.length() && stat.charAt(close + 2) == 'Z';
        } catch (IOException | RuntimeException e) {
            return false;
        }
    }

    // ---- diagnostics ----

    private static void threadDump() {
        Map<Thread, StackTraceElement[]> all = Thread.getAllStackTraces();
        List<String> lines = new ArrayList<>();
        lines.add("Thread dump: " + all.size() + " threads");
        all.entrySet().stream()
                .sorted(Comparator.comparing(e -> e.getKey().getName()))
                .forEach(e -> {
                    Thread t = e.getKey();
                    lines.add("\"" + t.getName() + "\"" + (t.isDaemon() ? " daemon" : "") + " "
                            + t.getState());
                    for (StackTraceElement frame : e.getValue()) {
                        lines.add("    at " + frame);
                    }
                });
        Log.block(lines);
    }

    private static void dumpStack(Throwable e) {
        List<String> lines = new ArrayList<>();
        for (StackTraceElement frame : e.getStackTrace()) {
            lines.add("    at " + frame);
        }
        Log.block(lines);
    }

    private static void sleepQuietly(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException ignored) {
            Thread.currentThread().interrupt();
        }
    }
}

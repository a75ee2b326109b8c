package org.kestrova.beacon;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.net.SocketTimeoutException;
import java.nio.charset.StandardCharsets;
import java.util.Set;
import java.util.concurrent.TimeUnit;
import java.util.regex.Pattern;

/**
 * Delivery to the station's PTZ listener on 127.0.0.1: one connection per packet, the packet's
 * bytes with no terminator, then wait for "OK" CR LF (the listener answers every block of data
 * it receives and closes the connection).
 */
final class StationListener {
    /** The move and zoom words that a viewer may send through the relay. */
    private static final Set<String> MOVES = Set.of("tilt_up", "tilt_down", "pan_left",
            "pan_right", "pan_double_left", "pan_double_right", "set_motor_home", "pre_up",
            "pre_down", "pre_left", "pre_right", "ZOOM_IN", "ZOOM_OUT", "RESTORE");
    private static final Pattern PRESET =
            Pattern.compile("Preset_[+-]?[0-9]{1,7}:[+-]?[0-9]{1,7}:[+-]?[0-9]{1,7}");

    private StationListener() {}

    /**
     * Whether a line from the move queue is one of the viewer's commands. The listener acts on
     * every command word found anywhere in a packet, including the words that switch the
     * station's uploads, so nothing else from the relay is passed on.
     */
    static boolean isMoveCommand(String line) {
        return MOVES.contains(line) || PRESET.matcher(line).matches();
    }

    /** Sends one packet; true when the listener answered "OK". Failures are logged. */
    static boolean deliver(int port, String packet) {
        long deadline = System.nanoTime() + TimeUnit.MILLISECONDS.toNanos(Config.DELIVERY_MS);
        try (Socket socket = new Socket()) {
            socket.connect(new InetSocketAddress(InetAddress.getLoopbackAddress(), port),
                    HttpCall.remainingMs(deadline));
            socket.setTcpNoDelay(true);
            OutputStream out = socket.getOutputStream();
            out.write(packet.getBytes(StandardCharsets.ISO_8859_1));
            out.flush();
            InputStream in = socket.getInputStream();
            StringBuilder answer = new StringBuilder();
            byte[] buffer = new byte[64];
            while (answer.indexOf("OK\r\n") < 0) {
                socket.setSoTimeout(HttpCall.remainingMs(deadline));
                int n = in.read(buffer);
                if (n < 0) {
                    Log.info("Station listener: port " + port + " closed the connection without"
                            + " \"OK\" after " + packet + " (answer "
                            + Log.quote(answer.toString(), 40) + ")");
                    return false;
                }
                if (answer.length() < 256) {
                    answer.append(new String(buffer, 0, n, StandardCharsets.ISO_8859_1));
                }
            }
            Log.debug("Station listener: " + packet + " delivered to port " + port);
            return true;
        } catch (SocketTimeoutException e) {
            Log.info("Station listener: timed out: no \"OK\" from port " + port + " within "
                    + Config.DELIVERY_MS + " ms for " + packet);
        } catch (IOException e) {
            Log.info("Station listener: cannot deliver " + packet + " to port " + port + ": "
                    + HttpCall.why(e));
        }
        return false;
    }
}

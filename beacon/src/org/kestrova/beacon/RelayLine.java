package org.kestrova.beacon;

import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The parameter line of "start_polling" and "start_reflector":
 * http://HOST:PORT/webcams/MoveRouterProxy?id=ID;PTZPORT (or .../CheckVisitorStatus?id=ID;...),
 * where PTZPORT is the port of the station's PTZ listener on 127.0.0.1.
 */
record RelayLine(String text, HttpCall.Endpoint relay, String target, String cameraId,
        int listenerPort) {

    private static final Pattern LINE = Pattern.compile(
            "http://([A-Za-z0-9._-]{1,253}):([0-9]{1,5})"
                    + "((?:/[A-Za-z0-9_.-]{1,64}){0,8}/([A-Za-z]{1,64}))"
                    + "\\?id=([A-Za-z0-9_-]{1,50});([0-9]{1,5})");

    static RelayLine parse(String line, String route) throws BadInput {
        String text = line.strip();
        Matcher m = LINE.matcher(text);
        if (!m.matches()) {
            throw new BadInput("the relay line is not http://host:port/path?id=ID"
                    + " followed by the listener port");
        }
        if (!m.group(4).equals(route)) {
            throw new BadInput("the relay line names another route");
        }
        int relayPort = ListingData.portNumber(m.group(2));
        int listenerPort = ListingData.portNumber(m.group(6));
        if (relayPort < 0 || listenerPort < 0) {
            throw new BadInput("a port of the relay line is not from 1 to 65535");
        }
        String id = m.group(5);
        return new RelayLine(text, new HttpCall.Endpoint(m.group(1), relayPort),
                m.group(3) + "?id=" + id, id, listenerPort);
    }
}

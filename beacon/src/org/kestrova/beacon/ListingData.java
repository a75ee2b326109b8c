package org.kestrova.beacon;

import java.util.regex.Pattern;

/**
 * The station's listing data string: 14 fields joined by "&amp;". Field 1 is the listing host
 * (host or host:port), 2 and 3 the camera's relay host and port, 4 is empty, 5 the folder, 6 the
 * camera name and 7 the e-mail address (both percent-encoded already; a single blank e-mail means
 * none), 8 the installation type number, 9 the PTZ flag, 10 the passwords switch, 11 the camera
 * id, 12 the public listing switch, 13 hide thumbnail, 14 display archive.
 */
record ListingData(HttpCall.Endpoint listingHost, String relayHost, int relayPort, String folder,
        String name, String email, int type, boolean ptz, boolean passwords, String cameraId,
        boolean listed, boolean hideThumbnail, boolean archive) {

    static final Pattern HOST = Pattern.compile("[A-Za-z0-9._-]{1,253}");
    static final Pattern CAMERA_ID = Pattern.compile("[A-Za-z0-9_-]{1,50}");

    static ListingData parse(String line) throws BadInput {
        String[] f = line.split("&", -1);
        if (f.length != 14) {
            throw new BadInput("the listing data has " + f.length + " fields instead of 14");
        }
        HttpCall.Endpoint listing = hostAndPort(f[0], "1 (listing host)");
        String relayHost = f[1].strip();
        if (!HOST.matcher(relayHost).matches()) {
            throw bad("2 (relay host)");
        }
        int relayPort = port(f[2], "3 (relay port)");
        String folder = f[4];
        if (!CAMERA_ID.matcher(folder).matches()) {
            throw bad("5 (folder)");
        }
        String name = f[5];
        if (!isFormValue(name) || name.length() > 1024) {
            throw bad("6 (camera name)");
        }
        String email = f[6].equals(" ") ? "" : f[6];
        if (!isFormValue(email) || email.length() > 1024) {
            throw bad("7 (e-mail address)");
        }
        int type;
        try {
            type = Integer.parseInt(f[7]);
        } catch (NumberFormatException e) {
            throw bad("8 (type number)");
        }
        if (type < Short.MIN_VALUE || type > Short.MAX_VALUE) {
            throw bad("8 (type number)");
        }
        boolean ptz = flag(f[8], "9 (PTZ)");
        boolean passwords = flag(f[9], "10 (passwords)");
        String id = f[10].strip();
        if (!CAMERA_ID.matcher(id).matches()) {
            throw bad("11 (camera id)");
        }
        return new ListingData(listing, relayHost, relayPort, folder, name, email, type, ptz,
                passwords, id, flag(f[11], "12 (live listing)"), flag(f[12], "13 (hide thumbnail)"),
                flag(f[13], "14 (display archive)"));
    }

    /**
     * Whether a text is a form value as the station's encoder writes it: letters and digits as
     * they are, every other byte as a percent sign and two hexadecimal digits. Such a value can
     * go into a form body unchanged.
     */
    static boolean isFormValue(String text) {
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                    || "._~*-".indexOf(c) >= 0) {
                continue;
            }
            if (c != '%' || i + 2 >= text.length() || !isHex(text.charAt(i + 1))
                    || !isHex(text.charAt(i + 2))) {
                return false;
            }
            i += 2;
        }
        return true;
    }

    private static boolean isHex(char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    }

    /** The same entry at the same listing host (other values may differ). */
    boolean sameEntry(ListingData other) {
        return other != null && listingHost.equals(other.listingHost)
                && cameraId.equals(other.cameraId);
    }

    /** The form of POST /live/post; the token is left out when there is none yet. */
    String postForm(String token) {
        StringBuilder b = new StringBuilder();
        b.append("id=").append(cameraId);
        b.append("&name=").append(name);
        // A single blank is the listing's way of saying "no address".
        b.append("&email=").append(email.isEmpty() ? "%20" : email);
        b.append("&relay=").append(relayHost).append("%3A").append(relayPort);
        b.append("&folder=").append(folder);
        b.append("&type=").append(type);
        b.append("&ptz=").append(ptz ? 1 : 0);
        b.append("&password=").append(passwords ? 1 : 0);
        b.append("&listed=").append(listed ? 1 : 0);
        b.append("&hidethumb=").append(hideThumbnail ? 1 : 0);
        b.append("&archive=").append(archive ? 1 : 0);
        if (token != null) {
            b.append("&token=").append(token);
        }
        return b.toString();
    }

    static HttpCall.Endpoint hostAndPort(String text, String field) throws BadInput {
        String t = text.strip();
        int colon = t.lastIndexOf(':');
        String host = colon >= 0 ? t.substring(0, colon) : t;
        int port = colon >= 0 ? port(t.substring(colon + 1), field) : 80;
        if (!HOST.matcher(host).matches()) {
            throw bad(field);
        }
        return new HttpCall.Endpoint(host, port);
    }

    static int port(String text, String field) throws BadInput {
        int port = portNumber(text);
        if (port < 0) {
            throw bad(field);
        }
        return port;
    }

    /** A TCP port from 1 to 65535 in decimal, or -1. */
    static int portNumber(String text) {
        String t = text.strip();
        if (t.isEmpty() || t.length() > 5 || !t.chars().allMatch(c -> c >= '0' && c <= '9')) {
            return -1;
        }
        int port = Integer.parseInt(t);
        return port >= 1 && port <= 65535 ? port : -1;
    }

    private static boolean flag(String text, String field) throws BadInput {
        return switch (text.strip()) {
            case "1" -> true;
            case "0" -> false;
            default -> throw bad(field);
        };
    }

    private static BadInput bad(String field) {
        return new BadInput("field " + field + " of the listing data is not valid");
    }
}

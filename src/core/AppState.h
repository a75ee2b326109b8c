// The shared state of the station: one instance per process, read and written directly by
// every module on the window thread. Nothing here is locked; the flags are the only
// coordination between handlers that run inside each other's wait loops.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>

namespace kestrova {

// True/false flags are 16-bit: 0 is false, -1 is true. Check-box values are 0 and 1.
using Flag = std::int16_t;
constexpr Flag kTrue = -1;
constexpr Flag kFalse = 0;

// A fixed-length text field of N bytes, stored as UTF-8: left-aligned, padded with blanks
// when assigned, cut at N bytes without splitting a character. A field never assigned holds
// N zero bytes.
template <std::size_t N> class FixedText {
  public:
    FixedText() { bytes_.fill(0); }

    void assign(const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        std::size_t len = std::min<std::size_t>(N, static_cast<std::size_t>(utf8.size()));
        // Step back over continuation bytes so that no character is cut in half.
        if (len < static_cast<std::size_t>(utf8.size())) {
            while (len > 0 &&
                   (static_cast<unsigned char>(utf8[static_cast<int>(len)]) & 0xC0) == 0x80)
                --len;
        }
        bytes_.fill(' ');
        std::copy_n(utf8.constData(), len, bytes_.begin());
    }
    FixedText& operator=(const QString& text) {
        assign(text);
        return *this;
    }

    // The whole field as text, blanks included.
    QString text() const {
        return QString::fromUtf8(reinterpret_cast<const char*>(bytes_.data()), N);
    }
    // The value with surrounding blanks (and the zero bytes of an unset field) removed.
    QString trimmed() const {
        QString t = text();
        t.replace(QChar(0), QChar(' '));
        return t.trimmed();
    }

    static constexpr std::size_t size() { return N; }
    const std::array<char, N>& bytes() const { return bytes_; }
    std::array<char, N>& bytes() { return bytes_; }

  private:
    std::array<char, N> bytes_;
};

// settings.dat: 308 bytes.
struct SettingsRecord {
    FixedText<256> ReservedText;
    std::int32_t SettingsSaved = 0;
    std::int32_t Reserved260 = 0;
    std::int32_t Reserved264 = 0;
    std::int16_t CameraIndex = 0;
    std::int16_t Reserved270 = 0;
    std::int16_t Reserved272 = 0;
    std::int16_t PtzPort = 0;
    std::int16_t LiveListing = 0;
    std::int16_t HideThumbnail = 0;
    std::int16_t Reserved280 = 0;
    std::int16_t JpegQuality = 0;
    std::int16_t ZoomEnabled = 0;
    std::int16_t SnapshotEnabled = 0;
    std::int16_t TimeStampOn = 0;
    std::int16_t Reserved290 = 0;
    std::int16_t Reserved292 = 0;
    std::int16_t Reserved294 = 0;
    std::int16_t PasswordsEnabled = 0;
    std::int16_t PresetsEnabled = 0;
    std::int16_t ArchiveEnabled = 0;
    std::int16_t ChatEnabled = 0;
    std::int16_t Reserved304 = 0;
    std::int16_t Reserved306 = 0;
};

// cam.dat: 514 bytes.
struct CamRecord {
    FixedText<256> CameraName;
    FixedText<256> EmailAddress;
    std::int16_t WizardDone = 0;
};

// chat.dat: 106 bytes.
struct ChatRecord {
    FixedText<50> ChatUserName;
    FixedText<50> ChatRoomName;
    std::int32_t ChatRoomNumber = 0;
    std::int16_t ChatRoomSet = 0;
};

// archive.dat: 4 bytes.
struct ArchiveRecord {
    std::int16_t DisplayArchive = 0;
    std::int16_t ArchiveRateIndex = 0;
};

// Status of one axis of the pan-tilt motor unit, as the motor library fills it.
struct AxisStatus {
    std::int32_t Position = 0;
    std::int32_t Speed = 0;
    std::int32_t Home = 0;
    std::int32_t Limit = 0;
};

struct AppState {
    // Paths and start-up values.
    QString DataFolder;
    QString InstallFolder;
    QString JavaPath;
    QString JavawPath;
    QString PostingServiceJar;
    QString PostingServiceCommand;
    std::int16_t TypeNumber = 0;

    // Camera identity: the identifier, and the station key the relay binds the camera to
    // (station.key; never logged or shown).
    FixedText<50> CameraId;
    QString StationKey;

    // Settings records; which of them were read from disk this run. A record that was
    // never loaded is never written back, so an early exit cannot wipe stored settings.
    SettingsRecord Settings;
    CamRecord Cam;
    ChatRecord Chat;
    ArchiveRecord Archive;
    bool SettingsLoaded = false;
    bool CamLoaded = false;
    bool ChatLoaded = false;
    bool ArchiveLoaded = false;

    // Camera and motor.
    std::int32_t CameraSourceKind = 0;
    Flag IsPtzCamera = kFalse;
    Flag IsCreativeMotion = kFalse;
    Flag IsLogitechPtz = kFalse;
    Flag IsPantiltCamera = kFalse;
    std::int32_t PanMin = 0, PanMax = 0, TiltMin = 0, TiltMax = 0, ZoomMin = 0, ZoomMax = 0;
    std::int32_t PanStep = 0, TiltStep = 0, ZoomStep = 0;
    std::int32_t PanDefault = 0, TiltDefault = 0, ZoomDefault = 0;
    std::int32_t PanFlags = 0, TiltFlags = 0, ZoomFlags = 0;
    std::int32_t PanPos = 0, TiltPos = 0, ZoomPos = 0;
    std::int16_t DirTiltDown = 0, DirPanLeft = 0, DirPanRight = 0, DirTiltUp = 0;
    AxisStatus AxisX, AxisY, AxisZ;
    Flag PtzListening = kFalse;
    // Debug mode (the command line "debug"): every packet the listener carries out is logged.
    Flag LogPtzPackets = kFalse;
    std::int16_t NextServerSocket = 0;
    std::int16_t ServerSocketCount = 0;

    // Relay, uploads, web requests and archive.
    QString ReflectorHost;
    std::int16_t ReflectorPort = 0;
    QString ReflectorPath;
    Flag UploadReady = kFalse;
    Flag ReflectorActive = kFalse;
    Flag CameraChanging = kFalse;
    Flag WebRequestDone = kFalse;
    Flag WebConnected = kFalse;
    QByteArray WebResponse;
    QByteArray LastResponseHeaders;
    std::int16_t ArchiveElapsed = 0;
    std::int16_t ArchiveInterval = 0;
    Flag ArchiveDone = kFalse;
    Flag ArchiveConnected = kFalse;
    QByteArray ArchiveResponse;
    // The relay refused the station key; cleared when it accepts a keyed request again.
    Flag StationKeyRefused = kFalse;

    // Posting service and closing.
    Flag PostingActive = kFalse;
    Flag PostingCheckOK = kFalse;
    Flag PollingActive = kFalse;
    Flag ReflectorRunning = kFalse;
    Flag RequestAnswered = kFalse;
    Flag PostingServerRunning = kFalse;
    Flag AbortRequested = kFalse;
    Flag ShutdownRequested = kFalse;
    QString LastErrorText;
};

// The state of the station that runs in this process (its StationState).
AppState& App();

} // namespace kestrova

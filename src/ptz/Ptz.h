// Pan, tilt and zoom: the command words that move the camera and their dispatcher, the three
// motor back-ends (the camera motion library, the capture control's camera-control properties,
// the pantilt motor unit), the zoom slider, and the local command listener through which
// viewers' commands arrive.
//
// Everything runs on the window thread. A preset of the camera motion library waits several
// seconds while events run; a packet that arrives meanwhile (from the listener or a move button)
// waits its turn and is carried out when the one before it has ended.
#pragma once

#include "core/Controls.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QHostAddress;
class QTcpServer;
class QTcpSocket;

namespace kestrova {

class CaptureControl;
class LvCamLibrary;
class MotorBackEnd;
class PantiltLibrary;

// The ports of the command listener: the one it prefers, and the range it scans when that one
// is taken. Port numbers are kept in 16 signed bits, so all of them are below 32768.
struct PtzPorts {
    int preferred = 4321;
    int scanFirst = 4322;
    int scanLast = 4443;
};

// The longest packet the listener takes; a connection that sends more before it is served is
// closed without an answer.
constexpr int kMaxPacketBytes = 4096;

// The listener's connection sockets.
constexpr int kServerSocketCount = 3;

class PtzControl : public QObject {
    Q_OBJECT
  public:
    // `camSrc` is the capture control whose camera-control properties move and zoom the camera.
    // Installs the handlers of the five move buttons and of the zoom slider.
    explicit PtzControl(CaptureControl& camSrc, QObject* parent = nullptr);
    ~PtzControl() override;
    PtzControl(const PtzControl&) = delete;
    PtzControl& operator=(const PtzControl&) = delete;

    // --- Command words and their dispatcher ---

    // Carries out every command word found in the packet, in the fixed order of the words. A
    // packet that fails (a preset that is no number, an overflow, a motor library that cannot
    // be loaded) ends there and leaves a " Process Packet Error: " line in the event log.
    void ProcessPacket(const QString& packet);

    // The preset word: "Preset_pan:tilt:zoom", or as a request line "GET /Preset_pan:tilt:zoom
    // HTTP/1.1". Moves the back-end of the camera to the preset. Throws AppError.
    void ParsePreset(const QString& packet);

    // A click of move button `index` (0 left, 1 right, 2 up, 3 down, 4 home): its packet, while
    // the camera has a motor.
    void butMove_Click(int index);

    // --- The motor back-end and zoom ---

    // Chooses the camera's motor back-end; its step sizes, ranges and direction codes; the zoom
    // slider's range.
    void ReadMotorRanges();

    // Connects the motor library of the camera's back-end at start-up. A library that cannot be
    // loaded throws AppError under the failure text "Failed to connect to lvcam.dll" or
    // "Failed to connect to pantilt.dll".
    void ConnectMotorAtStartup();

    // Zoom: operation 0 in, 1 out, 2 fully out ("RESTORE"), by `step`. Throws AppError.
    void StepZoom(std::int16_t operation, std::int32_t step);
    // Writes ZoomPos to the camera's zoom (the pantilt Z axis for that back-end).
    void ApplyZoom();
    // The zoom slider's change handler: ZoomPos follows the slider and goes to the camera.
    void sldFocus_Change();

    // The motor libraries; the fuzz entry binds functions linked into it instead of loading.
    PantiltLibrary& pantilt() { return *pantilt_; }
    LvCamLibrary& lvcam() { return *lvcam_; }

    // --- Command listener ---

    // Opens the listener on 127.0.0.1 (nothing when it is open already) at the port of the
    // setting PtzPort (0: the preferred port), or the first free one of the scan range; the
    // setting keeps the port in use. A listener that cannot be opened throws AppError.
    void OpenPtzListener();
    // Closes the connection sockets and the listener (the close of the station).
    void ClosePtzListener();

    // True when a listener could listen on 127.0.0.1 at `port`.
    bool CheckPort(int port);
    // The first port of the range a listener could listen on; 0 (after telling the user) when
    // none.
    int ScanPorts(std::int16_t startport, std::int16_t endport);

    void setPorts(const PtzPorts& ports) { ports_ = ports; }

    // What the listener is bound to; 0 and a null address while it is not listening.
    std::uint16_t listenerPort() const;
    QHostAddress listenerAddress() const;
    // The remote port of the connection that connection socket `index` serves; 0 when none.
    std::uint16_t serverSocketPeerPort(int index) const;

  private:
    struct Pending {
        QString packet;
        std::function<void()> done;
    };
    struct Connection {
        QPointer<QTcpSocket> socket;
        bool served = false;
        std::uint64_t accepted = 0; // order of acceptance
    };

    void Dispatch(QString packet, std::function<void()> done);
    void RunPacket(const QString& packet);

    void ChooseMotorBackEnd();
    // The back-end, kept alive by the caller for as long as its operation runs: a camera change
    // during a preset's waits chooses another one meanwhile.
    std::shared_ptr<MotorBackEnd> Motor() const { return backEnd_; }
    // Sets the zoom slider's value and runs its change handler, as a command does: an error of
    // the handler comes back to the command.
    void SetZoomSlider(std::int32_t value);

    int TakeServerSocket();
    void OnConnectionRequest();
    void OnDataArrival(int index, QTcpSocket* socket);
    void SendAnswer(int index, const QPointer<QTcpSocket>& socket);
    void CloseServerSocket(int index);
    void DeleteClosedSockets();
    bool Holds(int index, const QTcpSocket* socket) const;

    CaptureControl& camSrc_;
    std::unique_ptr<PantiltLibrary> pantilt_;
    std::unique_ptr<LvCamLibrary> lvcam_;
    std::shared_ptr<MotorBackEnd> backEnd_;

    std::deque<Pending> pending_;
    bool dispatching_ = false;
    // Connections closed while a packet was under way: deleted once it has ended.
    std::vector<QPointer<QTcpSocket>> closedDuringDispatch_;
    bool zoomByCommand_ = false;
    std::exception_ptr zoomError_;

    PtzPorts ports_;
    QPointer<QTcpServer> listenerSocket_;
    std::array<Connection, kServerSocketCount> serverSocket_;
    std::uint64_t acceptCount_ = 0;

    HandlerOwner alive_ = std::make_shared<int>();
};

} // namespace kestrova

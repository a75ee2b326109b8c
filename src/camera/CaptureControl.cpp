#include "camera/CaptureControl.h"

#include "camera/SourceSettingsDialog.h"

#include <QDateTime>
#include <QWidget>

namespace kestrova {

namespace {
// Devices that make their frames on request are drawn for the preview at this interval: a
// lively picture at a small cost.
constexpr int kPreviewIntervalMs = 100;
// How often a connected control checks that its device is still there, or looks for it again.
constexpr int kHealthIntervalMs = 2000;
} // namespace

CaptureControl::CaptureControl(QObject* parent) : QObject(parent) {
    previewTimer_.setInterval(kPreviewIntervalMs);
    healthTimer_.setInterval(kHealthIntervalMs);
    connect(&previewTimer_, &QTimer::timeout, this, [this] { DrawPreviewFrame(); });
    connect(&healthTimer_, &QTimer::timeout, this, [this] { OnHealthTick(); });
}

CaptureControl::~CaptureControl() {
    delete sourceDialog_.data();
    CloseDevice();
}

int CaptureControl::DeviceCount() {
    devices_ = ListCaptureDevices();
    return static_cast<int>(devices_.size());
}

QString CaptureControl::DeviceName(int index) const {
    if (index < 0 || index >= static_cast<int>(devices_.size()))
        return {};
    return devices_[static_cast<std::size_t>(index)].name;
}

void CaptureControl::SetDevice(int index) {
    device_ = index;
    if (connected_) {
        SetConnected(false);
        SetConnected(true);
    }
}

void CaptureControl::SetConnected(bool on) {
    if (!on) {
        connected_ = false;
        healthTimer_.stop();
        CloseDevice();
        connectedInfo_ = CaptureDeviceInfo{};
        UpdatePreviewTimer();
        emit frameChanged(QImage());
        emit connectionChanged(false);
        return;
    }
    if (connected_)
        return;
    // The list may have changed since it was read (a chooser of its own read it since).
    devices_ = ListCaptureDevices();
    if (device_ < 0 || device_ >= static_cast<int>(devices_.size()))
        return;
    connected_ = true;
    connectedInfo_ = devices_[static_cast<std::size_t>(device_)];
    OpenDevice();
    healthTimer_.start();
    emit connectionChanged(true);
    if (!open_)
        emit pictureLost(connectedInfo_.name);
}

void CaptureControl::OpenDevice() {
    open_ = OpenCaptureDevice(connectedInfo_);
    if (!open_)
        return;
    if (format_.isValid())
        open_->setFormat(format_.width(), format_.height());
    CaptureDevice* device = open_.get();
    connect(device, &CaptureDevice::frameArrived, this, [this] { OnFrameArrived(); });
    // Queued: the device reports its loss from inside its own reading; it is closed afterwards.
    connect(
        device, &CaptureDevice::deviceLost, this,
        [this] {
            if (open_ && open_->lost())
                HandleLoss();
        },
        Qt::QueuedConnection);
    UpdatePreviewTimer();
}

void CaptureControl::CloseDevice() {
    if (!open_)
        return;
    open_->disconnect(this);
    open_.reset();
}

void CaptureControl::HandleLoss() {
    if (!open_)
        return;
    CloseDevice();
    UpdatePreviewTimer();
    emit frameChanged(QImage());
    emit pictureLost(connectedInfo_.name);
}

void CaptureControl::OnHealthTick() {
    if (!connected_)
        return;
    if (open_) {
        if (open_->lost())
            HandleLoss();
        return;
    }
    TryReconnect();
}

void CaptureControl::TryReconnect() {
    if (!connected_ || open_)
        return;
    const std::vector<CaptureDeviceInfo> list = ListCaptureDevices();
    int found = -1;
    for (std::size_t i = 0; i < list.size() && found < 0; ++i) {
        if (list[i].id == connectedInfo_.id)
            found = static_cast<int>(i);
    }
    // Plugged into another port: the same camera by its name.
    for (std::size_t i = 0; i < list.size() && found < 0; ++i) {
        if (list[i].name == connectedInfo_.name)
            found = static_cast<int>(i);
    }
    if (found < 0)
        return;
    devices_ = list;
    device_ = found;
    connectedInfo_ = list[static_cast<std::size_t>(found)];
    OpenDevice();
    if (open_)
        emit pictureBack(connectedInfo_.name, found);
}

void CaptureControl::SetPreview(bool on) {
    preview_ = on;
    UpdatePreviewTimer();
    if (!on)
        emit frameChanged(QImage());
}

void CaptureControl::UpdatePreviewTimer() {
    if (preview_ && open_ && !open_->pushesFrames()) {
        if (!previewTimer_.isActive()) {
            previewTimer_.start();
            DrawPreviewFrame(); // the picture appears at once, not a tick later
        }
    } else {
        previewTimer_.stop();
    }
}

void CaptureControl::DrawPreviewFrame() {
    if (!open_)
        return;
    QImage frame = open_->frame();
    if (open_->lost()) {
        HandleLoss();
        return;
    }
    emit frameChanged(Compose(std::move(frame)));
}

void CaptureControl::OnFrameArrived() {
    if (preview_ && open_)
        emit frameChanged(Compose(open_->frame()));
}

bool CaptureControl::SetVideoFormat(int width, int height) {
    format_ = QSize(width, height);
    return open_ && open_->setFormat(width, height);
}

QSize CaptureControl::FrameSize() const {
    return open_ ? open_->frameSize() : QSize();
}

int CaptureControl::SourceKind() const {
    return open_ && open_->inputs().size() > 1 ? 1 : 0;
}

bool CaptureControl::SelectInput(int index) {
    return open_ && open_->selectInput(index);
}

int CaptureControl::CurrentInput() const {
    return open_ ? open_->currentInput() : -1;
}

QStringList CaptureControl::Inputs() const {
    return open_ ? open_->inputs() : QStringList();
}

bool CaptureControl::GetCameraControlRange(CameraProperty property, ControlRange& range) {
    return open_ && open_->controlRange(property, range);
}

bool CaptureControl::GetCameraControl(CameraProperty property, std::int32_t& value) {
    return open_ && open_->controlValue(property, value);
}

bool CaptureControl::SetCameraControl(CameraProperty property, std::int32_t value) {
    return open_ && open_->setControlValue(property, value);
}

std::vector<DeviceControl> CaptureControl::DeviceControls() {
    return open_ ? open_->controls() : std::vector<DeviceControl>();
}

bool CaptureControl::SetDeviceControl(std::uint32_t id, std::int32_t value) {
    return open_ && open_->setControl(id, value);
}

void CaptureControl::ShowSourceDialog(QWidget* parent) {
    if (!open_)
        return;
    if (!sourceDialog_) {
        sourceDialog_ = new SourceSettingsDialog(*this, parent);
        sourceDialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    sourceDialog_->show();
    sourceDialog_->raise();
    sourceDialog_->activateWindow();
}

void CaptureControl::SetTextOverlay(int slot, const QString& text, int left, int top,
                                    const QString& font, int size, int colour, int background) {
    overlay_ = TextOverlay{slot, text, left, top, font, size, colour, background};
}

QImage CaptureControl::GrabFrame() {
    if (!open_)
        return {};
    QImage frame = open_->frame();
    if (open_->lost()) {
        HandleLoss();
        return {};
    }
    return frame;
}

QImage CaptureControl::CurrentFrame() {
    return Compose(GrabFrame());
}

QImage CaptureControl::CurrentFrame(const QSize& size) {
    QImage frame = GrabFrame();
    if (!frame.isNull() && frame.size() != size)
        frame = frame.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return Compose(std::move(frame));
}

QImage CaptureControl::Compose(QImage frame) {
    if (!frame.isNull() && !overlay_.text.isEmpty())
        DrawOverlay(frame, overlay_, QDateTime::currentDateTime());
    return frame;
}

bool ConnectAt320x240(CaptureControl& control, int index) {
    control.SetDevice(index);
    control.SetConnected(true);
    const bool formatOk = control.SetVideoFormat(320, 240);
    control.SetPreview(true);
    return formatOk;
}

} // namespace kestrova

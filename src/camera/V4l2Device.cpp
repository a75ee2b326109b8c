#include "camera/V4l2Device.h"

#include <QDir>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kestrova {

namespace {

// Reads that bring no frame in a row before the device counts as gone (libv4l2 answers
// EAGAIN for frames it could not convert; a device that only ever does that is of no use).
constexpr int kMaxFruitlessReads = 300;
// A device that delivered nothing for this long counts as gone, so that it is opened again.
constexpr qint64 kStaleFrameMs = 5000;
// Bounds on what a driver may report, so that a broken one cannot make us loop or allocate
// without end.
constexpr int kMaxSide = 8192;
constexpr int kMaxControls = 1024;
constexpr int kMaxMenuEntries = 256;
constexpr int kMaxInputs = 64;

QString FixedString(const __u8* bytes, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(bytes);
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, size))).trimmed();
}

int RawIoctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

int NodeNumber(const QString& node) {
    return node.mid(5).toInt();
}

} // namespace

std::vector<CaptureDeviceInfo> ListV4l2Devices() {
    static const QRegularExpression videoNode(QStringLiteral("^video[0-9]+$"));
    QStringList nodes =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                               [](const QString& n) { return !videoNode.match(n).hasMatch(); }),
                nodes.end());
    std::sort(nodes.begin(), nodes.end(),
              [](const QString& a, const QString& b) { return NodeNumber(a) < NodeNumber(b); });

    std::vector<CaptureDeviceInfo> devices;
    for (const QString& node : nodes) {
        const QString path = QStringLiteral("/dev/") + node;
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability cap{};
        const bool ok = RawIoctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        ::close(fd);
        if (!ok)
            continue;
        // A node's own capabilities; the whole device's when the driver does not give them.
        const std::uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
            continue;
        CaptureDeviceInfo info;
        info.name = FixedString(cap.card, sizeof cap.card);
        if (info.name.isEmpty())
            info.name = node;
        info.id = FixedString(cap.bus_info, sizeof cap.bus_info) + QLatin1Char('|') + info.name;
        info.path = path;
        devices.push_back(info);
    }
    return devices;
}

std::unique_ptr<V4l2Device> V4l2Device::Open(const CaptureDeviceInfo& info) {
    const int fd = ::open(info.path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    if (v4l2_fd_open(fd, 0) < 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<V4l2Device> device(new V4l2Device(fd, info.name));
    v4l2_capability cap{};
    if (device->Ioctl(VIDIOC_QUERYCAP, &cap) < 0)
        return nullptr;
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
        return nullptr;
    // Until a size is asked for, RGB at the size the device is set to.
    device->ReadFormat();
    device->setFormat(device->width_ > 0 ? device->width_ : 320,
                      device->height_ > 0 ? device->height_ : 240);
    return device;
}

V4l2Device::V4l2Device(int fd, QString name) : fd_(fd), name_(std::move(name)) {}

V4l2Device::~V4l2Device() {
    notifier_.reset();
    v4l2_close(fd_);
}

int V4l2Device::Ioctl(unsigned long request, void* arg) {
    int r;
    do {
        r = v4l2_ioctl(fd_, request, arg);
    } while (r < 0 && errno == EINTR);
    if (r < 0 && errno == ENODEV)
        MarkLost();
    return r;
}

void V4l2Device::ReadFormat() {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &fmt) < 0) {
        width_ = height_ = 0;
        rgb24_ = false;
        return;
    }
    const v4l2_pix_format& pix = fmt.fmt.pix;
    const bool sane =
        pix.width > 0 && pix.height > 0 && pix.width <= kMaxSide && pix.height <= kMaxSide;
    width_ = sane ? static_cast<int>(pix.width) : 0;
    height_ = sane ? static_cast<int>(pix.height) : 0;
    rgb24_ = sane && pix.pixelformat == V4L2_PIX_FMT_RGB24;
    bytesPerLine_ =
        std::max(static_cast<int>(std::min<__u32>(pix.bytesperline, kMaxSide * 4)), width_ * 3);
    const qsizetype needed = static_cast<qsizetype>(bytesPerLine_) * height_;
    const qsizetype reported = std::min<qsizetype>(pix.sizeimage, needed * 2);
    buffer_.resize(std::max(needed, reported));
}

bool V4l2Device::setFormat(int width, int height) {
    if (lost_)
        return false;
    StopReading();
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = static_cast<__u32>(width);
    fmt.fmt.pix.height = static_cast<__u32>(height);
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    Ioctl(VIDIOC_S_FMT, &fmt); // what the device settled on is read back below
    ReadFormat();
    latest_ = QImage();
    StartReading();
    return rgb24_ && width_ == width && height_ == height;
}

void V4l2Device::StartReading() {
    if (lost_ || !rgb24_ || buffer_.isEmpty())
        return;
    fruitlessReads_ = 0;
    latestAge_.start();
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    // The first read starts the capture; it answers EAGAIN until the first frame is there.
    OnReadable();
}

void V4l2Device::StopReading() {
    notifier_.reset();
}

void V4l2Device::OnReadable() {
    if (lost_ || !notifier_)
        return;
    const ssize_t n = v4l2_read(fd_, buffer_.data(), static_cast<size_t>(buffer_.size()));
    if (n < 0) {
        const int err = errno;
        if ((err == EAGAIN || err == EINTR) && ++fruitlessReads_ <= kMaxFruitlessReads)
            return;
        MarkLost();
        return;
    }
    const qsizetype needed = static_cast<qsizetype>(bytesPerLine_) * (height_ - 1) + width_ * 3;
    if (n < needed) {
        if (++fruitlessReads_ > kMaxFruitlessReads)
            MarkLost();
        return;
    }
    fruitlessReads_ = 0;
    QImage image(width_, height_, QImage::Format_RGB888);
    if (image.isNull())
        return;
    const char* source = buffer_.constData();
    for (int y = 0; y < height_; ++y)
        std::memcpy(image.scanLine(y), source + static_cast<qsizetype>(y) * bytesPerLine_,
                    static_cast<size_t>(width_) * 3);
    latest_ = image;
    latestAge_.restart();
    emit frameArrived();
}

void V4l2Device::MarkLost() {
    if (lost_)
        return;
    lost_ = true;
    StopReading();
    latest_ = QImage();
    emit deviceLost();
}

QImage V4l2Device::frame() {
    if (lost())
        return {};
    return latest_;
}

bool V4l2Device::lost() const {
    return lost_ || (notifier_ && latestAge_.isValid() && latestAge_.elapsed() > kStaleFrameMs);
}

bool V4l2Device::controlRange(CameraProperty property, ControlRange& range) {
    v4l2_queryctrl qc{};
    qc.id = V4l2ControlId(property);
    if (Ioctl(VIDIOC_QUERYCTRL, &qc) < 0 || (qc.flags & V4L2_CTRL_FLAG_DISABLED))
        return false;
    range.min = qc.minimum;
    range.max = qc.maximum;
    range.step = qc.step;
    range.def = qc.default_value;
    range.flags = static_cast<std::int32_t>(qc.flags);
    return true;
}

bool V4l2Device::controlValue(CameraProperty property, std::int32_t& value) {
    v4l2_control ctrl{};
    ctrl.id = V4l2ControlId(property);
    if (Ioctl(VIDIOC_G_CTRL, &ctrl) < 0)
        return false;
    value = ctrl.value;
    return true;
}

bool V4l2Device::setControlValue(CameraProperty property, std::int32_t value) {
    return setControl(V4l2ControlId(property), value);
}

QStringList V4l2Device::inputs() {
    QStringList names;
    for (int i = 0; i < kMaxInputs; ++i) {
        v4l2_input input{};
        input.index = static_cast<__u32>(i);
        if (Ioctl(VIDIOC_ENUMINPUT, &input) < 0)
            break;
        names << FixedString(input.name, sizeof input.name);
    }
    return names;
}

int V4l2Device::currentInput() {
    int index = 0;
    if (Ioctl(VIDIOC_G_INPUT, &index) < 0)
        return -1;
    return index;
}

bool V4l2Device::selectInput(int index) {
    if (lost_ || index < 0 || index >= inputs().size())
        return false;
    // Most drivers refuse a new input while capturing: stop, switch, and start again. Setting
    // the format makes libv4l2 end the capture it runs for its reads.
    StopReading();
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &fmt) == 0)
        Ioctl(VIDIOC_S_FMT, &fmt);
    int wanted = index;
    const bool ok = Ioctl(VIDIOC_S_INPUT, &wanted) == 0;
    ReadFormat();
    latest_ = QImage();
    StartReading();
    return ok;
}

std::vector<DeviceControl> V4l2Device::controls() {
    std::vector<DeviceControl> list;
    v4l2_queryctrl qc{};
    qc.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    std::uint32_t previous = 0;
    while (list.size() < static_cast<std::size_t>(kMaxControls) &&
           Ioctl(VIDIOC_QUERYCTRL, &qc) == 0) {
        const std::uint32_t id = qc.id;
        if (id <= previous)
            break; // a driver that does not move on
        previous = id;
        DeviceControl c;
        c.id = id;
        c.name = FixedString(qc.name, sizeof qc.name);
        c.min = qc.minimum;
        c.max = qc.maximum;
        c.step = qc.step > 0 ? qc.step : 1;
        c.def = qc.default_value;
        c.readOnly = (qc.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED |
                                  V4L2_CTRL_FLAG_INACTIVE)) != 0;
        bool usable = !(qc.flags & V4L2_CTRL_FLAG_DISABLED);
        switch (qc.type) {
        case V4L2_CTRL_TYPE_INTEGER:
            c.kind = DeviceControl::Kind::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            c.kind = DeviceControl::Kind::Boolean;
            break;
        case V4L2_CTRL_TYPE_BUTTON:
            c.kind = DeviceControl::Kind::Button;
            break;
        case V4L2_CTRL_TYPE_MENU:
        case V4L2_CTRL_TYPE_INTEGER_MENU: {
            c.kind = DeviceControl::Kind::Menu;
            const std::int32_t last = std::min(qc.maximum, qc.minimum + kMaxMenuEntries - 1);
            for (std::int32_t i = std::max(qc.minimum, 0); i <= last; ++i) {
                v4l2_querymenu qm{};
                qm.id = id;
                qm.index = static_cast<__u32>(i);
                if (Ioctl(VIDIOC_QUERYMENU, &qm) < 0)
                    continue;
                c.menu.emplace_back(i, qc.type == V4L2_CTRL_TYPE_MENU
                                           ? FixedString(qm.name, sizeof qm.name)
                                           : QString::number(static_cast<qlonglong>(qm.value)));
            }
            usable = usable && !c.menu.empty();
            break;
        }
        default:
            usable = false; // control classes, strings, compound controls
            break;
        }
        if (usable) {
            if (c.kind != DeviceControl::Kind::Button && !(qc.flags & V4L2_CTRL_FLAG_WRITE_ONLY)) {
                v4l2_control ctrl{};
                ctrl.id = id;
                c.value = Ioctl(VIDIOC_G_CTRL, &ctrl) == 0 ? ctrl.value : qc.default_value;
            } else {
                c.value = qc.default_value;
            }
            list.push_back(c);
        }
        qc = v4l2_queryctrl{};
        qc.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return list;
}

bool V4l2Device::setControl(std::uint32_t id, std::int32_t value) {
    if (lost_)
        return false;
    v4l2_control ctrl{};
    ctrl.id = id;
    ctrl.value = value;
    return Ioctl(VIDIOC_S_CTRL, &ctrl) == 0;
}

} // namespace kestrova

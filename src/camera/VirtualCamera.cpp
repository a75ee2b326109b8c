#include "camera/VirtualCamera.h"

#include <QDateTime>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>

namespace kestrova {

namespace {

// The world the virtual cameras look at. At zoom 100 a camera sees half of it in each
// direction; the pan and tilt ranges take the view exactly to the world's edges.
constexpr int kWorldWidth = 1280;
constexpr int kWorldHeight = 960;
constexpr int kHorizon = 520;
constexpr double kPanReach = 320.0;  // world pixels from the centre at full pan
constexpr double kTiltReach = 240.0; // world pixels from the centre at full tilt
// Pan and tilt count tenths of a world pixel, and ten steps take the view from the middle to
// the world's edge. The station's fixed moves are made for motors of such steps: a "pre_" move
// (320) is one pan step, a far pan (640) two; at zoom 100 a pan step moves the 320-pixel
// picture by 16 pixels.
constexpr std::int32_t kPanLimit = 3200;
constexpr std::int32_t kTiltLimit = 2400;
constexpr std::int32_t kPanStep = kPanLimit / 10;
constexpr std::int32_t kTiltStep = kTiltLimit / 10;
constexpr std::int32_t kZoomMin = 100;
constexpr std::int32_t kZoomMax = 500;
constexpr int kMinSide = 16;
constexpr int kMaxSide = 4096;
constexpr int kMaxInputs = 8;
// "Manual" in the flags a UVC driver reports for an absolute camera control.
constexpr std::int32_t kManualFlag = 2;

const QImage& World() {
    static const QImage world = [] {
        QImage image(kWorldWidth, kWorldHeight, QImage::Format_RGB32);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, kHorizon);
        sky.setColorAt(0, QColor(58, 112, 190));
        sky.setColorAt(1, QColor(182, 214, 240));
        p.fillRect(0, 0, kWorldWidth, kHorizon, sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 226, 120));
        p.drawEllipse(QPointF(1040, 150), 58, 58);
        p.setBrush(QColor(250, 250, 252));
        for (const QPointF c : {QPointF(220, 120), QPointF(560, 80), QPointF(800, 210)}) {
            p.drawEllipse(c, 70, 26);
            p.drawEllipse(c + QPointF(40, -14), 46, 24);
            p.drawEllipse(c + QPointF(-44, 6), 40, 18);
        }
        QPainterPath hills;
        hills.moveTo(0, kHorizon);
        for (int x = 0; x <= kWorldWidth; x += 20)
            hills.lineTo(x, kHorizon - 70 - 50 * std::sin(x / 150.0) - 25 * std::sin(x / 47.0));
        hills.lineTo(kWorldWidth, kHorizon);
        hills.closeSubpath();
        p.setBrush(QColor(70, 120, 80));
        p.drawPath(hills);
        QLinearGradient ground(0, kHorizon, 0, kWorldHeight);
        ground.setColorAt(0, QColor(96, 150, 70));
        ground.setColorAt(1, QColor(52, 96, 40));
        p.fillRect(0, kHorizon, kWorldWidth, kWorldHeight - kHorizon, ground);
        // A row of houses in different colours, so that every part of the view looks different.
        const QColor walls[] = {QColor(200, 70, 60),   QColor(230, 180, 70), QColor(90, 90, 200),
                                QColor(240, 240, 230), QColor(150, 80, 160), QColor(60, 170, 170),
                                QColor(220, 120, 40),  QColor(120, 120, 120)};
        for (int i = 0; i < 8; ++i) {
            const double x = 60 + i * 150 + (i % 3) * 14;
            const double w = 90 + (i % 2) * 30;
            const double h = 70 + (i % 4) * 22;
            p.setBrush(walls[i]);
            p.drawRect(QRectF(x, kHorizon + 20 - h, w, h));
            QPolygonF roof;
            roof << QPointF(x - 8, kHorizon + 20 - h) << QPointF(x + w / 2, kHorizon - 20 - h)
                 << QPointF(x + w + 8, kHorizon + 20 - h);
            p.setBrush(QColor(110, 50, 40));
            p.drawPolygon(roof);
            p.setBrush(QColor(40, 40, 60));
            p.drawRect(QRectF(x + w * 0.4, kHorizon + 20 - 34, w * 0.2, 34));
        }
        // A path and fence posts in the foreground.
        p.setBrush(QColor(170, 150, 110));
        QPolygonF path;
        path << QPointF(600, kHorizon + 20) << QPointF(680, kHorizon + 20)
             << QPointF(900, kWorldHeight) << QPointF(380, kWorldHeight);
        p.drawPolygon(path);
        p.setBrush(QColor(90, 60, 30));
        for (int x = 20; x < kWorldWidth; x += 64)
            p.drawRect(QRectF(x, 880 - (x % 3) * 6, 10, 60));
        // The clock face; its hand is drawn for every frame.
        p.setBrush(QColor(245, 245, 245));
        p.setPen(QPen(QColor(30, 30, 30), 5));
        p.drawEllipse(QPointF(640, 700), 64, 64);
        p.setPen(QPen(QColor(30, 30, 30), 3));
        for (int i = 0; i < 12; ++i) {
            const double a = i * M_PI / 6;
            p.drawLine(QPointF(640 + 52 * std::sin(a), 700 - 52 * std::cos(a)),
                       QPointF(640 + 60 * std::sin(a), 700 - 60 * std::cos(a)));
        }
        return image;
    }();
    return world;
}

// The positions of the virtual cameras, kept while the program runs, as a camera keeps its
// position when it is opened again.
QHash<QString, VirtualView>& Views() {
    static QHash<QString, VirtualView> views;
    return views;
}

bool PropertyOfId(std::uint32_t id, CameraProperty& property) {
    for (const CameraProperty p :
         {CameraProperty::Pan, CameraProperty::Tilt, CameraProperty::Zoom}) {
        if (V4l2ControlId(p) == id) {
            property = p;
            return true;
        }
    }
    return false;
}

bool ValidSide(int side) {
    return side >= kMinSide && side <= kMaxSide;
}

} // namespace

ControlRange VirtualRange(CameraProperty property) {
    ControlRange r;
    r.flags = kManualFlag;
    if (property == CameraProperty::Zoom) {
        r.min = kZoomMin;
        r.max = kZoomMax;
        r.step = 1;
        r.def = kZoomMin;
    } else {
        const bool pan = property == CameraProperty::Pan;
        r.min = pan ? -kPanLimit : -kTiltLimit;
        r.max = pan ? kPanLimit : kTiltLimit;
        r.step = pan ? kPanStep : kTiltStep;
        r.def = 0;
    }
    return r;
}

QImage RenderVirtualScene(const VirtualView& view, qint64 ms, QSize size) {
    if (!ValidSide(size.width()) || !ValidSide(size.height()))
        return {};
    const std::int32_t pan = std::clamp(view.pan, -kPanLimit, kPanLimit);
    const std::int32_t tilt = std::clamp(view.tilt, -kTiltLimit, kTiltLimit);
    const double zoom = std::clamp(view.zoom, kZoomMin, kZoomMax) / 100.0;
    const double viewWidth = kWorldWidth / 2.0 / zoom;
    const double viewHeight = kWorldHeight / 2.0 / zoom;
    const double centreX = kWorldWidth / 2.0 + pan * kPanReach / kPanLimit;
    const double centreY = kWorldHeight / 2.0 - tilt * kTiltReach / kTiltLimit;
    const QRectF source(centreX - viewWidth / 2, centreY - viewHeight / 2, viewWidth, viewHeight);

    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), World(), source);

    // The moving parts, in world coordinates: the clock's hand goes round once a minute, the
    // ball drifts over the meadow.
    p.scale(size.width() / viewWidth, size.height() / viewHeight);
    p.translate(-source.topLeft());
    const double seconds = static_cast<double>(ms % 60000) / 1000.0;
    const double angle = seconds * M_PI / 30.0;
    p.setPen(QPen(QColor(200, 20, 20), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(640, 700), QPointF(640 + 56 * std::sin(angle), 700 - 56 * std::cos(angle)));
    const double t = static_cast<double>(ms % 600000);
    const QPointF ball(640 + 420 * std::sin(t * 2 * M_PI / 7300.0),
                       600 + 30 * std::sin(t * 2 * M_PI / 2900.0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 40, 90));
    p.drawEllipse(ball, 26, 26);
    p.end();

    if (view.input == 1)
        image = image.convertToFormat(QImage::Format_Grayscale8);
    else if (view.input >= 2)
        image.invertPixels();
    return image.convertToFormat(QImage::Format_RGB888);
}

std::vector<VirtualCameraEntry> VirtualCameraEntries() {
    static const QRegularExpression sizeOption(QStringLiteral("^([0-9]{1,5})x([0-9]{1,5})$"));
    static const QRegularExpression inputsOption(QStringLiteral("^inputs=([0-9]{1,3})$"));
    std::vector<VirtualCameraEntry> entries;
    const QStringList items =
        qEnvironmentVariable("KESTROVA_VIRTUAL_CAMERAS").split(QLatin1Char(';'));
    for (const QString& item : items) {
        const QStringList parts = item.split(QLatin1Char('|'));
        VirtualCameraEntry entry;
        entry.name = parts.first().trimmed();
        if (entry.name.isEmpty())
            continue;
        for (int i = 1; i < parts.size(); ++i) {
            const QString option = parts[i].trimmed();
            if (const auto m = sizeOption.match(option); m.hasMatch()) {
                const QSize fixed(m.captured(1).toInt(), m.captured(2).toInt());
                if (ValidSide(fixed.width()) && ValidSide(fixed.height()))
                    entry.fixedSize = fixed;
            } else if (const auto n = inputsOption.match(option); n.hasMatch()) {
                entry.inputs = std::clamp(n.captured(1).toInt(), 1, kMaxInputs);
            }
        }
        entries.push_back(entry);
    }
    return entries;
}

std::vector<CaptureDeviceInfo> ListVirtualCameras() {
    std::vector<CaptureDeviceInfo> devices;
    for (const VirtualCameraEntry& entry : VirtualCameraEntries()) {
        CaptureDeviceInfo info;
        info.name = entry.name;
        info.id = QStringLiteral("virtual|") + entry.name;
        info.path = entry.name;
        info.isVirtual = true;
        devices.push_back(info);
    }
    return devices;
}

std::unique_ptr<VirtualCamera> VirtualCamera::Open(const CaptureDeviceInfo& info) {
    for (VirtualCameraEntry& entry : VirtualCameraEntries()) {
        if (entry.name == info.name)
            return std::unique_ptr<VirtualCamera>(new VirtualCamera(std::move(entry)));
    }
    return nullptr; // unplugged since the list was read
}

VirtualCamera::VirtualCamera(VirtualCameraEntry entry)
    : entry_(std::move(entry)),
      size_(entry_.fixedSize.isEmpty() ? QSize(640, 480) : entry_.fixedSize) {
    if (!Views().contains(entry_.name))
        Views().insert(entry_.name, VirtualView{});
}

bool VirtualCamera::setFormat(int width, int height) {
    if (!entry_.fixedSize.isEmpty())
        return entry_.fixedSize == QSize(width, height);
    if (!ValidSide(width) || !ValidSide(height))
        return false;
    size_ = QSize(width, height);
    return true;
}

QImage VirtualCamera::frame() {
    if (lost())
        return {};
    return RenderVirtualScene(Views().value(entry_.name), QDateTime::currentMSecsSinceEpoch(),
                              size_);
}

bool VirtualCamera::lost() const {
    if (lost_)
        return true;
    const auto entries = VirtualCameraEntries();
    lost_ = std::none_of(entries.begin(), entries.end(),
                         [this](const VirtualCameraEntry& e) { return e.name == entry_.name; });
    return lost_;
}

bool VirtualCamera::controlRange(CameraProperty property, ControlRange& range) {
    if (lost())
        return false;
    range = VirtualRange(property);
    return true;
}

bool VirtualCamera::controlValue(CameraProperty property, std::int32_t& value) {
    if (lost())
        return false;
    const VirtualView view = Views().value(entry_.name);
    value = property == CameraProperty::Pan    ? view.pan
            : property == CameraProperty::Tilt ? view.tilt
                                               : view.zoom;
    return true;
}

bool VirtualCamera::setControlValue(CameraProperty property, std::int32_t value) {
    if (lost())
        return false;
    const ControlRange r = VirtualRange(property);
    const std::int32_t v = std::clamp(value, r.min, r.max);
    VirtualView& view = Views()[entry_.name];
    (property == CameraProperty::Pan    ? view.pan
     : property == CameraProperty::Tilt ? view.tilt
                                        : view.zoom) = v;
    return true;
}

QStringList VirtualCamera::inputs() {
    static const QStringList names{QStringLiteral("Television"), QStringLiteral("Composite"),
                                   QStringLiteral("S-Video")};
    if (entry_.inputs <= 1)
        return {QStringLiteral("Camera")};
    QStringList list;
    for (int i = 0; i < entry_.inputs; ++i)
        list << (i < names.size() ? names[i] : QStringLiteral("Input %1").arg(i + 1));
    return list;
}

int VirtualCamera::currentInput() {
    return Views().value(entry_.name).input;
}

bool VirtualCamera::selectInput(int index) {
    if (lost() || index < 0 || index >= entry_.inputs)
        return false;
    Views()[entry_.name].input = index;
    return true;
}

std::vector<DeviceControl> VirtualCamera::controls() {
    std::vector<DeviceControl> list;
    if (lost())
        return list;
    const std::pair<CameraProperty, const char*> props[] = {
        {CameraProperty::Pan, "Pan, Absolute"},
        {CameraProperty::Tilt, "Tilt, Absolute"},
        {CameraProperty::Zoom, "Zoom, Absolute"}};
    for (const auto& [property, label] : props) {
        const ControlRange r = VirtualRange(property);
        DeviceControl c;
        c.id = V4l2ControlId(property);
        c.name = QString::fromLatin1(label);
        c.min = r.min;
        c.max = r.max;
        c.step = r.step;
        c.def = r.def;
        controlValue(property, c.value);
        list.push_back(c);
    }
    return list;
}

bool VirtualCamera::setControl(std::uint32_t id, std::int32_t value) {
    CameraProperty property;
    if (!PropertyOfId(id, property))
        return false;
    return setControlValue(property, value);
}

} // namespace kestrova

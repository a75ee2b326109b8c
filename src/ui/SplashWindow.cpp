#include "ui/SplashWindow.h"

#include "ui/Binding.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace kestrova {

namespace {
// The widest the splash picture is shown.
constexpr int kSplashWidth = 560;
} // namespace

SplashWindow::SplashWindow(const QString& picture, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen), Image1(new QLabel(this)), lblLoading(new QLabel(this)) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Kestrova"));
    Image1->setObjectName(QStringLiteral("Image1"));
    lblLoading->setObjectName(QStringLiteral("lblLoading"));
    QPixmap image(picture);
    if (image.width() > kSplashWidth)
        image = image.scaledToWidth(kSplashWidth, Qt::SmoothTransformation);
    Image1->setPixmap(image);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Image1);
    layout->addWidget(lblLoading);
    // The progress text runs along the foot of the picture.
    lblLoading->setAlignment(Qt::AlignCenter);
    lblLoading->setMinimumHeight(28);
    lblLoading->setAutoFillBackground(true);
    QPalette strip = lblLoading->palette();
    strip.setColor(QPalette::Window, QColor(10, 24, 44));
    strip.setColor(QPalette::WindowText, QColor(210, 222, 240));
    lblLoading->setPalette(strip);
    Bind(lblLoading, Ui().lblLoading);
}

} // namespace kestrova

#include "ui/SplashWindow.h"

#include "ui/Binding.h"

#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

namespace kestrova {

SplashWindow::SplashWindow(const QString& picture, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen), Image1(new QLabel(this)), lblLoading(new QLabel(this)) {
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QStringLiteral("Kestrova"));
    Image1->setObjectName(QStringLiteral("Image1"));
    lblLoading->setObjectName(QStringLiteral("lblLoading"));
    Image1->setPixmap(QPixmap(picture));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(Image1);
    layout->addWidget(lblLoading);
    lblLoading->setAlignment(Qt::AlignCenter);
    Bind(lblLoading, Ui().lblLoading);
}

} // namespace kestrova

#include "camera/AdvancedSettings.h"

#include "camera/CaptureControl.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrova {

frmTV::frmTV(CaptureControl& camSrc, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmTV"));
    setWindowTitle(QStringLiteral("Advanced Camera Settings"));
    auto* layout = new QVBoxLayout(this);
    // The control may be replaced while the window is open; a click then does nothing.
    QPointer<CaptureControl> control(&camSrc);

    auto* frame2 = new QGroupBox(QStringLiteral("Video Source"));
    frame2->setObjectName(QStringLiteral("Frame2"));
    auto* sourceRow = new QHBoxLayout(frame2);
    auto* settings = new QPushButton(QStringLiteral("Settings"));
    settings->setObjectName(QStringLiteral("cmdCamSource"));
    sourceRow->addWidget(settings);
    layout->addWidget(frame2);
    connect(settings, &QPushButton::clicked, this, [this, control] {
        if (control)
            control->ShowSourceDialog(parentWidget());
    });

    auto* frame1 = new QGroupBox(QStringLiteral("Input Source"));
    frame1->setObjectName(QStringLiteral("Frame1"));
    auto* inputRow = new QHBoxLayout(frame1);
    const char* captions[] = {"TV", "AV", "AV2"};
    for (int i = 0; i < 3; ++i) {
        auto* button = new QPushButton(QString::fromLatin1(captions[i]));
        button->setObjectName(QStringLiteral("cmdInputSource_%1").arg(i));
        inputRow->addWidget(button);
        connect(button, &QPushButton::clicked, this, [control, i] {
            if (control)
                control->SelectInput(i);
        });
    }
    layout->addWidget(frame1);
}

} // namespace kestrova

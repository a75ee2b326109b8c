#include "ui/MainWindow.h"

#include "core/Controls.h"
#include "ui/Binding.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace kestrova {

namespace {

template <typename W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QCheckBox* Check(const char* name, const QString& caption, CheckBox& control) {
    auto* box = Named(new QCheckBox(caption), name);
    Bind(box, control);
    return box;
}

} // namespace

MainWindow::MainWindow(CloseGate& gate, QWidget* parent)
    : QMainWindow(parent), gate_(gate), cameraArea_(Named(new QWidget, "camSrc")) {
    setObjectName(QStringLiteral("frmUI"));
    setWindowTitle(QStringLiteral("Kestrova Webcam"));
    Controls& ui = Ui();

    auto* central = new QWidget;
    auto* columns = new QHBoxLayout(central);

    // Left: the camera and its buttons.
    auto* cameraColumn = new QVBoxLayout;
    cameraArea_->setMinimumSize(320, 240);
    cameraArea_->setLayout(new QVBoxLayout);
    cameraArea_->layout()->setContentsMargins(0, 0, 0, 0);
    cameraColumn->addWidget(cameraArea_);
    auto* cameraName = Named(new QLabel, "lblCameraName");
    Bind(cameraName, ui.lblCameraName);
    cameraColumn->addWidget(cameraName);
    auto* cameraButtons = new QHBoxLayout;
    for (auto [name, control] : {std::pair<const char*, Button*>{"cmdChangeCam", &ui.cmdChangeCam},
                                 {"cmdCamSource", &ui.cmdCamSource},
                                 {"cmdPtzEdit", &ui.cmdPtzEdit}}) {
        auto* button = Named(new QPushButton, name);
        Bind(button, *control);
        cameraButtons->addWidget(button);
    }
    cameraColumn->addLayout(cameraButtons);
    auto* zoom = Named(new QSlider(Qt::Horizontal), "sldFocus");
    Bind(zoom, ui.sldFocus);
    cameraColumn->addWidget(zoom);
    cameraColumn->addStretch();
    columns->addLayout(cameraColumn);

    // Right: broadcast status and options.
    auto* side = new QVBoxLayout;
    auto* broadcast = new QGroupBox(QStringLiteral("Broadcast"));
    auto* status = new QFormLayout(broadcast);
    auto* reflector = Named(new QLabel, "lblReflectorStatus");
    Bind(reflector, ui.lblReflectorStatus);
    status->addRow(reflector);
    auto* upload = Named(new QLabel, "txtStatus");
    Bind(upload, ui.txtStatus);
    status->addRow(QStringLiteral("Upload Status:"), upload);
    side->addWidget(broadcast);

    auto* options = new QGroupBox(QStringLiteral("Options"));
    auto* grid = new QGridLayout(options);
    grid->addWidget(Check("chkPublic", QStringLiteral("Live listing"), ui.chkPublic), 0, 0);
    grid->addWidget(Check("chkThumb", QStringLiteral("Hide thumbnail"), ui.chkThumb), 0, 1);
    grid->addWidget(Check("chkEnableZoom", QStringLiteral("Zoom"), ui.chkEnableZoom), 1, 0);
    grid->addWidget(Check("chkEnableSnap", QStringLiteral("Snapshot"), ui.chkEnableSnap), 1, 1);
    grid->addWidget(
        Check("chkEnablePresets", QStringLiteral("Presets On/Off"), ui.chkEnablePresets), 2, 0);
    grid->addWidget(
        Check("chkEnablePasswords", QStringLiteral("Viewer passwords"), ui.chkEnablePasswords), 2,
        1);
    grid->addWidget(Check("chkChatOnOff", QStringLiteral("Chat room"), ui.chkChatOnOff), 3, 0);
    grid->addWidget(Check("chkTimeStamp", QStringLiteral("Time Stamp Image"), ui.chkTimeStamp), 3,
                    1);
    side->addWidget(options);

    auto* quality = new QGroupBox;
    auto* qualityColumn = new QVBoxLayout(quality);
    auto* qualityTitle = Named(new QLabel, "lblJPEGQuality");
    Bind(qualityTitle, ui.lblJPEGQuality);
    qualityColumn->addWidget(qualityTitle);
    auto* qualityRow = new QHBoxLayout;
    qualityColumn->addLayout(qualityRow);
    qualityRow->addWidget(new QLabel(QStringLiteral("0")));
    auto* qualitySlider = Named(new QSlider(Qt::Horizontal), "sldJPEGQuality");
    Bind(qualitySlider, ui.sldJPEGQuality);
    qualityRow->addWidget(qualitySlider);
    qualityRow->addWidget(new QLabel(QStringLiteral("100")));
    side->addWidget(quality);

    auto* archive = new QGroupBox(QStringLiteral("Archive"));
    auto* archiveRows = new QVBoxLayout(archive);
    archiveRows->addWidget(
        Check("chkEnableArchive", QStringLiteral("Archive images"), ui.chkEnableArchive));
    archiveRows->addWidget(
        Check("chkDisplayArchive", QStringLiteral("Display archive"), ui.chkDisplayArchive));
    auto* rate = Named(new QComboBox, "cboArchive");
    Bind(rate, ui.cboArchive);
    archiveRows->addWidget(rate);
    side->addWidget(archive);

    auto* debugButton = Named(new QPushButton, "cmdDebug");
    Bind(debugButton, ui.cmdDebug);
    side->addWidget(debugButton);
    side->addStretch();
    auto* version = Named(new QLabel, "lblVersion");
    Bind(version, ui.lblVersion);
    side->addWidget(version);
    columns->addLayout(side);

    setCentralWidget(central);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (gate_.unloaded()) {
        event->accept();
        return;
    }
    if (!gate_.CloseCheck()) {
        event->ignore();
        return;
    }
    event->accept();
    gate_.Unload();
}

} // namespace kestrova

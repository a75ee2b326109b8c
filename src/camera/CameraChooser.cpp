#include "camera/CameraChooser.h"

#include "camera/CameraPreview.h"
#include "core/AppState.h"
#include "core/Dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrova {

int ChooserStartDevice(int cameraIndex, int deviceCount) {
    if (deviceCount <= 0)
        return cameraIndex;
    return cameraIndex >= 0 && cameraIndex < deviceCount ? cameraIndex : 0;
}

void CameraChooser::Open() {
    const int count = control_.DeviceCount();
    items_.clear();
    for (int i = 0; i < count; ++i)
        items_ << control_.DeviceName(i);
    ConnectAt320x240(control_, ChooserStartDevice(App().Settings.CameraIndex, count));
}

void CameraChooser::Click(int index) {
    if (control_.Connected())
        control_.SetConnected(false);
    ConnectAt320x240(control_, index);
}

void CameraChooser::Finish() {
    if (finished_)
        return;
    finished_ = true;
    App().Settings.CameraIndex = static_cast<std::int16_t>(control_.Device());
    control_.SetPreview(false);
    control_.SetConnected(false);
}

frmCamWizard::frmCamWizard(QWidget* parent)
    : QDialog(parent), chooser_(camSrc_), cboCameras_(new QComboBox),
      preview_(new CameraPreview(camSrc_)) {
    setObjectName(QStringLiteral("frmCamWizard"));
    setWindowTitle(QStringLiteral("Camera wizard"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Choose your webcam from the list"));
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label);
    cboCameras_->setObjectName(QStringLiteral("cboCameras"));
    cboCameras_->setPlaceholderText(QStringLiteral("Choose a webcam from the list"));
    layout->addWidget(cboCameras_);
    preview_->setObjectName(QStringLiteral("camSrc"));
    layout->addWidget(preview_, 1);
    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignRight);

    chooser_.Open();
    cboCameras_->addItems(chooser_.Items());
    cboCameras_->setCurrentIndex(-1);
    connect(cboCameras_, &QComboBox::activated, this, [this](int index) { chooser_.Click(index); });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void frmCamWizard::done(int result) {
    chooser_.Finish();
    QDialog::done(result);
}

void ShowCameraChooser(QWidget* parent) {
    if (dialogs::Unattended()) {
        const int count = static_cast<int>(ListCaptureDevices().size());
        App().Settings.CameraIndex =
            static_cast<std::int16_t>(ChooserStartDevice(App().Settings.CameraIndex, count));
        return;
    }
    // On the heap: should the parent window be destroyed while the chooser runs (the station
    // closing), the chooser goes with it and must not be deleted twice.
    QPointer<frmCamWizard> chooser = new frmCamWizard(parent);
    chooser->exec();
    delete chooser.data();
}

} // namespace kestrova

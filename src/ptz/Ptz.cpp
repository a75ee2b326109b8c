#include "ptz/Ptz.h"

#include "core/Controls.h"
#include "ptz/MotorBackEnd.h"
#include "ptz/MotorLibrary.h"

namespace kestrova {

PtzControl::PtzControl(CaptureControl& camSrc, QObject* parent)
    : QObject(parent), camSrc_(camSrc), pantilt_(std::make_unique<PantiltLibrary>()),
      lvcam_(std::make_unique<LvCamLibrary>()) {
    Controls& ui = Ui();
    for (int i = 0; i < static_cast<int>(ui.butMove.size()); ++i)
        ui.butMove[static_cast<std::size_t>(i)].onClick(alive_, [this, i] { butMove_Click(i); });
    ui.sldFocus.onChange(alive_, [this] { sldFocus_Change(); });
    ChooseMotorBackEnd();
}

PtzControl::~PtzControl() {
    ClosePtzListener();
}

} // namespace kestrova

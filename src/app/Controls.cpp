#include "app/Controls.h"

namespace kestrova {

Controls::Controls()
    : lblReflectorStatus(QStringLiteral("Reflector service not activated")),
      txtStatus(QStringLiteral("Waiting to upload images")),
      cmdDebug(QStringLiteral("Debug Server")), cmdChangeCam(QStringLiteral("Change Camera")),
      cmdCamSource(QStringLiteral("Advanced Camera Settings")), cmdPtzEdit(QStringLiteral("Edit")),
      chkThumb(1), chkEnableZoom(1), chkEnableSnap(1), chkEnablePresets(1) {
    cmdDebug.setVisible(false);
}

} // namespace kestrova

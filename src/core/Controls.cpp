#include "core/Controls.h"

namespace kestrova {

Controls::Controls()
    : lblReflectorStatus(QStringLiteral("Reflector service not activated")),
      txtStatus(QStringLiteral("Waiting to upload images")),
      cmdDebug(QStringLiteral("Debug Server")), cmdChangeCam(QStringLiteral("Change Camera")),
      cmdCamSource(QStringLiteral("Advanced Camera Settings")), cmdPtuAdmin(QStringLiteral("Edit")),
      chkThumb(1), chkEnableZoom(1), chkEnableSnap(1), chkEnablePresets(1),
      lblJPEGQuality(QStringLiteral("JPEG Image Quality")),
      butMove{Button(QStringLiteral("\u2190")), Button(QStringLiteral("\u2192")),
              Button(QStringLiteral("\u2191")), Button(QStringLiteral("\u2193")), Button()} {
    cmdDebug.setVisible(false);
    // The zoom slider's range until a camera reports its own.
    sldFocus.setRange(0, 200);

    // ---- The main window's views, tabs and feature options ----
    // The window opens on the settings area: the toolbar button offers the camera.
    ToolButton& view = MenuBar.Buttons[0];
    view.key = QStringLiteral("cam_sett");
    view.setQuietly(QStringLiteral("Camera"));
    view.setToolTip(QStringLiteral("View Camera"));
    view.setImage(1);
    MenuBar2.Buttons[0].key = QStringLiteral("live");
    MenuBar2.Buttons[0].setQuietly(QStringLiteral("Camera Webpage"));
    MenuBar2.Buttons[0].setToolTip(QStringLiteral("View Camera Webpage"));
    MenuBar2.Buttons[1].key = QStringLiteral("help");
    MenuBar2.Buttons[1].setQuietly(QStringLiteral("Help"));
    MenuBar2.Buttons[1].setToolTip(QStringLiteral("View Help"));
    camSrc.setVisible(false);
    butSettings.setQuietly(QStringLiteral("View Settings"));
    butBroadcast.setQuietly(QStringLiteral("Broadcast"));
    butCamera.setQuietly(QStringLiteral("Camera"));
    butOptions.setQuietly(QStringLiteral("Options"));
    butMobile.setQuietly(QStringLiteral("Archive"));
    for (TabButton* tab : {&butBroadcast, &butCamera, &butOptions, &butMobile})
        tab->setVisible(false);
    for (TabControl& panel : Settings)
        panel.setVisible(false);
    butControls.setQuietly(QStringLiteral("hide"));
    butControls.setVisible(false);
    pctControls.setVisible(false);
    cmdEditCamName.setQuietly(QStringLiteral("Edit Cam Name"));
    cmdSetProfile.setQuietly(QStringLiteral("Edit Live Profile"));
    cmdSkin.setQuietly(QStringLiteral("Choose skin"));
    cmdEditPasswords.setQuietly(QStringLiteral("Edit "));
    cmdLaunchChatBox.setQuietly(QStringLiteral("Open Chat Box"));
    cmdLaunchChatBox.setEnabled(false); // the chat switch starts off
    butEditChatName.setQuietly(QStringLiteral("Edit"));
    butEditRoomName.setQuietly(QStringLiteral("Edit"));
    cmdViewArchive.setQuietly(QStringLiteral("View Archive"));
    // ---- end of the views, tabs and feature options ----
}

StationTimers::StationTimers() {
    tmrWatchdog.setInterval(1000);
    // The next upload must not start before a full second after the relay closed the last.
    tmrWatchdog.setTimerType(Qt::PreciseTimer);
    SlowTimer.setInterval(30000);
    tmrMovePoller.setInterval(2000);
    tmrCheckVisitor.setInterval(5000);
    tmrArchive.setInterval(60000);
    InstallFinished.setInterval(250);
}

} // namespace kestrova

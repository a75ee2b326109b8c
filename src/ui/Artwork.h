// The station's own drawn pictures used by its windows: toolbar and move-button icons and the
// broadcast wizard's side picture. Drawn with QPainter, so that they are sharp at any size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace kestrova {

QIcon SettingsIcon(); // the toolbar's first image: the settings area
QIcon CameraIcon();   // the toolbar's second image: the camera picture
QIcon WebPageIcon();  // the camera's viewer page
QIcon HelpIcon();

// The move buttons' faces: 0 left, 1 right, 2 up, 3 down, 4 home.
QIcon MoveIcon(int index);

// The program's icon: its pictures in the program folder (icons/kestrova-webcam-<size>.png),
// or the same icon drawn here when they are missing.
QIcon ProgramIcon();
QIcon DrawnAppIcon();

QPixmap WizardSidePicture(QSize size);

} // namespace kestrova

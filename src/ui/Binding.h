// Ties widgets to the control values the logic uses: a widget shows its control, and a user's
// change of the widget sets the control (which runs its handlers).
#pragma once

#include "core/Controls.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QWidget;

namespace kestrova {

void Bind(QCheckBox* box, CheckBox& control);
void Bind(QLabel* label, Label& control);
void Bind(QAbstractButton* button, Button& control);
void Bind(QSlider* slider, Slider& control);
void Bind(QComboBox* combo, ComboBox& control);

} // namespace kestrova

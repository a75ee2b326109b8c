// Ties widgets to the control values the logic uses: a widget shows its control, and a user's
// change of the widget sets the control (which runs its handlers).
#pragma once

#include "core/Controls.h"

#include <QIcon>

#include <functional>
#include <vector>

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QTabWidget;
class QWidget;

namespace kestrova {

void Bind(QCheckBox* box, CheckBox& control);
void Bind(QLabel* label, Label& control);
void Bind(QAbstractButton* button, Button& control);
void Bind(QSlider* slider, Slider& control);
void Bind(QComboBox* combo, ComboBox& control);
// A text box: the user's typing sets the control.
void Bind(QLineEdit* box, Label& control);
// A tab button: its caption, and checked while its appearance state is 3 (pressed).
void Bind(QAbstractButton* button, TabButton& control);
// A panel with sub-tabs: shown or hidden, and the selected sub-tab both ways.
void Bind(QTabWidget* tabs, TabControl& control);

// An area: the widget is shown and hidden with it.
void BindVisible(QWidget* widget, ControlValue<int>& control);

// A button whose face is drawn (an icon): enabled and visible state and clicks only.
void BindClicks(QAbstractButton* button, Button& control);

// A toolbar button: caption, tool-tip, image (from `images`) and state; a trigger runs
// `clicked`.
void Bind(QAction* action, ToolButton& control, std::vector<QIcon> images,
          std::function<void()> clicked);

} // namespace kestrova

#include "ui/Binding.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QSignalBlocker>
#include <QSlider>

namespace kestrova {

namespace {
// Runs `show` now and after every change of the control, for as long as the widget lives.
template <typename W, typename C, typename F> void Mirror(W* widget, C& control, F show) {
    QPointer<W> guard(widget);
    auto update = [guard, &control, show] {
        if (!guard)
            return;
        const QSignalBlocker block(guard);
        guard->setEnabled(control.enabled());
        // A widget without a parent yet would show as a window of its own; it appears with
        // the window that it is laid out in.
        if (guard->parentWidget() || !control.visible())
            guard->setVisible(control.visible());
        show(guard.data());
    };
    update();
    control.observe(update);
}
} // namespace

void Bind(QCheckBox* box, CheckBox& control) {
    Mirror(box, control, [&control](QCheckBox* w) { w->setChecked(control.value() != 0); });
    QObject::connect(box, &QCheckBox::toggled, box,
                     [&control](bool on) { control.set(on ? 1 : 0); });
}

void Bind(QLabel* label, Label& control) {
    Mirror(label, control, [&control](QLabel* w) { w->setText(control.value()); });
}

void Bind(QAbstractButton* button, Button& control) {
    Mirror(button, control, [&control](QAbstractButton* w) { w->setText(control.value()); });
    QObject::connect(button, &QAbstractButton::clicked, button, [&control] { control.click(); });
}

void Bind(QSlider* slider, Slider& control) {
    Mirror(slider, control, [&control](QSlider* w) {
        w->setRange(control.minimum(), control.maximum());
        w->setValue(control.value());
    });
    QObject::connect(slider, &QSlider::valueChanged, slider, [&control](int v) { control.set(v); });
}

void Bind(QComboBox* combo, ComboBox& control) {
    Mirror(combo, control, [&control](QComboBox* w) {
        QStringList shown;
        for (int i = 0; i < w->count(); ++i)
            shown << w->itemText(i);
        if (shown != control.items) {
            w->clear();
            w->addItems(control.items);
        }
        w->setCurrentIndex(control.value());
    });
    QObject::connect(combo, &QComboBox::currentIndexChanged, combo,
                     [&control](int index) { control.set(index); });
}

} // namespace kestrova

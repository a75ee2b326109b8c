#include "ui/Binding.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabWidget>

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

void Bind(QLineEdit* box, Label& control) {
    Mirror(box, control, [&control](QLineEdit* w) {
        if (w->text() != control.value())
            w->setText(control.value());
    });
    QObject::connect(box, &QLineEdit::textChanged, box,
                     [&control](const QString& text) { control.set(text); });
}

void Bind(QAbstractButton* button, TabButton& control) {
    button->setCheckable(true);
    Mirror(button, control, [&control](QAbstractButton* w) {
        w->setText(control.value());
        w->setChecked(control.state() == 3);
    });
    QObject::connect(button, &QAbstractButton::clicked, button, [&control, button] {
        // The logic decides the pressed state; a click on the pressed button keeps it.
        control.click();
        const QSignalBlocker block(button);
        button->setChecked(control.state() == 3);
    });
}

void Bind(QTabWidget* tabs, TabControl& control) {
    Mirror(tabs, control, [&control](QTabWidget* w) {
        if (control.value() >= 0 && control.value() < w->count())
            w->setCurrentIndex(control.value());
    });
    QObject::connect(tabs, &QTabWidget::currentChanged, tabs,
                     [&control](int index) { control.set(index); });
}

void BindVisible(QWidget* widget, ControlValue<int>& control) {
    Mirror(widget, control, [](QWidget*) {});
}

void BindClicks(QAbstractButton* button, Button& control) {
    Mirror(button, control, [](QAbstractButton*) {});
    QObject::connect(button, &QAbstractButton::clicked, button, [&control] { control.click(); });
}

void Bind(QAction* action, ToolButton& control, std::vector<QIcon> images,
          std::function<void()> clicked) {
    QPointer<QAction> guard(action);
    auto update = [guard, &control, images = std::move(images)] {
        if (!guard)
            return;
        guard->setText(control.value());
        guard->setToolTip(control.toolTip().isEmpty() ? control.value() : control.toolTip());
        if (control.image() >= 0 && control.image() < static_cast<int>(images.size()))
            guard->setIcon(images[static_cast<std::size_t>(control.image())]);
        guard->setEnabled(control.enabled());
        guard->setVisible(control.visible());
    };
    update();
    control.observe(update);
    QObject::connect(action, &QAction::triggered, action,
                     [clicked = std::move(clicked)] { clicked(); });
}

} // namespace kestrova

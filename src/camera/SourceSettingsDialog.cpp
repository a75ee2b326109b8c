#include "camera/SourceSettingsDialog.h"

#include "camera/CaptureControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

namespace kestrova {

namespace {
// Widgets carry the control's id in their object name, so that the dialog can be driven by
// name ("control-<id>").
QString WidgetName(std::uint32_t id) {
    return QStringLiteral("control-%1").arg(id);
}
} // namespace

SourceSettingsDialog::SourceSettingsDialog(CaptureControl& control, QWidget* parent)
    : QDialog(parent), control_(control) {
    setObjectName(QStringLiteral("frmSourceSettings"));
    setWindowTitle(control.ConnectedName() + QStringLiteral(" Properties"));
    auto* layout = new QVBoxLayout(this);
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);

    const std::vector<DeviceControl> controls = control.DeviceControls();
    if (controls.empty())
        form->addRow(new QLabel(QStringLiteral("This device has no settings.")));
    for (const DeviceControl& c : controls) {
        const std::uint32_t id = c.id;
        QWidget* editor = nullptr;
        switch (c.kind) {
        case DeviceControl::Kind::Integer: {
            auto* row = new QWidget;
            auto* rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setObjectName(WidgetName(id));
            slider->setRange(c.min, c.max);
            slider->setSingleStep(c.step);
            slider->setPageStep(c.step);
            slider->setValue(c.value);
            auto* value = new QLabel(QString::number(c.value));
            value->setMinimumWidth(
                value->fontMetrics().horizontalAdvance(QStringLiteral("-000000")));
            connect(slider, &QSlider::valueChanged, this, [this, id, value](int v) {
                value->setText(QString::number(v));
                control_.SetDeviceControl(id, v);
            });
            rowLayout->addWidget(slider);
            rowLayout->addWidget(value);
            slider->setEnabled(!c.readOnly);
            editor = row;
            break;
        }
        case DeviceControl::Kind::Boolean: {
            auto* box = new QCheckBox;
            box->setObjectName(WidgetName(id));
            box->setChecked(c.value != 0);
            connect(box, &QCheckBox::toggled, this,
                    [this, id](bool on) { control_.SetDeviceControl(id, on ? 1 : 0); });
            box->setEnabled(!c.readOnly);
            editor = box;
            break;
        }
        case DeviceControl::Kind::Menu: {
            auto* list = new QComboBox;
            list->setObjectName(WidgetName(id));
            for (const auto& [v, label] : c.menu) {
                list->addItem(label, v);
                if (v == c.value)
                    list->setCurrentIndex(list->count() - 1);
            }
            connect(list, &QComboBox::activated, this, [this, id, list](int index) {
                control_.SetDeviceControl(id, list->itemData(index).toInt());
            });
            list->setEnabled(!c.readOnly);
            editor = list;
            break;
        }
        case DeviceControl::Kind::Button: {
            auto* button = new QPushButton(c.name);
            button->setObjectName(WidgetName(id));
            connect(button, &QPushButton::clicked, this,
                    [this, id] { control_.SetDeviceControl(id, 1); });
            button->setEnabled(!c.readOnly);
            editor = button;
            break;
        }
        }
        form->addRow(c.kind == DeviceControl::Kind::Button ? QString() : c.name, editor);
    }

    auto* scroll = new QScrollArea;
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(420, 360);
}

} // namespace kestrova

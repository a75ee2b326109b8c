#include "core/Controls.h"

#include <QCheckBox>
#include <QLabel>

#include "ui/Binding.h"

#include <gtest/gtest.h>

using namespace kestrova;

TEST(Controls, ChangeHandlersRunOnlyWhenTheValueChanges) {
    CheckBox box;
    int handled = 0;
    int observed = 0;
    box.onChange([&] { ++handled; });
    box.observe([&] { ++observed; });
    box.set(0);
    EXPECT_EQ(handled, 0);
    box.set(1);
    EXPECT_EQ(handled, 1);
    box.setEnabled(false);
    box.setVisible(false);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(observed, 3);
    Label label(QStringLiteral("same"));
    int captions = 0;
    label.onChange([&] { ++captions; });
    label.force(QStringLiteral("same"));
    EXPECT_EQ(captions, 1);
}

TEST(Controls, WidgetsMirrorTheirControlsBothWays) {
    CheckBox box;
    int handled = 0;
    box.onChange([&] { ++handled; });
    QCheckBox widget;
    Bind(&widget, box);
    box.set(1);
    EXPECT_TRUE(widget.isChecked());
    EXPECT_EQ(handled, 1);
    widget.click(); // the user unticks it
    EXPECT_EQ(box.value(), 0);
    EXPECT_EQ(handled, 2);
    box.setEnabled(false);
    EXPECT_FALSE(widget.isEnabled());

    Button button(QStringLiteral("Go"));
    int clicks = 0;
    button.onClick([&] { ++clicks; });
    button.click();
    button.setEnabled(false);
    button.click();
    EXPECT_EQ(clicks, 1);
}

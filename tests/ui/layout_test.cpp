// Layout checks on the built windows: what a user would see as wrong.
#include "commands/program.h"
#include "recording_port.h"
#include "view/layout.h"
#include "ui/qt/window.h"
#include "ui/qt/wrap_button.h"
#include "rig.h"

#include <QFontInfo>
#include <QLabel>

#include <gtest/gtest.h>

#include <climits>
#include <memory>

namespace {

using Built = testing_support::Rig;

class Layout : public testing::TestWithParam<bool> {};

TEST_P(Layout, EveryVisibleControlLiesInsideTheClientArea) {
    Built b(GetParam());
    int visible = 0;
    for (const auto& c : b.window->spec().controls) {
        QWidget* w = b.window->widget(c.name, c.index);
        if (c.hidden) {
            EXPECT_FALSE(w->isVisible()) << c.fullName();
            continue;
        }
        ++visible;
        EXPECT_TRUE(w->isVisible()) << c.fullName();
        EXPECT_TRUE(b.window->rect().contains(w->geometry())) << c.fullName();
    }
    EXPECT_GT(visible, 150);
}

// The part of a label not covered by a control drawn above it (number labels
// reach down behind their scroll bars).
int visibleHeight(const Built& b, const ui::ControlSpec& label) {
    int bottom = label.top + label.height;
    for (const auto& c : b.window->spec().controls) {
        if (c.kind == ui::Kind::Label || c.kind == ui::Kind::Rectangle || c.hidden) continue;
        const bool overlapsColumn = c.left < label.left + label.width && label.left < c.left + c.width;
        if (overlapsColumn && c.top > label.top && c.top < bottom) bottom = c.top;
    }
    return b.window->px(bottom) - b.window->px(label.top);
}

TEST_P(Layout, NoCaptionIsClippedWithTheFallbackFont) {
    Built b(GetParam());
    for (const auto& c : b.window->spec().controls) {
        if (c.caption.empty() || c.hidden) continue;
        QWidget* w = b.window->widget(c.name, c.index);
        const QFontMetrics metrics(w->font());
        const QString caption = QString::fromStdString(c.caption);
        if (c.kind == ui::Kind::Label) {
            const int flags = c.look.wrap ? int(Qt::TextWordWrap) : 0;
            const QRect needed = metrics.boundingRect(QRect(0, 0, w->width(), INT_MAX), flags, caption);
            EXPECT_LE(needed.width(), w->width()) << c.fullName() << " '" << c.caption << "'";
            EXPECT_LE(needed.height(), visibleHeight(b, c)) << c.fullName() << " '" << c.caption << "'";
        } else if (c.kind == ui::Kind::Button) {
            auto* button = static_cast<ui::WrapButton*>(w);
            const QRect box = button->captionRect();
            const QRect needed = metrics.boundingRect(box, ui::WrapButton::kTextFlags, caption);
            EXPECT_TRUE(box.contains(needed)) << c.fullName() << " needs " << needed.width() << "x" << needed.height()
                                              << ", has " << box.width() << "x" << box.height();
        }
    }
}

TEST_P(Layout, NumberCaptionsStandAboveTheirColumns) {
    Built b(GetParam());
    int checked = 0;
    for (const auto& c : b.window->spec().controls) {
        if (c.name != "lblBit" || c.caption.empty() || c.hidden) continue;
        // The column below: the scroll bar whose left lies within 15 twips of the label's.
        const ui::ControlSpec* column = nullptr;
        for (const auto& bar : b.window->spec().controls) {
            if (bar.name == "vsbBit" && std::abs(bar.left - c.left) <= 30 && bar.top > c.top && bar.top < c.top + 600) {
                column = &bar;
            }
        }
        if (column == nullptr) continue;  // the "A" labels under program A's read row
        ++checked;
        QWidget* label = b.window->widget(c.name, c.index);
        QWidget* bar = b.window->widget(column->name, column->index);
        const int captionBottom = label->y() + QFontMetrics(label->font()).height();
        EXPECT_LE(captionBottom, bar->y()) << c.fullName() << " over " << column->fullName();
        // What is seen at the caption is the label itself, not something above it.
        const QPoint middle(label->x() + label->width() / 2, label->y() + 3);
        EXPECT_EQ(b.window->childAt(middle), label) << c.fullName();
    }
    // Every column; program A leaves its two last acknowledge columns without a caption.
    EXPECT_EQ(checked, GetParam() ? 43 : 45);
}

TEST_P(Layout, MsSansSerifFallsBackToASansSerifFace) {
    Built b(GetParam());
    QWidget* run = b.window->widget("cmdRun");
    const QFontInfo info(run->font());
    EXPECT_NE(info.family(), "MS Sans Serif");
    EXPECT_TRUE(info.bold());
    EXPECT_NEAR(info.pointSizeF(), 12.0, 0.6);
}

INSTANTIATE_TEST_SUITE_P(Programs, Layout, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& row) { return row.param ? "A" : "B"; });

TEST(LayoutB, A1IsVisibleAboveReadColumn27AndTheEmptyLabelsAreUnseen) {
    Built b(false);
    auto* a1 = static_cast<QLabel*>(b.window->widget("lblBit", 27));
    ASSERT_EQ(a1->text(), "A1");
    EXPECT_EQ(b.window->childAt(a1->geometry().center().x(), a1->y() + 4), a1);
    for (int index : {26, 44}) {
        auto* hidden = static_cast<QLabel*>(b.window->widget("lblBit", index));
        EXPECT_TRUE(hidden->text().isEmpty());
        EXPECT_EQ(hidden->palette().color(QPalette::Window), b.window->palette().color(QPalette::Window));
    }
    EXPECT_EQ(b.window->childAt(b.window->widget("lblBit", 26)->geometry().topLeft() + QPoint(2, 2)),
              b.window->widget("vsbBit", 0));
    EXPECT_FALSE(b.window->widget("Shape1")->isVisible());
}

TEST(LayoutA, TheHiddenIndexRowIsNeverShown) {
    Built b(true);
    for (int index = 45; index <= 61; ++index) {
        if (index == 53) continue;
        EXPECT_FALSE(b.window->widget("lblBit", index)->isVisible()) << index;
    }
    EXPECT_TRUE(b.window->widget("lblBit", 53)->isVisible());
    EXPECT_TRUE(b.window->widget("lblBit", 62)->isVisible());
}

}  // namespace

// The port chooser's model: which port it selects first, what Test and Use
// may do with each kind of row, what it says, and what it saves.
#include "view/chooser.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct Fake {
    std::vector<view::PortRow> rows{{"ppdev:dev=/dev/parport0", "parallel port at 0x378", false, "add your user to lp"},
                                    {"i2c:bus=1", "i2c-1 (CP2112)", true, ""},
                                    {"sim", "the simulated board", true, ""}};
    std::vector<std::string> tested, saved;
    bool refuse = false;

    view::ChooserServices services(const std::string& current) {
        return {[this] { return rows; },
                [this](const std::string& port) {
                    tested.push_back(port);
                    return "tested " + port;
                },
                [this](const std::string& port) -> std::string {
                    if (refuse) throw std::runtime_error("no settings folder");
                    saved.push_back(port);
                    return "saved " + port;
                },
                current};
    }
};

struct FirstCase {
    const char* name;
    std::string current;
    int selected;
};

class ChooserFirstSelection : public testing::TestWithParam<FirstCase> {};

TEST_P(ChooserFirstSelection, IsTheUsersPortWhereListedElseTheFirstUsable) {
    Fake fake;
    view::PortChooser chooser(fake.services(GetParam().current));
    EXPECT_EQ(chooser.selected(), GetParam().selected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChooserFirstSelection,
                         testing::Values(FirstCase{"none_set", "", 1}, FirstCase{"the_users", "sim", 2},
                                         FirstCase{"the_users_unusable", "ppdev:dev=/dev/parport0", 0},
                                         FirstCase{"the_users_not_listed", "ftdi", 1}),
                         [](const testing::TestParamInfo<FirstCase>& row) { return row.param.name; });

TEST(Chooser, AnUnusableRowSaysWhyAndCanBeNeitherTestedNorUsed) {
    Fake fake;
    view::PortChooser chooser(fake.services(""));
    chooser.select(0);
    EXPECT_EQ(chooser.detail(), "ppdev:dev=/dev/parport0\nparallel port at 0x378\nNot usable: add your user to lp");
    EXPECT_FALSE(chooser.canTest());
    EXPECT_FALSE(chooser.canUse());
    chooser.test();
    chooser.use();
    EXPECT_TRUE(fake.tested.empty());
    EXPECT_TRUE(fake.saved.empty());
    EXPECT_FALSE(chooser.chosen());
    EXPECT_EQ(chooser.rows()[0], "ppdev:dev=/dev/parport0  \u2014  parallel port at 0x378 (not usable)");
}

TEST(Chooser, TestSaysWhatTheProbeFoundAndUseSavesAndMarksTheChoice) {
    Fake fake;
    view::PortChooser chooser(fake.services("i2c:bus=1"));
    EXPECT_EQ(chooser.status(), "The port now is i2c:bus=1. Select another to change it.");
    EXPECT_EQ(chooser.rows()[1], "i2c:bus=1  \u2014  i2c-1 (CP2112) (chosen)");
    chooser.select(2);
    chooser.test();
    EXPECT_EQ(fake.tested, std::vector<std::string>{"sim"});
    EXPECT_EQ(chooser.status(), "tested sim");
    chooser.use();
    EXPECT_EQ(fake.saved, std::vector<std::string>{"sim"});
    EXPECT_EQ(chooser.status(), "saved sim");
    EXPECT_EQ(chooser.chosen(), "sim");
    EXPECT_EQ(chooser.rows()[2], "sim  \u2014  the simulated board (chosen)");
}

TEST(Chooser, ASaveThatFailsSaysWhyAndChoosesNothing) {
    Fake fake;
    fake.refuse = true;
    view::PortChooser chooser(fake.services(""));
    chooser.use();
    EXPECT_EQ(chooser.status(), "Not saved: no settings folder");
    EXPECT_FALSE(chooser.chosen());
}

TEST(Chooser, RefreshKeepsTheSelectedPortWhereItMovedAndSaysWhenNoneIsFound) {
    Fake fake;
    view::PortChooser chooser(fake.services(""));
    chooser.select(2);
    fake.rows.insert(fake.rows.begin(), {"ftdi", "FT232H", true, ""});  // plugged in
    chooser.refresh();
    EXPECT_EQ(chooser.selected(), 3);
    fake.rows.clear();
    chooser.refresh();
    EXPECT_EQ(chooser.selected(), -1);
    EXPECT_EQ(chooser.detail(), "No port was found.");
    EXPECT_FALSE(chooser.canUse());
}

TEST(Chooser, EveryControlIsInsideTheWindowAndNoTwoOverlap) {
    const view::ChooserSpec& spec = view::chooserSpec();
    for (std::size_t i = 0; i < spec.controls.size(); ++i) {
        const auto& a = spec.controls[i];
        EXPECT_LE(a.left + a.width, spec.width) << a.name;
        EXPECT_LE(a.top + a.height, spec.height) << a.name;
        for (std::size_t j = i + 1; j < spec.controls.size(); ++j) {
            const auto& b = spec.controls[j];
            const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                               a.top + a.height <= b.top || b.top + b.height <= a.top;
            EXPECT_TRUE(apart) << a.name << " and " << b.name;
        }
    }
}

}  // namespace

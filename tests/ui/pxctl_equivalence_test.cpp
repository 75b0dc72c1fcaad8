// pxctl's actions against the window: the same sequence of operator events,
// once as pxctl runs it and once through the real widgets, must put the same
// accesses on the port, access by access.
#include "script/actions.h"
#include "script/json.h"
#include "script/runner.h"
#include "commands/descriptor.h"
#include "rig.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace testing_support;

// The window event an action stands for.
void drive(Rig& rig, const script::Action& action) {
    switch (action.kind) {
        case script::Action::Kind::Command: rig.button(std::string(action.command->name).c_str())->click(); break;
        case script::Action::Kind::Code: rig.bar(action.channel == 2 ? "vsbInputCode2" : "vsbInputCode1")->setValue(action.value); break;
        case script::Action::Kind::Bit: rig.bar("vsbBit", action.index)->setValue(action.value); break;
        default: FAIL() << action.text << " has no single window event";
    }
}

struct Sequence {
    std::string name;
    std::vector<std::string> words;
};

class PxctlAsTheWindow : public testing::TestWithParam<std::tuple<const commands::Descriptor*, Sequence>> {};

TEST_P(PxctlAsTheWindow, WritesTheSameAccesses) {
    const auto& [descriptor, sequence] = GetParam();
    const auto actions = script::parseActions(sequence.words, *descriptor);

    RecordingPort port;
    auto program = descriptor->make(port);
    std::ostringstream out, err;
    script::Runner runner(*program, out, err, false);
    for (const auto& action : actions) ASSERT_TRUE(runner.run(action)) << err.str();

    Rig rig(*descriptor);
    for (const auto& action : actions) drive(rig, action);

    ASSERT_FALSE(port.log.empty());
    ASSERT_EQ(port.log.size(), rig.port.log.size());
    for (std::size_t i = 0; i < port.log.size(); ++i) ASSERT_EQ(port.log[i], rig.port.log[i]) << "access " << i;
    EXPECT_EQ(program->frameWord(), rig.program->frameWord());
}

const std::vector<Sequence> kSequences{
    {"codes_then_presets_that_write_twice", {"code1=5", "full", "ch2", "code2=77", "mid", "zero"}},
    {"bit_panel_edits_then_run", {"bit:3=1", "bit:16=1", "bit:17=1", "bit:20=1", "bit:26=1", "run"}},
    {"read_on_a_fresh_panel", {"read"}},
    {"channels_and_read", {"ch2", "code2=200", "ch1", "full", "read", "code1=0"}},
    {"same_code_twice_is_one_change", {"code1=9", "code1=9", "run"}},
};

std::string rowName(const testing::TestParamInfo<PxctlAsTheWindow::ParamType>& row) {
    return std::string(std::get<0>(row.param)->key) + "_" + std::get<1>(row.param).name;
}

INSTANTIATE_TEST_SUITE_P(Sequences, PxctlAsTheWindow,
                         testing::Combine(testing::Values(&commands::kDescriptorA, &commands::kDescriptorB),
                                          testing::ValuesIn(kSequences)),
                         rowName);

INSTANTIATE_TEST_SUITE_P(ShutdownB, PxctlAsTheWindow,
                         testing::Combine(testing::Values(&commands::kDescriptorB),
                                          testing::Values(Sequence{"shdn_then_code", {"shdn", "code1=9", "shdn"}})),
                         rowName);

}  // namespace

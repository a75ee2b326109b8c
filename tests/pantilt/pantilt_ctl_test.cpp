// Runs the pantilt-ctl tool from the station folder against fake hidraw trees.
#include "support/descriptor_builder.h"
#include "support/fake_hidraw.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace pantilt {
namespace {

using test::FakeHidrawTree;
using test::MotorDescriptor;
using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs the tool with the given arguments; the tree's roots reach it through the environment.
Outcome RunCtl(const FakeHidrawTree& tree, const std::vector<std::string>& args) {
    const std::string outPath = tree.Root() + "/ctl.out";
    const std::string errPath = tree.Root() + "/ctl.err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<char*> argv{const_cast<char*>(PANTILT_CTL_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    Outcome outcome;
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, PANTILT_CTL_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << PANTILT_CTL_PATH;
        return outcome;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        outcome.exitCode = WEXITSTATUS(status);
    }
    outcome.out = Text(test::ReadFile(outPath));
    outcome.err = Text(test::ReadFile(errPath));
    return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PantiltCtlTest, HelpPrintsUsage) {
    FakeHidrawTree tree;
    const Outcome help = RunCtl(tree, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, "Usage: pantilt-ctl")) << help.out;
    EXPECT_TRUE(Contains(help.out, "move x|y|z POS [SPEED]")) << help.out;
}

TEST(PantiltCtlTest, UsageErrorsExitWithTwoAndSendNothing) {
    FakeHidrawTree tree;
    tree.AddMotor(0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{}, "no command given"},
        {{"spin"}, "unknown command 'spin'"},
        {{"--bogus", "list"}, "unknown option '--bogus'"},
        {{"--id", "7b3", "list"}, "--id needs VVVV:PPPP"},
        {{"--id", "07b3:0a02x", "list"}, "--id needs VVVV:PPPP"},
        {{"--id"}, "--id needs VVVV:PPPP"},
        {{"init", "move", "w", "5"}, "move needs an axis"},
        {{"init", "move", "x"}, "move needs a position"},
        {{"init", "move", "x", "ten"}, "move needs a position"},
        {{"init", "move", "x", "4294967296"}, "move needs a position"},
        {{"status", "q"}, "unknown command 'q'"},
    };
    for (const auto& [args, message] : cases) {
        const Outcome outcome = RunCtl(tree, args);
        EXPECT_EQ(outcome.exitCode, 2) << message;
        EXPECT_TRUE(Contains(outcome.err, message)) << outcome.err;
    }
    EXPECT_TRUE(tree.Written(0).empty());
}

TEST(PantiltCtlTest, ListShowsTheUnitAndWhyOthersAreNotUsed) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x046D, 0xC52B, MotorDescriptor(7));
    tree.AddMotor(1);
    tree.SetDescriptor(1, {0x75});
    tree.AddMotor(2);
    tree.RemoveNode(2);
    tree.AddMotor(3);
    tree.AddMotor(4);
    tree.RemoveUevent(4);
    const Outcome outcome = RunCtl(tree, {"list"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(Contains(outcome.out, "hidraw0    046d:c52b  other device\n")) << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "hidraw1    07b3:0a02  motor unit, not usable: report "
                                      "descriptor malformed\n"))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "hidraw2    07b3:0a02  motor unit, cannot open " +
                                          tree.NodePath(2) + ": No such file or directory"))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "hidraw3    07b3:0a02  motor unit, " + tree.NodePath(3) +
                                          ", 17-byte output report (used)\n"))
        << outcome.out;
    EXPECT_TRUE(Contains(outcome.out, "hidraw4    ????:????  no HID_ID in its uevent\n"))
        << outcome.out;
    EXPECT_TRUE(tree.Written(3).empty());
}

TEST(PantiltCtlTest, ListWithoutAUnitExitsWithOne) {
    FakeHidrawTree tree;
    EXPECT_EQ(RunCtl(tree, {"list"}).exitCode, 1);
    tree.AddDevice(0, 0x046D, 0xC52B, MotorDescriptor(7));
    EXPECT_EQ(RunCtl(tree, {"list"}).exitCode, 1);
}

TEST(PantiltCtlTest, CommandsRunInOrderInOneSession) {
    FakeHidrawTree tree;
    tree.AddMotor(0);
    const Outcome outcome = RunCtl(tree, {"init", "move", "x", "150", "move", "y", "300", "3",
                                          "move", "y", "10", "status", "y", "status"});
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    const Bytes written = tree.Written(0);
    ASSERT_EQ(written.size(), 5 * 17u);
    EXPECT_EQ(written[15], 0xFF);
    EXPECT_EQ(written[17 + 15], 0xFE);
    EXPECT_EQ(written[2 * 17 + 1], 150);
    EXPECT_EQ(written[3 * 17 + 11], 0x4D); // speed 3
    EXPECT_EQ(written[4 * 17 + 11], 0x4D); // no speed given: the axis' current speed
    EXPECT_EQ(written[4 * 17 + 2], 10);
    EXPECT_EQ(outcome.out, "y: position 10 speed 3 home 90 limit 330\n"
                           "x: position 150 speed 200 home 100 limit 210\n"
                           "y: position 10 speed 3 home 90 limit 330\n"
                           "z: position 55 speed 200 home 55 limit 215\n");
}

TEST(PantiltCtlTest, InitModeOneSendsShortReports) {
    FakeHidrawTree tree;
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(11));
    EXPECT_EQ(RunCtl(tree, {"init", "1"}).exitCode, 0);
    const Bytes written = tree.Written(0);
    ASSERT_EQ(written.size(), 4 * 12u);
    EXPECT_EQ(written[10], 0xFF);
    EXPECT_EQ(written[3 * 12 + 10], 0x03);
}

TEST(PantiltCtlTest, IdOptionSelectsAnotherDevice) {
    FakeHidrawTree tree;
    tree.AddMotor(0);
    tree.AddDevice(1, 0x046D, 0xC52B, MotorDescriptor(16));
    EXPECT_EQ(RunCtl(tree, {"--id", "046D:c52b", "move", "z", "80"}).exitCode, 0);
    EXPECT_TRUE(tree.Written(0).empty());
    EXPECT_EQ(tree.Written(1).size(), 17u);
}

TEST(PantiltCtlTest, DeviceFailuresExitWithOne) {
    FakeHidrawTree tree;
    Outcome outcome = RunCtl(tree, {"move", "x", "1"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(Contains(outcome.err, "no usable motor unit 07b3:0a02 found")) << outcome.err;

    tree.AddMotor(0);
    tree.LinkNode(0, "/dev/full");
    outcome = RunCtl(tree, {"init"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(Contains(outcome.err, "init: writing to the unit failed")) << outcome.err;
    outcome = RunCtl(tree, {"move", "x", "1", "status"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_TRUE(Contains(outcome.err, "move: writing to the unit failed")) << outcome.err;
    EXPECT_TRUE(outcome.out.empty()); // stops at the failure
}

TEST(PantiltCtlTest, StatusNeedsNoUnit) {
    FakeHidrawTree tree;
    const Outcome outcome = RunCtl(tree, {"status", "z"});
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "z: position 55 speed 200 home 55 limit 215\n");
}

} // namespace
} // namespace pantilt

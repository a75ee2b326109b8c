// Loads the built libpantilt.so from the station folder, as the station does, and drives it
// through its exports against a fake hidraw tree. Each test loads the library afresh, so each
// starts with a new motor context.
#include "pantilt.h"

#include "support/descriptor_builder.h"
#include "support/fake_hidraw.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace pantilt {
namespace {

using test::FakeHidrawTree;
using test::MotorDescriptor;
using Bytes = std::vector<std::uint8_t>;

// The exports in their fixed order.
const std::vector<std::string> kExports{
    "HID_OpenMotor", "HID_CloseMotor", "HID_OpenMotorOEM", "HID_IsMotorOpened", "HID_InitMotor",
    "HID_XMoveTo",   "HID_YMoveTo",    "HID_ZMoveTo",      "HID_GetStatus",     "HID_InitMotor2",
};

const Bytes kLongInitFirst{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05,
                           0xD2, 0x64, 0x05, 0x5A, 0x4A, 0x01, 0xFF, 0x00};
const Bytes kLongInitSecond{0x00, 0x64, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05,
                            0xD2, 0x64, 0x05, 0x5A, 0x4A, 0x01, 0xFE, 0x00};
const Bytes kMoveX150{0x00, 0x96, 0x5A, 0x00, 0x37, 0x05, 0x37, 0xD7, 0x05,
                      0xD2, 0x64, 0x05, 0x5A, 0x4A, 0x01, 0x01, 0x00};
const Bytes kShortInitFirst{0x00, 0x64, 0x05, 0x5A, 0x00, 0x05, 0x37, 0x05, 0x37, 0xD7, 0xFF, 0x00};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes WithCommand(Bytes report, std::size_t index, std::uint8_t command) {
    report[index] = command;
    return report;
}

// The library loaded with dlopen, as the station loads it, and its exports.
class Library {
  public:
    Library() : handle_(::dlopen(PANTILT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) {
            ADD_FAILURE() << "cannot load " << PANTILT_LIBRARY_PATH << ": " << ::dlerror();
            return;
        }
        Resolve(OpenMotor, "HID_OpenMotor");
        Resolve(CloseMotor, "HID_CloseMotor");
        Resolve(OpenMotorOEM, "HID_OpenMotorOEM");
        Resolve(IsMotorOpened, "HID_IsMotorOpened");
        Resolve(InitMotor, "HID_InitMotor");
        Resolve(XMoveTo, "HID_XMoveTo");
        Resolve(YMoveTo, "HID_YMoveTo");
        Resolve(ZMoveTo, "HID_ZMoveTo");
        Resolve(GetStatus, "HID_GetStatus");
        Resolve(InitMotor2, "HID_InitMotor2");
    }
    ~Library() { Unload(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return handle_ != nullptr; }

    // Unloads the library and checks that it is really gone, so the next load starts afresh.
    void Unload() {
        if (handle_ == nullptr) {
            return;
        }
        EXPECT_EQ(::dlclose(handle_), 0) << ::dlerror();
        handle_ = nullptr;
        void* stillThere = ::dlopen(PANTILT_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(stillThere, nullptr) << "libpantilt.so stayed loaded after dlclose";
        if (stillThere != nullptr) {
            ::dlclose(stillThere);
        }
    }

    decltype(&HID_OpenMotor) OpenMotor = nullptr;
    decltype(&HID_CloseMotor) CloseMotor = nullptr;
    decltype(&HID_OpenMotorOEM) OpenMotorOEM = nullptr;
    decltype(&HID_IsMotorOpened) IsMotorOpened = nullptr;
    decltype(&HID_InitMotor) InitMotor = nullptr;
    decltype(&HID_XMoveTo) XMoveTo = nullptr;
    decltype(&HID_YMoveTo) YMoveTo = nullptr;
    decltype(&HID_ZMoveTo) ZMoveTo = nullptr;
    decltype(&HID_GetStatus) GetStatus = nullptr;
    decltype(&HID_InitMotor2) InitMotor2 = nullptr;

  private:
    template <typename Function> void Resolve(Function& function, const char* name) {
        function = reinterpret_cast<Function>(::dlsym(handle_, name));
        if (function == nullptr) {
            ADD_FAILURE() << name << " is not exported";
        }
    }

    void* handle_;
};

class LibraryTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(lib.Loaded()); }

    FakeHidrawTree tree;
    Library lib;
};

AxisStatus Status(const Library& lib, int32_t axis) {
    AxisStatus status{-1, -1, -1, -1};
    EXPECT_EQ(lib.GetStatus(axis, &status), 1) << axis;
    return status;
}

#define EXPECT_AXIS(status, p, s, h, l)                                                            \
    do {                                                                                           \
        const AxisStatus actual = (status);                                                        \
        EXPECT_EQ(actual.position, p);                                                             \
        EXPECT_EQ(actual.speed, s);                                                                \
        EXPECT_EQ(actual.home, h);                                                                 \
        EXPECT_EQ(actual.limit, l);                                                                \
    } while (0)

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The identifiers starting with HID_ that are directly followed by terminator, in text order.
std::vector<std::string> NamesFollowedBy(const std::string& text, char terminator) {
    std::vector<std::string> names;
    for (std::size_t pos = text.find("HID_"); pos != std::string::npos;
         pos = text.find("HID_", pos + 1)) {
        std::size_t end = pos;
        while (end < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '_')) {
            ++end;
        }
        if (end < text.size() && text[end] == terminator) {
            names.push_back(text.substr(pos, end - pos));
        }
    }
    return names;
}

TEST(ExportTableTest, LibraryExportsExactlyTheTenFunctions) {
    const std::string command =
        std::string(PANTILT_NM) + " -D --defined-only '" + PANTILT_LIBRARY_PATH + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    ASSERT_EQ(::pclose(pipe), 0) << command;

    // Lines are "address type name".
    std::set<std::string> defined;
    std::istringstream lines(output);
    std::string address, type, name;
    while (lines >> address >> type >> name) {
        defined.insert(name);
    }
    EXPECT_EQ(defined, std::set<std::string>(kExports.begin(), kExports.end())) << output;
}

TEST(ExportTableTest, HeaderAndVersionScriptListTheExportsInTheirFixedOrder) {
    EXPECT_EQ(NamesFollowedBy(ReadText(PANTILT_HEADER_PATH), '('), kExports);
    EXPECT_EQ(NamesFollowedBy(ReadText(PANTILT_VERSION_SCRIPT_PATH), ';'), kExports);
}

TEST_F(LibraryTest, WorkedExampleThroughTheExports) {
    tree.AddMotor(0);
    EXPECT_EQ(lib.IsMotorOpened(), 0);
    EXPECT_EQ(lib.OpenMotor(), 1);
    EXPECT_EQ(lib.IsMotorOpened(), 1);
    EXPECT_EQ(lib.InitMotor(), 1);
    EXPECT_EQ(lib.XMoveTo(150, 200), 1);
    EXPECT_EQ(tree.Written(0), Concat({kLongInitFirst, kLongInitSecond, kMoveX150}));
    EXPECT_AXIS(Status(lib, 0), 150, 200, 100, 210);

    // Short reports on a unit whose output report is 17 bytes long: zero padded.
    EXPECT_EQ(lib.InitMotor2(1), 1);
    Bytes shortReport = WithCommand(kShortInitFirst, 1, 0x96); // X is at 150 now
    shortReport.resize(17, 0x00);
    EXPECT_EQ(tree.Written(0),
              Concat({kLongInitFirst, kLongInitSecond, kMoveX150, shortReport,
                      WithCommand(shortReport, 10, 0x01), WithCommand(shortReport, 10, 0x02),
                      WithCommand(shortReport, 10, 0x03)}));
}

TEST_F(LibraryTest, StatusRightAfterLoadingHoldsTheDefaults) {
    EXPECT_AXIS(Status(lib, 0), 100, 200, 100, 210);
    EXPECT_AXIS(Status(lib, 1), 90, 200, 90, 330);
    EXPECT_AXIS(Status(lib, 2), 55, 200, 55, 215);
}

TEST_F(LibraryTest, StatusOfAnUnknownAxisLeavesTheRecordUntouched) {
    for (int32_t axis : {3, -1, 1000}) {
        AxisStatus status{7, 8, 9, 10};
        EXPECT_EQ(lib.GetStatus(axis, &status), 0);
        EXPECT_AXIS(status, 7, 8, 9, 10);
    }
    EXPECT_EQ(lib.GetStatus(0, nullptr), 0);
}

TEST_F(LibraryTest, MovesWithoutAUnitFailButAreRemembered) {
    EXPECT_EQ(lib.XMoveTo(150, 200), 0);
    EXPECT_EQ(lib.YMoveTo(-5, 0), 0);
    EXPECT_EQ(lib.ZMoveTo(300, 1), 0);
    EXPECT_AXIS(Status(lib, 0), 150, 200, 100, 210);
    EXPECT_AXIS(Status(lib, 1), -5, 0, 90, 330);
    EXPECT_AXIS(Status(lib, 2), 300, 1, 55, 215);
}

TEST_F(LibraryTest, InitialisationResults) {
    // No unit: the long form reports success, the short form failure.
    EXPECT_EQ(lib.InitMotor(), 1);
    EXPECT_EQ(lib.InitMotor2(1), 1); // its argument, not the initialisation's result
    EXPECT_EQ(lib.InitMotor(), 0);
    EXPECT_EQ(lib.InitMotor2(2), 2);
    EXPECT_EQ(lib.InitMotor(), 1);
    EXPECT_EQ(lib.InitMotor2(-7), -7);
}

TEST_F(LibraryTest, ReportModeIsTheLow16BitsOfTheArgument) {
    tree.AddDevice(0, 0x07B3, 0x0A02, MotorDescriptor(11));
    ASSERT_EQ(lib.OpenMotor(), 1);
    EXPECT_EQ(lib.InitMotor2(0x10001), 0x10001); // mode 1: four short reports
    EXPECT_EQ(tree.Written(0).size(), 4 * 12u);
    EXPECT_EQ(lib.InitMotor2(0x10002), 0x10002); // mode 2: two long reports, cut to 12 bytes
    EXPECT_EQ(tree.Written(0).size(), 6 * 12u);
}

TEST_F(LibraryTest, OemOpenComparesTheLow16BitsOfItsIds) {
    tree.AddMotor(0);
    EXPECT_EQ(lib.OpenMotorOEM(0x000107B3, static_cast<int32_t>(0xFFFF0A02u)), 1);
    EXPECT_EQ(lib.IsMotorOpened(), 1);
    EXPECT_EQ(lib.OpenMotorOEM(0x07B3, 0x0A03), 0);
    EXPECT_EQ(lib.IsMotorOpened(), 0);
}

TEST_F(LibraryTest, OpenAndCloseManageOneDeviceDescriptor) {
    tree.AddMotor(0);
    tree.AddMotor(1);
    EXPECT_EQ(lib.CloseMotor(), 1); // nothing open
    const int before = test::OpenFdCount();
    EXPECT_EQ(lib.OpenMotor(), 1);
    EXPECT_EQ(lib.OpenMotor(), 1); // the first descriptor is closed, not leaked
    EXPECT_EQ(test::OpenFdCount(), before + 1);
    EXPECT_EQ(lib.CloseMotor(), 1);
    EXPECT_EQ(lib.IsMotorOpened(), 0);
    EXPECT_EQ(test::OpenFdCount(), before);
    EXPECT_EQ(lib.XMoveTo(120, 200), 0);
    EXPECT_TRUE(tree.Written(0).empty());
    EXPECT_TRUE(tree.Written(1).empty());
}

TEST_F(LibraryTest, FailedWriteClosesTheUnitUntilItIsOpenedAgain) {
    tree.AddMotor(0);
    tree.LinkNode(0, "/dev/full");
    ASSERT_EQ(lib.OpenMotor(), 1);
    EXPECT_EQ(lib.YMoveTo(200, 100), 0);
    EXPECT_EQ(lib.IsMotorOpened(), 0);
    EXPECT_EQ(lib.XMoveTo(10, 100), 0);
    EXPECT_AXIS(Status(lib, 0), 10, 100, 100, 210);
    EXPECT_AXIS(Status(lib, 1), 200, 100, 90, 330);
}

TEST_F(LibraryTest, UnloadingClosesTheUnit) {
    tree.AddMotor(0);
    const int before = test::OpenFdCount();
    ASSERT_EQ(lib.OpenMotor(), 1);
    EXPECT_EQ(test::OpenFdCount(), before + 1);
    lib.Unload();
    EXPECT_EQ(test::OpenFdCount(), before);
}

} // namespace
} // namespace pantilt

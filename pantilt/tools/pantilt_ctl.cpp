// pantilt-ctl: finds and drives the USB pan-and-tilt motor base from a shell, for setting up
// the hardware.
#include "hidraw_discovery.h"
#include "pantilt.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitDevice = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: pantilt-ctl [--id VVVV:PPPP] COMMAND [COMMAND ...]\n"
    "\n"
    "Finds and drives the USB pan-and-tilt motor base. The commands run in the order given,\n"
    "in one session:\n"
    "  list                     list the hidraw devices and show which one is the unit\n"
    "  init [MODE]              send the initialisation reports; MODE 1 selects the short\n"
    "                           12-byte reports, any other value the long 17-byte ones (default)\n"
    "  move x|y|z POS [SPEED]   move the axis (x pan, y tilt, z zoom) to POS; SPEED defaults\n"
    "                           to the axis' current speed (200 at start)\n"
    "  status [x|y|z]           print position, speed, home and limit (all axes by default)\n"
    "\n"
    "Options:\n"
    "  --id VVVV:PPPP           look for this vendor:product (hexadecimal), not 07b3:0a02\n"
    "  -h, --help               print this text\n"
    "\n"
    "The unit is never read back: status shows the values this session has sent.\n"
    "PANTILT_SYSFS_ROOT and PANTILT_DEV_ROOT replace /sys and /dev when set.\n"
    "Exit status: 0 done, 1 no unit found or a report could not be written, 2 usage error.\n";

enum class Kind { List, Init, Move, Status };

struct Command {
    Kind kind;
    bool hasMode = false;
    int32_t mode = 0;
    int axis = -1; // -1: all axes (status)
    int32_t position = 0;
    bool hasSpeed = false;
    int32_t speed = 0;
};

struct Options {
    uint16_t vendor = pantilt::kMotorVendorId;
    uint16_t product = pantilt::kMotorProductId;
    std::vector<Command> commands;
};

const char* const kAxisNames[] = {"x", "y", "z"};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "pantilt-ctl: %s\nTry 'pantilt-ctl --help'.\n", message.c_str());
    return kExitUsage;
}

bool ParseInt32(const char* text, int32_t& value) {
    if (*text == '\0') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(parsed);
    return true;
}

bool IsNumber(const char* text) {
    int32_t ignored;
    return ParseInt32(text, ignored);
}

int ParseAxis(const char* text) {
    for (int i = 0; i < 3; ++i) {
        if (std::strcmp(text, kAxisNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

bool ParseHex16(const std::string& text, uint16_t& value) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    value = static_cast<uint16_t>(std::stoul(text, nullptr, 16));
    return true;
}

bool ParseId(const std::string& text, uint16_t& vendor, uint16_t& product) {
    const std::size_t colon = text.find(':');
    return colon != std::string::npos && ParseHex16(text.substr(0, colon), vendor) &&
           ParseHex16(text.substr(colon + 1), product);
}

// Returns kExitOk, or the exit status of a usage error (after printing it).
int ParseArguments(int argc, char** argv, Options& options, bool& helpWanted) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            helpWanted = true;
            return kExitOk;
        }
        if (option == "--id") {
            if (i + 1 >= argc || !ParseId(argv[i + 1], options.vendor, options.product)) {
                return UsageError("--id needs VVVV:PPPP in hexadecimal, e.g. 07b3:0a02");
            }
            ++i;
            continue;
        }
        return UsageError("unknown option '" + option + "'");
    }
    if (i == argc) {
        return UsageError("no command given");
    }
    while (i < argc) {
        const std::string word = argv[i++];
        Command command{};
        if (word == "list") {
            command.kind = Kind::List;
        } else if (word == "init") {
            command.kind = Kind::Init;
            if (i < argc && IsNumber(argv[i])) {
                command.hasMode = true;
                ParseInt32(argv[i++], command.mode);
            }
        } else if (word == "move") {
            command.kind = Kind::Move;
            if (i >= argc || (command.axis = ParseAxis(argv[i])) < 0) {
                return UsageError("move needs an axis: x, y or z");
            }
            ++i;
            if (i >= argc || !ParseInt32(argv[i], command.position)) {
                return UsageError("move needs a position (a whole number)");
            }
            ++i;
            if (i < argc && IsNumber(argv[i])) {
                command.hasSpeed = true;
                ParseInt32(argv[i++], command.speed);
            }
        } else if (word == "status") {
            command.kind = Kind::Status;
            if (i < argc && ParseAxis(argv[i]) >= 0) {
                command.axis = ParseAxis(argv[i++]);
            }
        } else {
            return UsageError("unknown command '" + word + "'");
        }
        options.commands.push_back(command);
    }
    return kExitOk;
}

const char* DescriptorText(pantilt::DescriptorState state) {
    switch (state) {
    case pantilt::DescriptorState::Unreadable:
        return "report descriptor unreadable";
    case pantilt::DescriptorState::Malformed:
        return "report descriptor malformed";
    case pantilt::DescriptorState::NoOutputReport:
        return "no output report";
    case pantilt::DescriptorState::Usable:
        break;
    }
    return "";
}

int List(const Options& options) {
    const std::vector<pantilt::HidrawDevice> devices = pantilt::ListHidrawDevices();
    if (devices.empty()) {
        std::printf("no hidraw devices in %s/class/hidraw\n", pantilt::SysfsRoot().c_str());
    }
    bool found = false;
    for (const pantilt::HidrawDevice& device : devices) {
        if (!device.idsKnown) {
            std::printf("%-10s ????:????  no HID_ID in its uevent\n", device.name.c_str());
            continue;
        }
        std::printf("%-10s %04x:%04x  ", device.name.c_str(), device.ids.vendor,
                    device.ids.product);
        if (device.ids.vendor != options.vendor || device.ids.product != options.product) {
            std::printf("other device\n");
            continue;
        }
        if (device.descriptor != pantilt::DescriptorState::Usable) {
            std::printf("motor unit, not usable: %s\n", DescriptorText(device.descriptor));
            continue;
        }
        const int fd = ::open(device.nodePath.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            std::printf("motor unit, cannot open %s: %s (is the udev rule installed?)\n",
                        device.nodePath.c_str(), std::strerror(errno));
            continue;
        }
        ::close(fd);
        std::printf("motor unit, %s, %zu-byte output report%s\n", device.nodePath.c_str(),
                    device.outputLength, found ? "" : " (used)");
        found = true;
    }
    return found ? kExitOk : kExitDevice;
}

void PrintStatus(int axis) {
    AxisStatus status{};
    HID_GetStatus(axis, &status);
    std::printf("%s: position %d speed %d home %d limit %d\n", kAxisNames[axis], status.position,
                status.speed, status.home, status.limit);
}

bool OpenOnce(const Options& options, bool& opened) {
    if (opened) {
        return HID_IsMotorOpened() != 0;
    }
    opened = true;
    if (HID_OpenMotorOEM(options.vendor, options.product) == 0) {
        std::fprintf(stderr,
                     "pantilt-ctl: no usable motor unit %04x:%04x found "
                     "(see 'pantilt-ctl list')\n",
                     options.vendor, options.product);
        return false;
    }
    return true;
}

int WriteFailed(const char* what) {
    std::fprintf(stderr, "pantilt-ctl: %s: writing to the unit failed; it has been closed\n", what);
    return kExitDevice;
}

int Run(const Options& options) {
    bool opened = false;
    int result = kExitOk;
    for (const Command& command : options.commands) {
        switch (command.kind) {
        case Kind::List:
            if (List(options) != kExitOk) {
                result = kExitDevice;
            }
            break;
        case Kind::Init:
            if (!OpenOnce(options, opened)) {
                return kExitDevice;
            }
            // The long form's initialisation reports success even when a write fails, so the
            // unit being still open is what tells.
            if (command.hasMode) {
                HID_InitMotor2(command.mode);
            } else {
                HID_InitMotor();
            }
            if (HID_IsMotorOpened() == 0) {
                return WriteFailed("init");
            }
            break;
        case Kind::Move: {
            if (!OpenOnce(options, opened)) {
                return kExitDevice;
            }
            AxisStatus current{};
            HID_GetStatus(command.axis, &current);
            const int32_t speed = command.hasSpeed ? command.speed : current.speed;
            int32_t written = 0;
            switch (command.axis) {
            case 0:
                written = HID_XMoveTo(command.position, speed);
                break;
            case 1:
                written = HID_YMoveTo(command.position, speed);
                break;
            default:
                written = HID_ZMoveTo(command.position, speed);
                break;
            }
            if (written == 0) {
                return WriteFailed("move");
            }
            break;
        }
        case Kind::Status:
            for (int axis = 0; axis < 3; ++axis) {
                if (command.axis < 0 || command.axis == axis) {
                    PrintStatus(axis);
                }
            }
            break;
        }
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool helpWanted = false;
    const int parsed = ParseArguments(argc, argv, options, helpWanted);
    if (helpWanted) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (parsed != kExitOk) {
        return parsed;
    }
    const int result = Run(options);
    std::fflush(stdout);
    return result;
}

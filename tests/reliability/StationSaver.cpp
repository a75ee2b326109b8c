// The station's saving of its files, in a loop, through its own code: the four settings
// records (their savers), the viewer password (setPassword) and the station key (a new key
// whenever the camera identifier changes, as at start). The kill trials start it on a data
// folder and kill it with SIGKILL while it saves.
//
//   station_saver FOLDER once      saves content 0 once and exits
//   station_saver FOLDER cycles N  saves N times, alternating, then prints the microseconds
//                                  one save of every file took
//   station_saver FOLDER loop MARK prints "ready" and saves, alternating, until killed; the
//                                  first byte of the file MARK, mapped into memory, names the
//                                  file being saved (1 to 6, the order below), 0 between saves
//                                  (the trials read it after the kill)
#include "SavedContents.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/StationState.h"
#include "settings/Password.h"
#include "settings/Settings.h"
#include "settings/StationKey.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace kestrova;

namespace {

char gNoMark = 0;
volatile char* gMark = &gNoMark;

void SaveEverything(int which) {
    test::SetTrialRecords(which);
    *gMark = 1;
    SaveSettingsFile();
    *gMark = 2;
    SaveCamFile();
    *gMark = 3;
    SaveChatFile();
    *gMark = 4;
    SaveArchiveFile();
    *gMark = 5;
    setPassword(test::TrialPassword(which));
    *gMark = 6;
    App().CameraId.assign(test::TrialCameraId(which));
    ProvideStationKey();
    *gMark = 0;
}

// The first byte of the file, shared with whoever reads the file after this process ended.
volatile char* MapMark(const char* path) {
    const int fd = ::open(path, O_RDWR);
    void* mapped =
        fd < 0 ? MAP_FAILED : ::mmap(nullptr, 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        std::fprintf(stderr, "station_saver: cannot map %s\n", path);
        std::exit(2);
    }
    return static_cast<volatile char*>(mapped);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: station_saver FOLDER once|cycles N|loop\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    StationState state;
    App().DataFolder = QString::fromLocal8Bit(argv[1]);
    try {
        // A record is saved only once it was loaded, as in the station.
        LoadSettingsFile();
        LoadCamFile();
        LoadChatFile();
        LoadArchiveFile();
        if (std::strcmp(argv[2], "once") == 0) {
            SaveEverything(0);
        } else if (std::strcmp(argv[2], "cycles") == 0 && argc > 3) {
            const int cycles = std::atoi(argv[3]);
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < cycles; ++i)
                SaveEverything(i % 2);
            const auto took = std::chrono::steady_clock::now() - start;
            std::printf("%lld\n",
                        static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::microseconds>(took).count() /
                            (cycles > 0 ? cycles : 1)));
        } else if (std::strcmp(argv[2], "loop") == 0 && argc > 3) {
            gMark = MapMark(argv[3]);
            std::printf("ready\n");
            std::fflush(stdout);
            for (int i = 1;; i = 1 - i)
                SaveEverything(i);
        } else {
            std::fprintf(stderr, "station_saver: unknown mode %s\n", argv[2]);
            return 2;
        }
    } catch (const AppError& e) {
        std::fprintf(stderr, "station_saver: %s\n", qPrintable(e.description()));
        return 1;
    }
    return 0;
}

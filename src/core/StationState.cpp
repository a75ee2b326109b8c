#include "core/StationState.h"

#include <cstdio>
#include <cstdlib>

namespace kestrova {

namespace {
StationState* g_current = nullptr;
} // namespace

StationState::StationState() : previous_(g_current) {
    g_current = this;
}

StationState::~StationState() {
    g_current = previous_;
}

StationState& StationState::Current() {
    if (!g_current) {
        std::fprintf(stderr, "Kestrova: the station's state is used before it was made\n");
        std::abort();
    }
    return *g_current;
}

AppState& App() {
    return StationState::Current().app;
}

Controls& Ui() {
    return StationState::Current().ui;
}

StationTimers& Timers() {
    return StationState::Current().timers;
}

void SetStartupFailureText(const QString& text) {
    StationState::Current().startupFailureText = text;
}

QString StartupFailureText() {
    return StationState::Current().startupFailureText;
}

} // namespace kestrova

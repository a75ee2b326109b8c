#include "app/AppState.h"

#include "app/Controls.h"

#include <memory>

namespace kestrova {

namespace {
std::unique_ptr<AppState>& StateInstance() {
    static std::unique_ptr<AppState> state = std::make_unique<AppState>();
    return state;
}
std::unique_ptr<Controls>& ControlsInstance() {
    static std::unique_ptr<Controls> controls = std::make_unique<Controls>();
    return controls;
}
} // namespace

AppState& App() {
    return *StateInstance();
}

Controls& Ui() {
    return *ControlsInstance();
}

void ResetAppState() {
    StateInstance() = std::make_unique<AppState>();
    ControlsInstance() = std::make_unique<Controls>();
}

} // namespace kestrova

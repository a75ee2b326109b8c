// A stand-in for libKestrovaLVCam.so: the three functions of the camera motion library, which
// record every call with the time it came, and answer with results the test sets.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {

std::string g_calls;
std::int32_t g_results[3] = {1, 1, 1}; // Function1, Function4, Function5

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void Record(const char* call) {
    char line[96];
    std::snprintf(line, sizeof line, "%s@%lld;", call, NowMs());
    g_calls += line;
}

} // namespace

FAKE_API std::int32_t Function1(void) {
    Record("Function1()");
    return g_results[0];
}

FAKE_API std::int32_t Function4(void) {
    Record("Function4()");
    return g_results[1];
}

FAKE_API std::int32_t Function5(std::int16_t direction, std::int32_t amount) {
    char call[48];
    std::snprintf(call, sizeof call, "Function5(%d,%d)", direction, amount);
    Record(call);
    return g_results[2];
}

// The calls so far: "Function5(0,320)@<monotonic ms>;" each.
FAKE_API const char* FakeLvCam_Calls(void) {
    return g_calls.c_str();
}

// Forgets the calls and sets the results of Function1, Function4 and Function5.
FAKE_API void FakeLvCam_Reset(std::int32_t connect, std::int32_t home, std::int32_t move) {
    g_calls.clear();
    g_results[0] = connect;
    g_results[1] = home;
    g_results[2] = move;
}

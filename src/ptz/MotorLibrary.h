// The two motor libraries the station drives its motorised cameras through, each loaded from
// the program folder at the first call of one of its functions: libpantilt.so (the USB HID
// pan-and-tilt unit) and libKestrovaLVCam.so (the camera motion library of Logitech motor
// webcams). A library that cannot be loaded, or lacks a function, makes the call throw
// AppError; the next call tries again.
#pragma once

#include "lvcam.h"
#include "pantilt.h"

#include <QLibrary>
#include <QString>

#include <cstdint>

namespace kestrova {

// One shared library of the program folder, loaded at first use and unloaded with the object.
class MotorLibrary {
  public:
    explicit MotorLibrary(const char* fileName) : fileName_(fileName) {}
    ~MotorLibrary();
    MotorLibrary(const MotorLibrary&) = delete;
    MotorLibrary& operator=(const MotorLibrary&) = delete;

    // The function `name` of the library, loading the library first. Throws AppError.
    QFunctionPointer Function(const char* name);

  private:
    const char* fileName_;
    QLibrary library_;
};

// The functions of pantilt the station calls.
struct PantiltFunctions {
    decltype(&::HID_OpenMotor) HID_OpenMotor = nullptr;
    decltype(&::HID_InitMotor) HID_InitMotor = nullptr;
    decltype(&::HID_GetStatus) HID_GetStatus = nullptr;
    decltype(&::HID_XMoveTo) HID_XMoveTo = nullptr;
    decltype(&::HID_YMoveTo) HID_YMoveTo = nullptr;
    decltype(&::HID_ZMoveTo) HID_ZMoveTo = nullptr;
};

class PantiltLibrary {
  public:
    PantiltLibrary() : library_("libpantilt.so") {}

    // Uses these functions instead of loading the library (functions linked in directly).
    void Bind(const PantiltFunctions& functions) { functions_ = functions; }

    std::int32_t OpenMotor() { return Get(&PantiltFunctions::HID_OpenMotor, "HID_OpenMotor")(); }
    std::int32_t InitMotor() { return Get(&PantiltFunctions::HID_InitMotor, "HID_InitMotor")(); }
    std::int32_t GetStatus(std::int32_t axis, ::AxisStatus* status) {
        return Get(&PantiltFunctions::HID_GetStatus, "HID_GetStatus")(axis, status);
    }
    std::int32_t XMoveTo(std::int32_t position, std::int32_t speed) {
        return Get(&PantiltFunctions::HID_XMoveTo, "HID_XMoveTo")(position, speed);
    }
    std::int32_t YMoveTo(std::int32_t position, std::int32_t speed) {
        return Get(&PantiltFunctions::HID_YMoveTo, "HID_YMoveTo")(position, speed);
    }
    std::int32_t ZMoveTo(std::int32_t position, std::int32_t speed) {
        return Get(&PantiltFunctions::HID_ZMoveTo, "HID_ZMoveTo")(position, speed);
    }

  private:
    template <typename F> F Get(F PantiltFunctions::*member, const char* name) {
        F& function = functions_.*member;
        if (!function)
            function = reinterpret_cast<F>(library_.Function(name));
        return function;
    }

    MotorLibrary library_;
    PantiltFunctions functions_;
};

// The functions of the camera motion library.
struct LvCamFunctions {
    decltype(&::Function1) Function1 = nullptr;
    decltype(&::Function4) Function4 = nullptr;
    decltype(&::Function5) Function5 = nullptr;
};

class LvCamLibrary {
  public:
    LvCamLibrary() : library_("libKestrovaLVCam.so") {}

    void Bind(const LvCamFunctions& functions) { functions_ = functions; }

    // Connects to the camera's motor: 1 connected, 0 not.
    std::int32_t Function1() { return Get(&LvCamFunctions::Function1, "Function1")(); }
    // Moves the camera home: 1 success.
    std::int32_t Function4() { return Get(&LvCamFunctions::Function4, "Function4")(); }
    // Moves the camera from where it is: direction 0 left, 1 right, 2 up, 3 down; 1 success.
    std::int32_t Function5(std::int16_t direction, std::int32_t amount) {
        return Get(&LvCamFunctions::Function5, "Function5")(direction, amount);
    }

  private:
    template <typename F> F Get(F LvCamFunctions::*member, const char* name) {
        F& function = functions_.*member;
        if (!function)
            function = reinterpret_cast<F>(library_.Function(name));
        return function;
    }

    MotorLibrary library_;
    LvCamFunctions functions_;
};

} // namespace kestrova

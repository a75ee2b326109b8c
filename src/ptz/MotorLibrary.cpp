#include "ptz/MotorLibrary.h"

#include "core/AppError.h"
#include "ptz/PtzValues.h"
#include "settings/DataFolder.h"

namespace kestrova {

MotorLibrary::~MotorLibrary() {
    // The pantilt library releases its unit when it is unloaded.
    if (library_.isLoaded())
        library_.unload();
}

QFunctionPointer MotorLibrary::Function(const char* name) {
    if (!library_.isLoaded()) {
        library_.setFileName(ProgramFolder() + QLatin1Char('/') + QLatin1String(fileName_));
        if (!library_.load())
            throw AppError(library_.errorString(), kFileNotFoundError, QStringLiteral("webcam"));
    }
    if (const QFunctionPointer function = library_.resolve(name))
        return function;
    throw AppError(QStringLiteral("Can't find DLL entry point %1 in %2")
                       .arg(QLatin1String(name), QLatin1String(fileName_)),
                   kEntryPointError, QStringLiteral("webcam"));
}

} // namespace kestrova

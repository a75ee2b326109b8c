// The deployment values of this station: where its service lives, whom users contact, and the
// identifier under which the service knows its camera. They come from the INI file
// deployment.conf in the program folder (the environment variable KESTROVA_CONFIG names
// another file):
//
//   [service]  MainHost, MainPort (default 80), SecondaryHost, SupportEmail
//   [station]  CameraId
#pragma once

#include <QString>

#include <cstdint>

namespace kestrova {

struct Deployment {
    QString MainHost;            // directory host ("/getReflector.php")
    std::uint16_t MainPort = 80; // directory port
    QString SecondaryHost;       // live listing and web pages; may carry ":port"
    QString SupportEmail;        // named when the relay refuses the registration
    QString CameraId;            // empty: the identifier kept in the data folder is used
};

// The file the deployment values are read from.
QString DeploymentFile();

// Reads the deployment file afresh. A missing file or key gives the defaults; a MainPort that
// is no port number (1 to 65535) gives 80.
Deployment ReadDeployment();

// The most characters a camera identifier may have (the size of the CameraId field).
constexpr int kMaxCameraIdLength = 50;

// True when the identifier may be sent to the service: 1 to 50 characters, each an ASCII
// letter, a digit, "-" or "_". Such an identifier can never change the meaning of a request
// line, a query or a form field it is put into.
bool IsValidCameraId(const QString& id);

// Sets CameraId: the identifier of the deployment file; else the one kept in camera.id in the
// data folder; on a first start with neither, a fresh 16-character letters-and-digits
// identifier, which is written to camera.id. An identifier that may not be sent is refused:
// a "Launching Software: " log line names it and AppError is thrown, as when camera.id cannot
// be read or written.
void ProvideCameraId();

} // namespace kestrova

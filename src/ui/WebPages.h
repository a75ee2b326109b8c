// The service's web pages that the station opens in the user's browser, and their addresses
// built from the station's current values. Every text a user typed is URL-encoded before it
// goes into an address.
#pragma once

#include <QString>

namespace kestrova {

// "http://" and the primary service host (with ":" and its port unless that is 80).
QString PrimaryServiceBase();
// "http://" and the secondary service host (live listing, profile, chat and live-list pages).
QString SecondaryServiceBase();
// "http://", the relay's host and port as received from the service.
QString ReflectorBase();

QString LivePageAddress();    // the camera's viewer page ("live")
QString HelpPageAddress();    // "help"
QString CameraAdminAddress(); // camera management (the "Presets" sub-tab's "Edit")
QString SkinPageAddress();    // "Choose skin"
QString ArchivePageAddress(); // "View Archive"
QString ProfilePageAddress(); // "Edit Live Profile"
QString LiveListAddress();    // a click on the settings picture
QString ListingPageAddress(); // named on the broadcast wizard's second page
QString ChatPageAddress();    // "Open Chat Box"

// True while the relay runs; otherwise tells the user that its pages cannot be reached yet.
bool ReflectorGuard();

// Asks the desktop to open the address with its browser; a failure is not reported.
void OpenInBrowser(const QString& address);

} // namespace kestrova

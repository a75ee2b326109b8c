#pragma once

namespace kestrova {

// Each option control copies its value into its settings field when it changes (by a click
// or by the settings being loaded), so that the close saves what the user chose.
void InstallOptionHandlers();

} // namespace kestrova

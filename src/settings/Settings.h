// Loading and saving the four settings files of the data folder.
#pragma once

namespace kestrova {

// Each loader reads its file into the in-memory record (a missing file is created empty and
// reads as zeros). Each saver writes the record back; a record that was never loaded this run
// is not written, so stored settings survive an early exit. All throw AppError on failure.
void LoadSettingsFile();
void LoadCamFile();
void LoadChatFile();
void LoadArchiveFile();
void SaveSettingsFile();
void SaveCamFile();
void SaveChatFile();
void SaveArchiveFile();

// Loads all four files, applies the first-run defaults and sets the option controls.
void LoadSettings();

} // namespace kestrova

#include "settings/Settings.h"

#include "core/AppState.h"
#include "core/Controls.h"
#include "settings/RecordFile.h"
#include "settings/Records.h"

namespace kestrova {

namespace {
QString DataFile(const char* name) {
    return App().DataFolder + QLatin1Char('/') + QLatin1String(name);
}
} // namespace

void LoadSettingsFile() {
    App().Settings =
        DecodeSettingsRecord(ReadRecordFile(DataFile("settings.dat"), kSettingsRecordSize));
    App().SettingsLoaded = true;
}

void LoadCamFile() {
    App().Cam = DecodeCamRecord(ReadRecordFile(DataFile("cam.dat"), kCamRecordSize));
    App().CamLoaded = true;
}

void LoadChatFile() {
    App().Chat = DecodeChatRecord(ReadRecordFile(DataFile("chat.dat"), kChatRecordSize));
    App().ChatLoaded = true;
}

void LoadArchiveFile() {
    App().Archive =
        DecodeArchiveRecord(ReadRecordFile(DataFile("archive.dat"), kArchiveRecordSize));
    App().ArchiveLoaded = true;
}

void SaveSettingsFile() {
    if (App().SettingsLoaded)
        WriteRecordFile(DataFile("settings.dat"), EncodeSettingsRecord(App().Settings));
}

void SaveCamFile() {
    if (App().CamLoaded)
        WriteRecordFile(DataFile("cam.dat"), EncodeCamRecord(App().Cam));
}

void SaveChatFile() {
    if (App().ChatLoaded)
        WriteRecordFile(DataFile("chat.dat"), EncodeChatRecord(App().Chat));
}

void SaveArchiveFile() {
    if (App().ArchiveLoaded)
        WriteRecordFile(DataFile("archive.dat"), EncodeArchiveRecord(App().Archive));
}

void LoadSettings() {
    LoadSettingsFile();
    LoadCamFile();
    LoadChatFile();
    LoadArchiveFile();

    SettingsRecord& s = App().Settings;
    if (s.SettingsSaved == 0) {
        s.ChatEnabled = 0;
        s.Reserved292 = 1;
        s.Reserved304 = 1;
        s.PasswordsEnabled = 0;
        s.LiveListing = 1;
        s.JpegQuality = 75;
        s.SnapshotEnabled = 1;
        s.ZoomEnabled = 1;
        s.PresetsEnabled = 1;
        s.CameraIndex = -1;
        s.HideThumbnail = 0;
        App().Archive.DisplayArchive = 1;
        s.ArchiveEnabled = 1;
        App().Archive.ArchiveRateIndex = 1;
        s.SettingsSaved = 1;
    }

    Controls& ui = Ui();
    ui.chkPublic.set(s.LiveListing);
    if (s.JpegQuality == 0)
        s.JpegQuality = 75;
    // The slider shows the stored quality without reading it back: JpegQuality keeps the
    // stored value, and it is what the capture uses.
    ui.sldJPEGQuality.setQuietly(s.JpegQuality);
    ui.chkEnableZoom.set(s.ZoomEnabled);
    ui.chkEnableSnap.set(s.SnapshotEnabled);
    ui.chkEnablePasswords.set(s.PasswordsEnabled);
    ui.chkThumb.set(s.HideThumbnail);
    ui.chkEnablePresets.set(s.PresetsEnabled);
    ui.chkChatOnOff.set(s.ChatEnabled);
    ui.cboArchive.set(App().Archive.ArchiveRateIndex);
}

} // namespace kestrova

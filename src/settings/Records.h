// Byte layouts of the four settings records (little-endian, packed, texts blank-padded).
#pragma once

#include "core/AppState.h"

#include <QByteArray>

namespace kestrova {

constexpr int kSettingsRecordSize = 308;
constexpr int kCamRecordSize = 514;
constexpr int kChatRecordSize = 106;
constexpr int kArchiveRecordSize = 4;

QByteArray EncodeSettingsRecord(const SettingsRecord& record);
SettingsRecord DecodeSettingsRecord(const QByteArray& bytes);
QByteArray EncodeCamRecord(const CamRecord& record);
CamRecord DecodeCamRecord(const QByteArray& bytes);
QByteArray EncodeChatRecord(const ChatRecord& record);
ChatRecord DecodeChatRecord(const QByteArray& bytes);
QByteArray EncodeArchiveRecord(const ArchiveRecord& record);
ArchiveRecord DecodeArchiveRecord(const QByteArray& bytes);

} // namespace kestrova

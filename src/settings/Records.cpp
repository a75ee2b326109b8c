#include "settings/Records.h"

#include <QtEndian>

#include <cstring>

namespace kestrova {

namespace {

// Walks a record's fields in order, either writing them into or reading them from bytes.
// One field list per record serves both directions, so the two cannot drift apart.
class Writer {
  public:
    explicit Writer(int size) : bytes_(size, '\0') {}
    void operator()(const std::int16_t& v) { put(qToLittleEndian(v)); }
    void operator()(const std::int32_t& v) { put(qToLittleEndian(v)); }
    template <std::size_t N> void operator()(const FixedText<N>& t) {
        std::memcpy(bytes_.data() + pos_, t.bytes().data(), N);
        pos_ += static_cast<int>(N);
    }
    QByteArray result() const { return bytes_; }

  private:
    template <typename T> void put(T v) {
        std::memcpy(bytes_.data() + pos_, &v, sizeof v);
        pos_ += static_cast<int>(sizeof v);
    }
    QByteArray bytes_;
    int pos_ = 0;
};

class Reader {
  public:
    Reader(const QByteArray& bytes, int size) : bytes_(bytes) { bytes_.resize(size, '\0'); }
    void operator()(std::int16_t& v) { v = qFromLittleEndian<std::int16_t>(next(2)); }
    void operator()(std::int32_t& v) { v = qFromLittleEndian<std::int32_t>(next(4)); }
    template <std::size_t N> void operator()(FixedText<N>& t) {
        std::memcpy(t.bytes().data(), next(static_cast<int>(N)), N);
    }

  private:
    const char* next(int n) {
        const char* p = bytes_.constData() + pos_;
        pos_ += n;
        return p;
    }
    QByteArray bytes_;
    int pos_ = 0;
};

template <typename R, typename F> void Fields(R& r, F&& f) {
    if constexpr (std::is_same_v<std::remove_const_t<R>, SettingsRecord>) {
        f(r.ReservedText), f(r.SettingsSaved), f(r.Reserved260), f(r.Reserved264);
        f(r.CameraIndex), f(r.Reserved270), f(r.Reserved272), f(r.PtzPort), f(r.LiveListing);
        f(r.HideThumbnail), f(r.Reserved280), f(r.JpegQuality), f(r.ZoomEnabled);
        f(r.SnapshotEnabled), f(r.TimeStampOn), f(r.Reserved290), f(r.Reserved292);
        f(r.Reserved294), f(r.PasswordsEnabled), f(r.PresetsEnabled), f(r.ArchiveEnabled);
        f(r.ChatEnabled), f(r.Reserved304), f(r.Reserved306);
    } else if constexpr (std::is_same_v<std::remove_const_t<R>, CamRecord>) {
        f(r.CameraName), f(r.EmailAddress), f(r.WizardDone);
    } else if constexpr (std::is_same_v<std::remove_const_t<R>, ChatRecord>) {
        f(r.ChatUserName), f(r.ChatRoomName), f(r.ChatRoomNumber), f(r.ChatRoomSet);
    } else {
        static_assert(std::is_same_v<std::remove_const_t<R>, ArchiveRecord>);
        f(r.DisplayArchive), f(r.ArchiveRateIndex);
    }
}

template <typename R> QByteArray Encode(const R& record, int size) {
    Writer w(size);
    Fields(record, w);
    return w.result();
}

template <typename R> R Decode(const QByteArray& bytes, int size) {
    R record;
    Reader r(bytes, size);
    Fields(record, r);
    return record;
}

} // namespace

QByteArray EncodeSettingsRecord(const SettingsRecord& r) {
    return Encode(r, kSettingsRecordSize);
}
SettingsRecord DecodeSettingsRecord(const QByteArray& b) {
    return Decode<SettingsRecord>(b, kSettingsRecordSize);
}
QByteArray EncodeCamRecord(const CamRecord& r) {
    return Encode(r, kCamRecordSize);
}
CamRecord DecodeCamRecord(const QByteArray& b) {
    return Decode<CamRecord>(b, kCamRecordSize);
}
QByteArray EncodeChatRecord(const ChatRecord& r) {
    return Encode(r, kChatRecordSize);
}
ChatRecord DecodeChatRecord(const QByteArray& b) {
    return Decode<ChatRecord>(b, kChatRecordSize);
}
QByteArray EncodeArchiveRecord(const ArchiveRecord& r) {
    return Encode(r, kArchiveRecordSize);
}
ArchiveRecord DecodeArchiveRecord(const QByteArray& b) {
    return Decode<ArchiveRecord>(b, kArchiveRecordSize);
}

} // namespace kestrova

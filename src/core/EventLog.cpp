#include "core/EventLog.h"

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Version.h"

#include <QDate>
#include <QFile>
#include <QLocale>
#include <QTime>

#include <cstdio>

namespace kestrova {

namespace {

QString LogPath() {
    return App().DataFolder + QStringLiteral("/Log.txt");
}

QString TimeFormatWithSeconds() {
    QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        const int minutes = format.lastIndexOf(QLatin1String("mm"));
        if (minutes >= 0)
            format.insert(minutes + 2, QLatin1String(":ss"));
        else
            format = QStringLiteral("HH:mm:ss");
    }
    return format;
}

} // namespace

QString LogDate() {
    return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

QString LogTime() {
    return QLocale::system().toString(QTime::currentTime(), TimeFormatWithSeconds());
}

QString StampedLine(const QString& text) {
    return LogDate() + QLatin1Char(' ') + LogTime() + text + QStringLiteral("\r\n");
}

void CreateEventLog() {
    QFile file(LogPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("Log.txt"));
    const QString header = QStringLiteral("Kestrova v-%1.%2 Log started %3: %4\r\n\r\n")
                               .arg(kVersionMajor)
                               .arg(kVersionMinor)
                               .arg(LogDate(), LogTime());
    const QByteArray bytes = header.toUtf8();
    if (file.write(bytes) != bytes.size())
        throw AppError(file.errorString(), static_cast<int>(file.error()),
                       QStringLiteral("Log.txt"));
}

void WriteLog(const QString& message) {
    if (App().DataFolder.isEmpty())
        return;
    QFile file(LogPath());
    const QByteArray line = StampedLine(QLatin1Char(' ') + message).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(line) != line.size()) {
        std::fprintf(stderr, "Kestrova: cannot write the event log %s: %s\n", qPrintable(LogPath()),
                     qPrintable(file.errorString()));
    }
}

} // namespace kestrova

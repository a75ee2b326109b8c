// The error that file and start-up operations raise to their caller. During start-up the one
// failure handler shows it; elsewhere the caller reports it.
#pragma once

#include <QString>

#include <stdexcept>

namespace kestrova {

class AppError : public std::runtime_error {
  public:
    AppError(const QString& description, int number, const QString& source)
        : std::runtime_error(description.toStdString()), description_(description), number_(number),
          source_(source) {}

    const QString& description() const { return description_; }
    int number() const { return number_; }
    const QString& source() const { return source_; }

  private:
    QString description_;
    int number_;
    QString source_;
};

} // namespace kestrova

#pragma once

#include <QWidget>

class QLabel;

namespace kestrova {

// frmSplash: the picture interface.jpg and the progress text lblLoading.
class SplashWindow : public QWidget {
    Q_OBJECT
  public:
    explicit SplashWindow(const QString& picture, QWidget* parent = nullptr);

  private:
    QLabel* Image1;
    QLabel* lblLoading;
};

} // namespace kestrova

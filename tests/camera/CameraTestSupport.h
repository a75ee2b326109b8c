// What the camera tests share: a fresh station state with the camera module initialised, and
// the virtual cameras of one test.
#pragma once

#include "camera/Camera.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QTcpServer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace kestrova::test {

class CameraTest : public ::testing::Test {
  protected:
    CameraTest();
    ~CameraTest() override;

    // The virtual cameras present from now on ("Name;Name|640x480;...").
    void useCameras(const QByteArray& list) { cameras_.set(list); }
    // Data folder, empty event log and the first-run settings (CameraIndex -1).
    QString prepareStartup();
    // The camera of the test, made at first use.
    CameraModule& camera();

    StationFixture station_;
    std::unique_ptr<CameraModule> camera_;
    ScopedEnv cameras_{"KESTROVA_VIRTUAL_CAMERAS", QByteArray()};
    ScopedEnv unattended_{"KESTROVA_UNATTENDED", QByteArray()};
};

// A JPEG decoded by Qt's own reader, independent of the station's codec.
QImage DecodeWithQt(const QByteArray& jpeg);

// The number of visible top-level windows of this object name, now.
int VisibleWindows(const QString& objectName);

// A stand-in for the service's directory on 127.0.0.1: it counts the look-ups it receives and
// hangs up on each at once, so that a look-up fails without waiting.
class DirectoryStandIn {
  public:
    DirectoryStandIn();
    bool listening() const { return server_.isListening(); }
    // Points the deployment.conf of a program folder (MakeProgramFolder) at this directory.
    void serve(const ProgramFolder& program) const;
    int lookups() const { return lookups_; }

  private:
    QTcpServer server_;
    int lookups_ = 0;
};

// Closes and deletes every top-level window the test left open.
void CloseTopLevelWindows();

} // namespace kestrova::test

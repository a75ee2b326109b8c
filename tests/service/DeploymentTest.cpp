// The deployment file and the camera identifier the station is known by.
#include "ServiceFixture.h"

#include "app/Station.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "settings/DataFolder.h"
#include "settings/Deployment.h"

#include <QDir>
#include <QFile>

using namespace kestrova;
using namespace kestrova::test;

namespace {

class DeploymentTest : public ServiceTest {
  protected:
    QString cameraIdFile() const { return dataFolder_ + QStringLiteral("/camera.id"); }
    void writeConfig(const QByteArray& text) { WriteFile(deploymentPath(), text); }
};

} // namespace

TEST_F(DeploymentTest, ReadsTheServiceValuesAndFallsBackToTheDefaults) {
    writeConfig("[service]\nMainHost=directory.example\nMainPort=8080\n"
                "SecondaryHost=pages.example:8081\nSupportEmail=help@example.test\n"
                "[station]\nCameraId=cam-42\n");
    Deployment d = ReadDeployment();
    EXPECT_EQ(d.MainHost, QStringLiteral("directory.example"));
    EXPECT_EQ(d.MainPort, 8080);
    EXPECT_EQ(d.SecondaryHost, QStringLiteral("pages.example:8081"));
    EXPECT_EQ(d.SupportEmail, QStringLiteral("help@example.test"));
    EXPECT_EQ(d.CameraId, QStringLiteral("cam-42"));

    for (const QByteArray& port : {QByteArray(""), QByteArray("http"), QByteArray("0"),
                                   QByteArray("65536"), QByteArray("-1")}) {
        writeConfig("[service]\nMainHost=h\nMainPort=" + port + "\n");
        EXPECT_EQ(ReadDeployment().MainPort, 80) << port.constData();
    }
    writeConfig("[service]\nMainHost=h\n");
    EXPECT_EQ(ReadDeployment().MainPort, 80);

    QFile::remove(deploymentPath());
    d = ReadDeployment();
    EXPECT_TRUE(d.MainHost.isEmpty());
    EXPECT_EQ(d.MainPort, 80);
    EXPECT_TRUE(d.CameraId.isEmpty());
}

TEST_F(DeploymentTest, TheFileLivesInTheProgramFolderUnlessTheEnvironmentNamesAnother) {
    const QString programFolder = fixture_.tempPath() + QStringLiteral("/program");
    QDir().mkpath(programFolder);
    WriteFile(programFolder + QStringLiteral("/deployment.conf"),
              "[service]\nMainHost=from-program\n");
    writeConfig("[service]\nMainHost=from-environment\n");
    fixture_.useProgramFolder(programFolder);

    EXPECT_EQ(ReadDeployment().MainHost, QStringLiteral("from-environment"));
    qunsetenv("KESTROVA_CONFIG");
    EXPECT_EQ(DeploymentFile(), programFolder + QStringLiteral("/deployment.conf"));
    EXPECT_EQ(ReadDeployment().MainHost, QStringLiteral("from-program"));
}

TEST_F(DeploymentTest, TheIdentifierComesFromTheFileThenFromCameraIdThenIsMadeOnce) {
    // First start without either: a fresh identifier, kept in camera.id.
    writeConfig("[station]\nCameraId=\n");
    ProvideCameraId();
    const QString fresh = App().CameraId.trimmed();
    EXPECT_EQ(fresh.size(), 16);
    EXPECT_TRUE(IsValidCameraId(fresh));
    EXPECT_EQ(QString::fromUtf8(ReadFile(cameraIdFile())).trimmed(), fresh);

    // The next start finds it again.
    App().CameraId.assign(QString());
    ProvideCameraId();
    EXPECT_EQ(App().CameraId.trimmed(), fresh);

    // Another station's file, written by hand.
    WriteFile(cameraIdFile(), "  kitchen-cam_2 \n");
    ProvideCameraId();
    EXPECT_EQ(App().CameraId.trimmed(), QStringLiteral("kitchen-cam_2"));

    // The deployment file's identifier comes first and leaves camera.id alone.
    writeConfig("[station]\nCameraId=deployed-1\n");
    ProvideCameraId();
    EXPECT_EQ(App().CameraId.trimmed(), QStringLiteral("deployed-1"));
    EXPECT_EQ(ReadFile(cameraIdFile()), QByteArray("  kitchen-cam_2 \n"));
}

TEST_F(DeploymentTest, OnlyLettersDigitsDashesAndUnderscoresUpToFiftyMakeAnIdentifier) {
    EXPECT_TRUE(IsValidCameraId(QStringLiteral("a")));
    EXPECT_TRUE(IsValidCameraId(QStringLiteral("Cam_01-x")));
    EXPECT_TRUE(IsValidCameraId(QString(50, QLatin1Char('z'))));
    EXPECT_FALSE(IsValidCameraId(QString(51, QLatin1Char('z'))));
    EXPECT_FALSE(IsValidCameraId(QString()));
    for (const char* bad :
         {"cam 1", "cam/1", "cam?x=1", "cam&path=x", "cam%20", "cam.1", "cam\r\nHost: x", "cam\t"})
        EXPECT_FALSE(IsValidCameraId(QString::fromLatin1(bad))) << bad;
    EXPECT_FALSE(IsValidCameraId(QStringLiteral("cam\u00e9")));
}

TEST_F(DeploymentTest, AnIdentifierThatMayNotBeSentIsRefusedWithALogLine) {
    struct Case {
        QByteArray config;
        QByteArray cameraIdFile;
        QString source;
    };
    const QList<Case> cases = {
        {"[station]\nCameraId=cam 1\n", {}, QStringLiteral("deployment.conf")},
        {"[station]\nCameraId=" + QByteArray(51, 'x') + "\n",
         {},
         QStringLiteral("deployment.conf")},
        {"[station]\nCameraId=cam,2\n", {}, QStringLiteral("deployment.conf")},
        {"[station]\nCameraId=\n", "cam\r\nX-Injected: yes\n", QStringLiteral("camera.id")},
    };
    for (const Case& c : cases) {
        writeConfig(c.config);
        QFile::remove(cameraIdFile());
        if (!c.cameraIdFile.isEmpty())
            WriteFile(cameraIdFile(), c.cameraIdFile);
        App().CameraId.assign(QStringLiteral("before"));
        try {
            ProvideCameraId();
            ADD_FAILURE() << "accepted: " << c.config.constData();
        } catch (const AppError& e) {
            EXPECT_EQ(e.source(), c.source);
            EXPECT_TRUE(e.description().startsWith(QStringLiteral("The camera identifier \"")))
                << e.description().toStdString();
            EXPECT_FALSE(e.description().contains(QLatin1Char('\r')));
            EXPECT_FALSE(e.description().contains(QLatin1Char('\n')));
            EXPECT_TRUE(log().contains(QStringLiteral("Launching Software: ") + e.description()));
        }
        EXPECT_EQ(App().CameraId.trimmed(), QStringLiteral("before"));
    }
}

TEST_F(DeploymentTest, ARefusedIdentifierIsQuotedAsWrittenEvenWithPercentSigns) {
    struct Case {
        QByteArray config;
        QByteArray cameraIdFile;
        QString quoted;
        QString source;
    };
    const QList<Case> cases = {
        {"[station]\nCameraId=ab%1cd\n",
         {},
         QStringLiteral("ab%1cd"),
         QStringLiteral("deployment.conf")},
        {"[station]\nCameraId=\n", "%3 %2%1\n", QStringLiteral("%3 %2%1"),
         QStringLiteral("camera.id")},
    };
    for (const Case& c : cases) {
        writeConfig(c.config);
        QFile::remove(cameraIdFile());
        if (!c.cameraIdFile.isEmpty())
            WriteFile(cameraIdFile(), c.cameraIdFile);
        const QString expected =
            QStringLiteral("The camera identifier \"") + c.quoted + QStringLiteral("\" in ") +
            c.source +
            QStringLiteral(" is refused: it may hold only letters, digits, \"-\" and \"_\", at "
                           "most 50 characters.");
        try {
            ProvideCameraId();
            ADD_FAILURE() << "accepted: " << c.quoted.toStdString();
        } catch (const AppError& e) {
            EXPECT_EQ(e.description(), expected);
            EXPECT_TRUE(log().contains(QStringLiteral("Launching Software: ") + expected))
                << log().join('\n').toStdString();
        }
    }
}

TEST_F(DeploymentTest, AStartWithARefusedIdentifierEndsWithTheFailureMessages) {
    // A program folder with what start-up reads before the identifier.
    const QString programFolder = fixture_.tempPath() + QStringLiteral("/program");
    QDir().mkpath(programFolder);
    WriteFile(programFolder + QStringLiteral("/kestrovaType.dat"), "1\r\n");
    fixture_.useProgramFolder(programFolder);
    writeConfig("[station]\nCameraId=bad id\n");

    Station station(QStringList{});
    EXPECT_FALSE(station.Load());

    ASSERT_EQ(fixture_.dialogsShown().size(), 2u);
    const dialogs::Request& failure = fixture_.dialogsShown()[0];
    EXPECT_EQ(failure.icon, dialogs::Icon::Critical);
    EXPECT_TRUE(failure.text.startsWith(
        QStringLiteral("Failed to get the camera identifier\r\nThe camera identifier \"bad id\" in "
                       "deployment.conf is refused")))
        << failure.text.toStdString();
    EXPECT_TRUE(failure.text.endsWith(QStringLiteral("Source = deployment.conf")));
    EXPECT_EQ(fixture_.dialogsShown()[1].text, QStringLiteral("Software will now shut down."));
    EXPECT_FALSE(
        log().filter(QStringLiteral("Launching Software: The camera identifier")).isEmpty());
    EXPECT_TRUE(log().filter(QStringLiteral("Retrieving Settings")).isEmpty())
        << "start-up stops before the settings";
}

// The channel to the posting helper: what each answer does to the flags, and helpers that
// answer in pieces, refuse, say nothing or go after "shutdown".
#include "support/FakeHelper.h"

#include "core/AppState.h"
#include "core/EventLog.h"
#include "posting/ChannelAnswer.h"
#include "posting/Posting.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <optional>

using namespace kestrova;

namespace {

TEST(ChannelAnswer, EachPhraseSetsItsFlagInTheOrderOfTheTests) {
    const std::optional<bool> on = true, off = false, none;
    struct Case {
        const char* piece;
        std::optional<bool> posting, check, polling, reflector;
        bool answered;
    };
    const Case cases[] = {
        {"Posting; Start OK", on, none, none, none, true},
        {"Posting; Stop OK", off, none, none, none, true},
        {"Posting; Check OK", none, on, none, none, true},
        {"Posting; Check FAIL", none, off, none, none, true},
        {"Posting; Start OK, then Stop OK", off, none, none, none, true},
        {"Posting; Check OK Check FAIL", none, off, none, none, true},
        {"Posting;", none, none, none, none, true},
        {"Polling; Start OK", none, none, on, none, true},
        {"Reflector; Stop OK", none, none, none, off, true},
        {"Reflector; Start OK Polling;", none, none, on, on, true},
        {"Settings; sent", none, none, none, none, true},
        {"Settings written successfully.", none, none, none, none, true},
        {"Failed to synchronise settings.", none, none, none, none, true},
        {"Dump OK", none, none, none, none, true},
        {"Shutdown;", none, none, none, none, true},
        {"Start OK", none, none, none, none, false},
        {"posting; start ok", none, none, none, none, false},
        {"Error: unknown request", none, none, none, none, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.piece);
        const ChannelAnswer a = ReadChannelAnswer(c.piece);
        EXPECT_EQ(a.postingActive, c.posting);
        EXPECT_EQ(a.postingCheckOK, c.check);
        EXPECT_EQ(a.pollingActive, c.polling);
        EXPECT_EQ(a.reflectorRunning, c.reflector);
        EXPECT_EQ(a.answered, c.answered);
    }
}

class ChannelTest : public ::testing::Test {
  protected:
    ChannelTest() {
        folder_ = fixture_.useDataFolder();
        CreateEventLog();
    }
    bool logHas(const QString& line) const { return test::LogMessages(folder_).contains(line); }

    test::StationFixture fixture_;
    QString folder_;
};

TEST_F(ChannelTest, SendsTheLineThenTheParametersAndReadsTheAnswerPieceByPiece) {
    test::FakeHelper helper([](const QByteArray& request) -> QList<QByteArray> {
        if (request.startsWith("begin_posting"))
            return {"Posting; Sta", "rt OK"}; // the phrase is split: only "Posting;" is seen
        return {"Polling;", " Stop OK"};
    });
    PostingClient client(helper.port());

    client.SendJavaRequest(QStringLiteral("begin_posting"), QStringLiteral("a&b&&c"));
    EXPECT_EQ(App().RequestAnswered, kTrue);
    EXPECT_EQ(App().PostingActive, kFalse);

    App().PollingActive = kTrue;
    client.SendJavaRequest(QStringLiteral("stop_polling"), QString());
    EXPECT_EQ(App().RequestAnswered, kTrue);
    test::WaitFor([] { return false; }, 100); // the answer's second piece
    EXPECT_EQ(App().PollingActive, kTrue) << "each piece is read on its own";
    EXPECT_EQ(helper.requests(), (QList<QByteArray>{"begin_posting\na&b&&c", "stop_polling"}));
}

TEST_F(ChannelTest, AHelperThatIsNotThereSilentOrClosingEndsTheRequestWithItsLogLine) {
    const test::RefusingPort refusing;
    PostingClient client(refusing.port());
    App().PostingActive = kTrue;
    client.SendJavaRequest(QStringLiteral("check_posting"), QString());
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Connection refused")));
    EXPECT_FALSE(logHas(QStringLiteral("Connection failed: Time out")));
    const QStringList log = test::LogMessages(folder_);
    EXPECT_FALSE(log.filter(QStringLiteral(" Network Error:Connection refused")).isEmpty());
    EXPECT_TRUE(App().LastErrorText.contains(QStringLiteral(" Network Error:")));
    EXPECT_EQ(App().PostingActive, kTrue) << "no flag changes";
    EXPECT_EQ(App().RequestAnswered, kFalse);

    test::FakeHelper silent([](const QByteArray&) { return QList<QByteArray>(); });
    PostingClient waiting(silent.port());
    waiting.setTimeouts(ChannelTimeouts{2000, 300});
    QElapsedTimer clock;
    clock.start();
    waiting.SendJavaRequest(QStringLiteral("check_posting"), QString());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(App().RequestAnswered, kFalse);
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: No answer to check_posting")));

    test::FakeHelper closing([](const QByteArray&) { return QList<QByteArray>{""}; });
    PostingClient(closing.port()).SendJavaRequest(QStringLiteral("check_posting"), QString());
    EXPECT_TRUE(logHas(QStringLiteral("Connection failed: Connection closed before the answer")));
}

TEST_F(ChannelTest, OnlyTheCloseAfterShutdownEndsTheHelpersRun) {
    test::FakeHelper helper([](const QByteArray& request) -> QList<QByteArray> {
        if (request == "shutdown")
            return {"Shutdown;"};
        return {"Dump OK"};
    });
    PostingClient client(helper.port());
    App().PostingServerRunning = kTrue;

    client.SendJavaRequest(QStringLiteral("thread_dump"), QString());
    ASSERT_TRUE(test::WaitFor([&] { return helper.requests().size() == 1; }, 5000));
    test::WaitFor([] { return false; }, 100); // the helper's close after its answer
    EXPECT_EQ(App().PostingServerRunning, kTrue);

    App().ShutdownRequested = kTrue;
    App().AbortRequested = kTrue; // the station is closing: "shutdown" still goes out
    client.SendJavaRequest(QStringLiteral("shutdown"), QString(), OnClose::KeepWaiting);
    EXPECT_EQ(App().RequestAnswered, kTrue);
    EXPECT_TRUE(test::WaitFor([] { return App().PostingServerRunning == kFalse; }, 5000));
    EXPECT_EQ(helper.requestWords(), (QList<QByteArray>{"thread_dump", "shutdown"}));
}

} // namespace

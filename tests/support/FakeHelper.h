// A posting helper that runs in the test's own event loop on 127.0.0.1: it reads each request
// (its line, and the parameter line of the requests that carry one), records it, and answers
// with the pieces the test's handler gives, one after another, then closes the connection.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <functional>

namespace kestrova::test {

class FakeHelper : public QObject {
    Q_OBJECT
  public:
    // The pieces to answer a request with ("check_posting", "begin_posting\r\nDATA", ...);
    // none: the helper says nothing and keeps the connection.
    using Handler = std::function<QList<QByteArray>(const QByteArray& request)>;

    explicit FakeHelper(Handler handler);
    quint16 port() const { return server_.serverPort(); }
    // The requests, each as its line and parameter line without their CR LF, joined by "\n".
    const QList<QByteArray>& requests() const { return requests_; }
    QList<QByteArray> requestWords() const;

    // Whether the connection is closed after the answer, as the real helper does.
    bool closeAfterAnswer = true;

  private:
    Handler handler_;
    QTcpServer server_;
    QList<QByteArray> requests_;
};

} // namespace kestrova::test

#pragma once

// One connection of the transport, from its first byte to its close: reading requests under
// the limits, handing each to the relay (on its network thread or a worker), writing answers,
// holding a request that waits for an event, streaming a live body.

#include "transport/AddressLimit.h"
#include "transport/Beast.h"
#include "transport/RequestReader.h"
#include "transport/Server.h"

#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace reflector::transport {

// One accepted connection, from its first byte to its close. Everything it does runs on its
// strand.
class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(Server& server, tcp::socket socket, std::string address, AddressLimit::Slot slot,
            bool refusing)
        : server_(server), socket_(std::move(socket)), timer_(socket_.get_executor()),
          address_(std::move(address)), slot_(std::move(slot)), refusing_(refusing),
          buffer_(server.config.maxHeaderBytes + 65536) {
        request_.clientAddress = address_;
        ++(refusing_ ? server_.refusing : server_.connections);
    }
    ~Session() {
        if (listed_) {
            std::lock_guard lock(server_.sessionsMutex);
            server_.sessions.erase(place_);
        }
        --(refusing_ ? server_.refusing : server_.connections);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Its place in the server's list of open connections.
    void setPlace(std::list<std::weak_ptr<Session>>::iterator place) {
        place_ = place;
        listed_ = true;
    }
    // Runs `function` on the connection's strand.
    template <class Function> void post(Function function) {
        net::post(socket_.get_executor(), std::move(function));
    }

    void start();
    void refuse(const HttpAnswer& answer);
    void onStop();

  private:
    enum class Phase {
        Idle,
        Header,
        Body,
        Handling,
        Writing,
        Waiting,
        Streaming,
        Draining,
        Closed
    };

    const TransportConfig& config() const { return server_.config; }
    Clock::time_point expiry() const;
    void arm();
    void onTimer();
    void readMore();
    void onRead(const error_code& ec, std::size_t n);
    bool parse();
    bool checkHeader();
    void refuseRequest(int status, const std::string& reason);
    void dispatch();
    void dropBody();
    void logHandled(const HttpRequest& request, const HttpAnswer& answer);
    void deliver(HttpAnswer answer);
    void send(HttpAnswer answer);
    void write();
    void written();
    void nextRequest();
    void finish();
    void startWaiting(std::shared_ptr<PendingAnswer> pending);
    void pollPending(bool last);
    void startStream(HttpAnswer answer);
    void streamNext();
    void endStream();
    void onWake();
    Wake wakeFunction();
    void close();
    void logAnswer(int status, std::size_t bytes) {
        server_.log(address_, method_.empty() ? "-" : method_, path_.empty() ? "-" : path_, status,
                    bytes);
    }

    Server& server_;
    tcp::socket socket_;
    net::steady_timer timer_;
    std::string address_;
    AddressLimit::Slot slot_;
    bool refusing_;
    std::list<std::weak_ptr<Session>>::iterator place_;
    bool listed_ = false;

    Phase phase_ = Phase::Idle;
    Clock::time_point phaseEnd_ = kNever; // the current phase's hard limit
    std::chrono::milliseconds idle_{0};   // most silence in the current phase
    Clock::time_point lastProgress_{};
    Clock::time_point armedAt_ = kNever;
    Clock::time_point recheckAt_ = kNever;
    Clock::time_point requestStart_{};
    bool reading_ = false; // a read into buffer_ is under way
    bool closed_ = false;

    // The request being read, then answered: read into request_, which keeps its strings'
    // room for the next request.
    beast::flat_buffer buffer_;
    HttpRequest request_;
    std::optional<RequestParser> parser_;
    bool headerChecked_ = false;
    std::size_t requests_ = 0;
    std::string method_;
    std::string path_;
    bool headOnly_ = false;
    bool keepAlive_ = false;
    bool http10_ = false;

    // The answer being written.
    HttpAnswer answer_;
    std::string head_;
    std::vector<AnswerStream::Piece> pieces_;
    std::vector<net::const_buffer> out_;
    bool writing_ = false;
    bool closeAfter_ = false;
    bool drainAfter_ = false;
    std::size_t drainLimit_ = 0;
    std::size_t drained_ = 0;

    // A held request, a live stream.
    std::shared_ptr<PendingAnswer> pending_;
    std::shared_ptr<AnswerStream> stream_;
    bool streamStarted_ = false;
    bool streamEnding_ = false;
    std::size_t streamed_ = 0;
};

} // namespace reflector::transport

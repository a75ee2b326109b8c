// The nginx configuration of docs/deployment.md, run as it is written there (only its ports,
// paths and certificate replaced): nginx with TLS and caching in front of the relay, and 100
// viewers polling two cameras through it, while their stations upload.

#include "RelaySupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace reflector {
namespace {

using namespace test;
using namespace std::chrono_literals;
namespace net = boost::asio;
namespace ssl = net::ssl;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;

constexpr const char* kNginx = "/usr/sbin/nginx";
constexpr const char* kOpenssl = "/usr/bin/openssl";

// Runs a program to its end; its exit status, or -1.
int runProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readText(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
}

// The configuration block that follows the marker in docs/deployment.md.
std::string documentedConfiguration() {
    const std::string doc = readText(KESTROVA_DOCS_DIR "/deployment.md");
    const std::size_t marker = doc.find("<!-- nginx-relay.conf -->");
    const std::size_t start = doc.find("```\n", marker);
    const std::size_t end = doc.find("```\n", start + 4);
    if (marker == std::string::npos || start == std::string::npos || end == std::string::npos) {
        return {};
    }
    return doc.substr(start + 4, end - start - 4);
}

int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// nginx as a child process, stopped by the destructor.
class Nginx {
  public:
    Nginx(const std::filesystem::path& prefix, const std::filesystem::path& config) {
        std::vector<std::string> args{kNginx,
                                      "-p",
                                      prefix.string(),
                                      "-c",
                                      config.string(),
                                      "-e",
                                      (prefix / "error.log").string()};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, kNginx, nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
    }
    ~Nginx() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_ = 0;
};

// A viewer polling through nginx on one kept TLS connection.
class TlsViewer {
  public:
    TlsViewer(net::io_context& io, ssl::context& tls, int port) : stream_(io, tls) {
        SSL_set_tlsext_host_name(stream_.native_handle(), "relay.example.org");
        stream_.set_verify_callback(ssl::host_name_verification("relay.example.org"));
        tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"),
                               static_cast<unsigned short>(port));
        stream_.next_layer().connect(endpoint);
        const timeval guard{10, 0};
        ::setsockopt(stream_.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &guard,
                     sizeof guard);
        stream_.handshake(ssl::stream_base::client);
    }
    http::response<http::string_body> get(const std::string& target) {
        http::request<http::empty_body> request(http::verb::get, target, 11);
        request.set(http::field::host, "relay.example.org");
        http::write(stream_, request);
        http::response<http::string_body> answer;
        http::read(stream_, buffer_, answer);
        return answer;
    }

  private:
    ssl::stream<tcp::socket> stream_;
    boost::beast::flat_buffer buffer_;
};

TEST(Nginx, WithTlsAndCachingPollingViewersCostTheRelayOneRequestPerCameraPerSecond) {
    if (::access(kNginx, X_OK) != 0 || ::access(kOpenssl, X_OK) != 0) {
        GTEST_SKIP() << "nginx and openssl are not installed (scripts/install-deps.sh)";
    }
    TempDir dir;
    const std::filesystem::path cert = dir.path() / "cert.pem";
    const std::filesystem::path key = dir.path() / "key.pem";
    ASSERT_EQ(
        runProgram({kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                    "/CN=relay.example.org", "-addext", "subjectAltName=DNS:relay.example.org",
                    "-keyout", key.string(), "-out", cert.string()}),
        0);

    // The relay, counting the requests for the latest frame that reach it.
    std::atomic<int> liveRequests{0};
    RelayConfig relayConfig;
    relayConfig.dataDir = dir.path() / "relay";
    relayConfig.transport.maxConnectionsPerAddress =
        0; // behind the proxy every client has its address
    relayConfig.requestLog = [&](const std::string& line) {
        if (line.find(" GET /webcams/live ") != std::string::npos) {
            ++liveRequests;
        }
    };
    RunningRelay relay(relayConfig);
    for (const char* camera : {"cam1", "cam2"}) {
        ASSERT_EQ(registerCamera(relay.port(), camera).status, 200);
        ASSERT_EQ(upload(relay.port(), camera, fakeJpeg(16000, 1)).body, "Reflector: true");
    }

    std::string site = documentedConfiguration();
    ASSERT_NE(site.find("proxy_cache"), std::string::npos) << "no configuration in the docs";
    const int port = freePort();
    replaceAll(site, "listen 443 ssl", "listen 127.0.0.1:" + std::to_string(port) + " ssl");
    replaceAll(site, "127.0.0.1:8080", "127.0.0.1:" + std::to_string(relay.port()));
    replaceAll(site, "/var/cache/nginx/kestrova", (dir.path() / "cache").string());
    replaceAll(site, "/etc/letsencrypt/live/relay.example.org/fullchain.pem", cert.string());
    replaceAll(site, "/etc/letsencrypt/live/relay.example.org/privkey.pem", key.string());
    const std::string d = dir.path().string();
    std::ofstream(dir.path() / "nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\n"
        << "events { worker_connections 1024; }\nhttp {\naccess_log off;\n"
        << "client_body_temp_path " << d << "/t1;\nproxy_temp_path " << d << "/t2;\n"
        << "fastcgi_temp_path " << d << "/t3;\nuwsgi_temp_path " << d << "/t4;\n"
        << "scgi_temp_path " << d << "/t5;\n"
        << site << "}\n";
    Nginx nginx(dir.path(), dir.path() / "nginx.conf");

    net::io_context io;
    ssl::context tls(ssl::context::tls_client);
    tls.set_verify_mode(ssl::verify_peer);
    tls.load_verify_file(cert.string());
    ASSERT_TRUE(eventually([&] {
        try {
            TlsViewer probe(io, tls, port);
            return probe.get("/webcams/live?id=cam1").result_int() == 200;
        } catch (const std::exception&) {
            return false;
        }
    })) << readText(dir.path() / "error.log");

    // The stations upload a new frame twice a second while 100 viewers poll once a second.
    std::atomic<bool> viewing{true};
    std::thread stations([&] {
        for (unsigned n = 2; viewing; ++n) {
            for (const char* camera : {"cam1", "cam2"}) {
                upload(relay.port(), camera, fakeJpeg(16000, n));
            }
            std::this_thread::sleep_for(500ms); // the stations' own pace
        }
    });
    liveRequests = 0;
    const auto began = std::chrono::steady_clock::now();
    constexpr int kRounds = 4;
    std::atomic<int> served{0};
    std::vector<std::thread> groups;
    for (int g = 0; g < 4; ++g) {
        groups.emplace_back([&, g] {
            std::vector<std::unique_ptr<TlsViewer>> viewers;
            for (int v = 0; v < 25; ++v) {
                viewers.push_back(std::make_unique<TlsViewer>(io, tls, port));
            }
            for (int round = 0; round < kRounds; ++round) {
                const auto roundStart = began + std::chrono::seconds(round);
                std::this_thread::sleep_until(roundStart); // each viewer's once a second
                for (int v = 0; v < 25; ++v) {
                    const std::string camera = (g * 25 + v) % 2 == 0 ? "cam1" : "cam2";
                    const auto answer = viewers[static_cast<std::size_t>(v)]->get(
                        "/webcams/live?id=" + camera + "&t=" + std::to_string(g * 1000 + v));
                    if (answer.result_int() == 200 && answer.body().size() == 16000) {
                        ++served;
                    }
                }
            }
        });
    }
    for (std::thread& t : groups) {
        t.join();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    viewing = false;
    stations.join();
    EXPECT_TRUE(nginx.running());
    EXPECT_EQ(served, 100 * kRounds) << "every viewer got a frame every time";

    EXPECT_GT(liveRequests, 0);
    EXPECT_LE(liveRequests, 2 * (static_cast<int>(seconds) + 2))
        << "two cameras over " << seconds << " s: at most one request each per second";
}

} // namespace
} // namespace reflector

#include "LoadPieces.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <jpeglib.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace benchload {

std::string makeJpeg(unsigned seed, int width, int height) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 75, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::mt19937 random(seed);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random() % 24);
            row[x * 3] = static_cast<unsigned char>((x + seed * 7) % 200 + noise);
            row[x * 3 + 1] = static_cast<unsigned char>((y * 2 + x / 3) % 180 + noise);
            row[x * 3 + 2] = static_cast<unsigned char>(((x ^ y) + seed) % 160 + noise);
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    std::string jpeg(reinterpret_cast<char*>(out), size);
    std::free(out);
    jpeg_destroy_compress(&c);
    return jpeg;
}

int connectTo(int port, const std::string& from, bool blocking) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
         errno != EINPROGRESS)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

std::string exchange(int port, const std::string& request, const std::string& from) {
    const int fd = connectTo(port, from);
    if (fd < 0) {
        return {};
    }
    const timeval guard{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &guard, sizeof guard);
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[8192];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

int statusOf(const std::string& answer) {
    return answer.rfind("HTTP/1.", 0) == 0 && answer.size() > 12 ? std::atoi(answer.c_str() + 9)
                                                                 : 0;
}

std::string stationGet(const std::string& uri, const std::string& key) {
    return "GET " + uri + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Close\r\n" +
           "Authorization: Bearer " + key + "\r\n\r\n";
}

std::string uploadRequest(const std::string& id, const std::string& frame, const std::string& key) {
    const std::string b = "Bx7Kq2Lm9Np4Rs6Tu8Vw1Xy3Za5Cd0Ef";
    const std::string body =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"id\"\r\n\r\n" + id + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"path\"\r\n\r\nwebcams\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"frame\"; filename=\"Ab3dEf7h.jpg\"\r\n"
        "Content-Type: image/jpeg\r\n\r\n" +
        frame + "\r\n--" + b + "--\r\n";
    return "POST /webcams/Reflector HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + b +
           "\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: Close\r\nCache-Control: no-cache\r\nAuthorization: Bearer " + key +
           "\r\n\r\n" + body;
}

} // namespace benchload

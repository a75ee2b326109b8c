#include "TestFiles.h"

#include <random>
#include <stdexcept>
#include <stdlib.h>

namespace reflector::test {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "reflector-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string fakeJpeg(std::size_t size, unsigned seed) {
    if (size < 8) {
        throw std::invalid_argument("too small for a fake JPEG");
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(byte(random));
    }
    bytes[0] = '\xFF';
    bytes[1] = '\xD8';
    bytes.replace(size / 2, 4, "\r\n--");
    bytes[size - 2] = '\xFF';
    bytes[size - 1] = '\xD9';
    return bytes;
}

} // namespace reflector::test

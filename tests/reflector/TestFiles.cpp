#include "TestFiles.h"

#include <random>
#include <stdexcept>

namespace reflector::test {

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

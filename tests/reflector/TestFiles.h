#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace reflector::test {

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Bytes shaped like a JPEG stream (start and end markers) with pseudo-random content between,
// including CR LF and "--" sequences that a careless multipart reader would trip over.
std::string fakeJpeg(std::size_t size, unsigned seed);

} // namespace reflector::test

// A temporary folder for tests that need no Qt: the relay's and the posting helper's.
#pragma once

#include <filesystem>

namespace kestrova::test {

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

} // namespace kestrova::test

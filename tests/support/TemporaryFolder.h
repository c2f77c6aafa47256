#pragma once
// A fresh folder under $TMPDIR (or /tmp) for one test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <string>

class TemporaryFolder {
  public:
    TemporaryFolder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tilvex-test-XXXXXX";
        if (char* made = ::mkdtemp(pattern.data()))
            path_ = made;
    }
    ~TemporaryFolder() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

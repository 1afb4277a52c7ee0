#pragma once
// A new directory of the test's own under the system's temporary one, open to this user only, removed with
// all it holds when the test ends.

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

namespace velmora::testing {

class CScratchDir {
  public:
    // A random name: another build directory may run the same test at the same time.
    explicit CScratchDir(const std::string& prefix) {
        namespace fs = std::filesystem;
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const fs::path candidate = fs::temp_directory_path() / (prefix + "-" + std::to_string(random()));
            std::error_code taken;
            if (fs::create_directory(candidate, taken)) {
                path_ = candidate;
            }
        }
        if (path_.empty()) {
            throw std::runtime_error("no scratch directory for " + prefix);
        }
        fs::permissions(path_, fs::perms::owner_all);
    }
    ~CScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace velmora::testing

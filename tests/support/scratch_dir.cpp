#include "scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace fixtures {

ScratchDir::ScratchDir() {
    const std::string pattern =
        (std::filesystem::temp_directory_path() / "ringtrace-test-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        throw std::runtime_error("cannot create a scratch directory from " + pattern);
    }
    path_ = name.data();
}

ScratchDir::~ScratchDir() {
    std::error_code ec;  // a failed clean-up must not turn into a test failure
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
}

}  // namespace fixtures

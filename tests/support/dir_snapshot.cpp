#include "dir_snapshot.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fixtures {

DirSnapshot snapshotDir(const std::string& dir) {
    DirSnapshot files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory()) {
            files[name] = "<dir>";
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        files[name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

}  // namespace fixtures

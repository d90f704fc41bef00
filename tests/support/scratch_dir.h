#pragma once

#include <string>

namespace fixtures {

// A fresh, uniquely named directory under the system temp directory, removed with
// everything in it when the object goes away. Throws std::runtime_error when the
// directory cannot be created.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // path()/name
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

}  // namespace fixtures

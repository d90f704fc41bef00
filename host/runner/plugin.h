#pragma once

#include <string>

#include "hv/hv.h"

namespace hvhost {

// A loaded extension. Loading runs its static initialisation; destroying
// the object unloads it.
class Plugin {
  public:
    // Throws std::runtime_error when the library cannot be loaded or does not
    // export plxFunction.
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    hvExtensionEntry entry() const { return entry_; }

  private:
    void* handle_;
    hvExtensionEntry entry_;
};

}  // namespace hvhost

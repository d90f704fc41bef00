#pragma once

#include <string>

#include "hv/hv.h"

namespace hvhost {

// The file of the plug-in PLUGIN names: PLUGIN itself when it holds a '/',
// otherwise the first of <program dir>/../lib/ringtrace/PLUGIN.so (an installed
// system, /usr/lib/ringtrace) and <program dir>/../lib/PLUGIN.so (the build
// tree) that exists, where <program dir> is the folder of the running program.
// A name found in neither comes back unchanged, so loading it fails with the
// loader's own message.
std::string locatePlugin(const std::string& plugin);

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

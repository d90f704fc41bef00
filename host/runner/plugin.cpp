#include "plugin.h"

#include <dlfcn.h>

#include <stdexcept>

namespace hvhost {

Plugin::Plugin(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    entry_ = reinterpret_cast<hvExtensionEntry>(dlsym(handle_, "plxFunction"));
    if (entry_ == nullptr) {
        dlclose(handle_);
        throw std::runtime_error(path + ": does not export plxFunction");
    }
}

Plugin::~Plugin() { dlclose(handle_); }

}  // namespace hvhost

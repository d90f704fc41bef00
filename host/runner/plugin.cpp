#include "plugin.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace hvhost {

std::string locatePlugin(const std::string& plugin) {
    if (plugin.empty() || plugin.find('/') != std::string::npos) return plugin;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return plugin;
    const std::filesystem::path lib = program.parent_path().parent_path() / "lib";
    for (const std::filesystem::path& candidate :
         {lib / "ringtrace" / (plugin + ".so"), lib / (plugin + ".so")}) {
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
    }
    return plugin;
}

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

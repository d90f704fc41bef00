#include "kernellocator/kernel_locator.h"

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>

namespace {

constexpr const char* kDefaultLibrary = "libmediankernels.so";

std::string directoryOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void* openLibrary(const void* client, std::string& error) {
    if (const char* chosen = std::getenv("HV_KERNEL_LIBRARY"); chosen && *chosen) {
        void* handle = dlopen(chosen, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) error = dlerror();
        return handle;
    }
    // Beside the client first, then beside the locator's own library: the
    // ordinary search path alone may not see either directory.
    const void* self = reinterpret_cast<const void*>(&directoryOf);
    for (const void* module : {client, self}) {
        const std::string dir = directoryOf(module);
        if (dir.empty()) continue;
        if (void* handle = dlopen((dir + kDefaultLibrary).c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return handle;
        }
    }
    void* handle = dlopen(kDefaultLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) error = dlerror();
    return handle;
}

}  // namespace

// Not inlined, so that the return address is in the module that builds the locator.
__attribute__((noinline)) KernelLocator::KernelLocator(client_tag tag) : tag_(tag) {
    library_ = openLibrary(__builtin_return_address(0), loadError_);
    if (const char* trace = std::getenv("HV_KERNEL_LOCATOR_TRACE")) tracePath_ = trace;
}

void* KernelLocator::getMethodPointer(const char* name) {
    if (name == nullptr) return nullptr;
    if (!tracePath_.empty()) std::ofstream(tracePath_, std::ios::app) << name << '\n';
    if (!isLibraryOpen()) return nullptr;
    return dlsym(library_, name);
}

bool KernelLocator::isLibraryOpen() const { return library_ != nullptr; }

KernelLocator::~KernelLocator() {
    if (library_ != nullptr) dlclose(library_);
}

#pragma once

#include <cstdint>
#include <string>

#include "hv/visibility.h"

// Which client asks for kernels; 0 is the ordinary extension client.
enum client_tag : std::int32_t { default_client = 0 };

// Finds compute kernels by their published names in the kernel library.
//
// The library is the one named by the environment variable
// HV_KERNEL_LIBRARY when it is set, otherwise libmediankernels.so beside
// the module that built the locator, then beside this library, then on the
// ordinary library search path. Setting HV_KERNEL_LOCATOR_TRACE to a file
// name appends every name asked for, one per line, for diagnosis.
class HV_API KernelLocator {
  public:
    explicit KernelLocator(client_tag tag);
    KernelLocator(const KernelLocator&) = delete;
    KernelLocator& operator=(const KernelLocator&) = delete;

    // Entry address of the named kernel, or null when it cannot be found.
    void* getMethodPointer(const char* name);

    // Why the kernel library could not be opened; empty when it was.
    const std::string& loadError() const { return loadError_; }

  protected:
    // Whether a kernel library is open.
    virtual bool isLibraryOpen() const;

  public:
    virtual ~KernelLocator();

  private:
    client_tag tag_;
    void* library_ = nullptr;
    std::string loadError_;
    std::string tracePath_;
};

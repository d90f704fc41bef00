#pragma once

// The host's side of the array interface: creating inputs, running an
// extension call and owning what it produced.

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "hv/hv.h"

namespace hv {

// A raised host error, as it arrives back at the host.
class HV_API Error : public std::runtime_error {
  public:
    Error(std::string identifier, const std::string& message);
    ~Error() override;
    const std::string& identifier() const { return identifier_; }

  private:
    std::string identifier_;
};

struct HV_API ArrayDeleter {
    void operator()(hvArray* array) const;
};
using ArrayPtr = std::unique_ptr<hvArray, ArrayDeleter>;

// Creates an array owned by the caller, outside any extension call.
HV_API ArrayPtr createArray(hvClassID classID, std::span<const std::uint64_t> dims,
                            hvComplexity complexity = hvReal);

// What an extension call created, in order of creation.
struct CreatedArray {
    hvClassID classID;
    std::vector<std::uint64_t> dims;
};

// Calls an extension the way the host does. Arrays the extension creates
// belong to the call: if the call raises an error they are all freed and the
// error is rethrown; if it returns, the host takes over output slot 0 (which
// always exists, even when outputCount is 0) and the other slots that hold
// arrays of this call, and frees the rest. `created`, when given, receives
// every array the call created, whether it succeeds or not.
HV_API std::vector<ArrayPtr> callExtension(hvExtensionEntry entry, std::int32_t outputCount,
                                           std::span<const hvArray* const> inputs,
                                           std::vector<CreatedArray>* created = nullptr);

}  // namespace hv

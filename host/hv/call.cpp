#include <algorithm>
#include <vector>

#include "array_factory.h"
#include "hv/host.h"

namespace hv {
namespace {

// The arrays created by one running extension call. Whatever the host has
// not taken over when the scope ends is freed.
class CallScope {
  public:
    CallScope() : outer_(current) { current = this; }
    ~CallScope() {
        current = outer_;
        for (hvArray* array : owned_) detail::ArrayFactory::destroy(array);
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    void adopt(hvArray* array) {
        owned_.push_back(array);
        const std::uint64_t* dims = array->get_dimensions();
        created_.push_back({array->getClassID(), {dims, dims + array->getNumberOfDimensions()}});
    }

    // Removes `array` from the call's ownership; false if the call did not create it.
    bool release(hvArray* array) {
        auto it = std::find(owned_.begin(), owned_.end(), array);
        if (array == nullptr || it == owned_.end()) return false;
        owned_.erase(it);
        return true;
    }

    const std::vector<CreatedArray>& created() const { return created_; }

    static CallScope* running() { return current; }

  private:
    // The call running on this thread; calls may nest when a host call reenters.
    static thread_local CallScope* current;
    CallScope* outer_;
    std::vector<hvArray*> owned_;
    std::vector<CreatedArray> created_;
};

thread_local CallScope* CallScope::current = nullptr;

}  // namespace

namespace detail {
void adoptIntoCurrentCall(hvArray* array) {
    if (CallScope* scope = CallScope::running()) scope->adopt(array);
}
}  // namespace detail

Error::Error(std::string identifier, const std::string& message)
    : std::runtime_error(message), identifier_(std::move(identifier)) {}

Error::~Error() = default;

void ArrayDeleter::operator()(hvArray* array) const { detail::ArrayFactory::destroy(array); }

ArrayPtr createArray(hvClassID classID, std::span<const std::uint64_t> dims,
                     hvComplexity complexity) {
    return ArrayPtr(detail::ArrayFactory::make(dims.size(), dims.data(), classID, complexity));
}

std::vector<ArrayPtr> callExtension(hvExtensionEntry entry, std::int32_t outputCount,
                                    std::span<const hvArray* const> inputs,
                                    std::vector<CreatedArray>* created) {
    CallScope scope;
    std::vector<hvArray*> slots(static_cast<std::size_t>(std::max(outputCount, 1)), nullptr);
    std::vector<const hvArray*> in(inputs.begin(), inputs.end());
    try {
        entry(outputCount, slots.data(), static_cast<std::int32_t>(in.size()), in.data());
    } catch (...) {
        if (created) *created = scope.created();
        throw;
    }
    if (created) *created = scope.created();
    std::vector<ArrayPtr> outputs;
    for (hvArray* slot : slots) outputs.emplace_back(scope.release(slot) ? slot : nullptr);
    return outputs;
}

}  // namespace hv

void hvErrMsgId(const pictura::MessageId& id) { throw hv::Error(id.identifier(), id.message()); }

#pragma once

// Test helpers that play the host around plxFunction.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hv/host.h"

namespace rankwin_test {

template <typename T>
hv::ArrayPtr makeArray(hvClassID classID, std::uint64_t rows, std::uint64_t columns,
                       const std::vector<T>& values) {
    const std::uint64_t dims[2] = {rows, columns};
    hv::ArrayPtr array = hv::createArray(classID, dims);
    if (!values.empty()) std::memcpy(array->getData(), values.data(), values.size() * sizeof(T));
    return array;
}

inline hv::ArrayPtr makeImage(hvClassID classID, std::uint64_t rows, std::uint64_t columns) {
    const std::uint64_t dims[2] = {rows, columns};
    hv::ArrayPtr array = hv::createArray(classID, dims);
    auto* bytes = static_cast<unsigned char*>(array->getData());
    for (std::uint64_t b = 0; b < rows * columns * array->getElementSize(); ++b) bytes[b] = 1;
    return array;
}

inline hv::ArrayPtr makeWindow(double m, double n) {
    return makeArray<double>(hv::classid::kDouble, 1, 2, {m, n});
}

struct CallResult {
    std::vector<hv::ArrayPtr> outputs;
    std::vector<hv::CreatedArray> created;
    std::string error;  // identifier of the raised host error, empty if none
    std::string message;
};

inline CallResult callPlugin(hvExtensionEntry entry, std::vector<const hvArray*> inputs,
                             std::int32_t outputCount = 1) {
    CallResult result;
    try {
        result.outputs = hv::callExtension(entry, outputCount, inputs, &result.created);
    } catch (const hv::Error& error) {
        result.error = error.identifier();
        result.message = error.what();
    }
    return result;
}

}  // namespace rankwin_test

// The extension's entry point and its one median filter.

#include <cstdint>

#include "arguments.h"
#include "hv/hv.h"
#include "median_filter.h"
#include "pictura/rankwin_ids.h"

namespace rankwin {
// Built when the host loads the library, so the kernels are resolved once
// per load, before the first call; destroyed when the host unloads it.
MedianFilter medianFilter;
}  // namespace rankwin

// Input 0: a real two-dimensional array of single, uint8, int16 or uint16.
// Input 1: the window [m n] as doubles. Output slot 0: the median of every
// m x n block that lies wholly inside the image, (R - m + 1) x (C - n + 1).
extern "C" __attribute__((visibility("default"))) void plxFunction(std::int32_t /*outputCount*/,
                                                                   hvArray* outputs[],
                                                                   std::int32_t inputCount,
                                                                   const hvArray* inputs[]) {
    if (inputCount != 2) {
        pictura::rankwin::badNumInputs id;
        hvErrMsgId(id);
    }
    const hvArray& image = *inputs[0];
    const hvArray& windowArg = *inputs[1];
    rankwin::checkImage(image);
    const std::uint64_t* dims = image.get_dimensions();
    const hvClassID classID = image.getClassID();
    const rankwin::Window window = rankwin::readWindow(windowArg, dims[0], dims[1]);

    // Created before the class is known to be supported; the host frees it
    // if the call fails.
    const std::uint64_t outputDims[2] = {dims[0] - static_cast<std::uint32_t>(window.m) + 1,
                                         dims[1] - static_cast<std::uint32_t>(window.n) + 1};
    hvArray* output = hvCreateUninitNumericArray(2, outputDims, classID, hvReal);
    const void* sourceData = image.getData();
    void* destinationData = output->getData();

    rankwin::medianFilter.setClassID(classID);
    rankwin::medianFilter.filter(sourceData, dims, destinationData, window);
    outputs[0] = output;
}

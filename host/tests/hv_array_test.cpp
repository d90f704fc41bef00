// The host array library: class ids, shapes, and who owns what around an
// extension call.

#include <gtest/gtest.h>

#include <vector>

#include "hv/host.h"

namespace {

namespace cls = hv::classid;

std::string raised(auto&& action) {
    try {
        action();
    } catch (const hv::Error& error) {
        return error.identifier();
    }
    return "";
}

TEST(HvArray, ClassIdsBeyondTheInlineFieldComeBackIntact) {
    const std::uint64_t dims[2] = {2, 3};
    for (const hvClassID id : {cls::kUint8, cls::kUint64, cls::kHalf}) {
        const hv::ArrayPtr array = hv::createArray(id, dims);
        EXPECT_EQ(array->getClassID(), id);
    }
    EXPECT_EQ(hv::createArray(cls::kHalf, dims)->getElementSize(), 2u);
}

TEST(HvArray, ShapesHaveAtLeastTwoDimensionsAndNoTrailingSingletons) {
    const std::uint64_t column[1] = {5};
    const hv::ArrayPtr a = hv::createArray(cls::kDouble, column);
    ASSERT_EQ(a->getNumberOfDimensions(), 2u);
    EXPECT_EQ(a->get_dimensions()[1], 1u);
    const std::uint64_t padded[4] = {5, 4, 1, 1};
    EXPECT_EQ(hv::createArray(cls::kDouble, padded)->getNumberOfDimensions(), 2u);
    const std::uint64_t volume[4] = {5, 4, 2, 1};
    const hv::ArrayPtr v = hv::createArray(cls::kDouble, volume);
    EXPECT_EQ(v->getNumberOfDimensions(), 3u);
    EXPECT_EQ(v->getNumberOfElements(), 40u);
    const std::uint64_t empty[2] = {0, 4};
    EXPECT_EQ(hv::createArray(cls::kUint8, empty)->getData(), nullptr);
}

TEST(HvArray, ImpossibleArraysRaiseHostErrors) {
    const std::uint64_t dims[2] = {2, 2};
    EXPECT_EQ(raised([&] { hvCreateUninitNumericArray(2, dims, 1, hvReal); }),
              "hv:array:notNumeric");
    const std::uint64_t huge[2] = {1ull << 40, 1ull << 40};
    EXPECT_EQ(raised([&] { hvCreateUninitNumericArray(2, huge, cls::kDouble, hvReal); }),
              "hv:array:tooLarge");
    const std::uint64_t large[2] = {1ull << 31, 1ull << 29};  // 2^63 bytes: no overflow, too big
    EXPECT_EQ(raised([&] { hvCreateUninitNumericArray(2, large, cls::kDouble, hvReal); }),
              "hv:array:tooLarge");
}

// Extensions used to observe what the host does with their arrays.
void createTwoThenFail(std::int32_t, hvArray* outputs[], std::int32_t, const hvArray*[]) {
    const std::uint64_t dims[2] = {3, 3};
    outputs[0] = hvCreateUninitNumericArray(2, dims, cls::kUint8, hvReal);
    hvCreateUninitNumericArray(2, dims, cls::kSingle, hvComplex);
    hvErrMsgId(pictura::MessageId("test:fails", "failed on purpose"));
}

void createTwoKeepOne(std::int32_t, hvArray* outputs[], std::int32_t, const hvArray*[]) {
    const std::uint64_t dims[2] = {3, 4};
    outputs[0] = hvCreateUninitNumericArray(2, dims, cls::kUint16, hvReal);
    hvCreateUninitNumericArray(2, dims, cls::kUint16, hvReal);
}

void returnTheInput(std::int32_t, hvArray* outputs[], std::int32_t, const hvArray* inputs[]) {
    outputs[0] = const_cast<hvArray*>(inputs[0]);
}

TEST(HvCall, AFailedCallFreesEverythingItCreated) {
    std::vector<hv::CreatedArray> created;
    try {
        hv::callExtension(createTwoThenFail, 1, {}, &created);
        FAIL() << "the error did not reach the host";
    } catch (const hv::Error& error) {
        EXPECT_EQ(error.identifier(), "test:fails");
        EXPECT_STREQ(error.what(), "failed on purpose");
    }
    // Both arrays were recorded; the leak checker proves they were freed.
    ASSERT_EQ(created.size(), 2u);
    EXPECT_EQ(created[1].classID, cls::kSingle);
}

TEST(HvCall, ASuccessfulCallHandsOverSlotZeroEvenWithoutRequestedOutputs) {
    std::vector<hv::CreatedArray> created;
    const auto outputs = hv::callExtension(createTwoKeepOne, 0, {}, &created);
    ASSERT_EQ(outputs.size(), 1u);
    ASSERT_NE(outputs[0], nullptr);
    EXPECT_EQ(outputs[0]->get_dimensions()[1], 4u);
    EXPECT_EQ(created.size(), 2u);
}

TEST(HvCall, AnArrayTheCallDidNotCreateIsNotTakenOver) {
    const std::uint64_t dims[2] = {1, 1};
    const hv::ArrayPtr input = hv::createArray(cls::kDouble, dims);
    const hvArray* inputs[1] = {input.get()};
    const auto outputs = hv::callExtension(returnTheInput, 1, inputs);
    EXPECT_EQ(outputs.at(0), nullptr);
}

}  // namespace

#include "kernellocator/kernel_locator.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

class Locator : public ::testing::Test {
  protected:
    void TearDown() override {
        unsetenv("HV_KERNEL_LIBRARY");
        unsetenv("HV_KERNEL_LOCATOR_TRACE");
    }
};

TEST_F(Locator, ResolvesFromTheLibraryTheEnvironmentNames) {
    setenv("HV_KERNEL_LIBRARY", RECORDING_KERNELS, 1);
    KernelLocator locator(default_client);
    EXPECT_TRUE(locator.loadError().empty());
    void* library = dlopen(RECORDING_KERNELS, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(locator.getMethodPointer("ippiFilterMedian_16s_C1R"),
              dlsym(library, "ippiFilterMedian_16s_C1R"));
    EXPECT_EQ(locator.getMethodPointer("noSuchKernel"), nullptr);
    dlclose(library);
}

TEST_F(Locator, FindsTheKernelLibraryWithoutTheEnvironment) {
    KernelLocator locator(default_client);
    EXPECT_NE(locator.getMethodPointer("ippiFilterMedian_32f_C1R"), nullptr);
}

TEST_F(Locator, AMissingLibraryResolvesNothingAndSaysWhy) {
    setenv("HV_KERNEL_LIBRARY", "/nonexistent/libkernels.so", 1);
    KernelLocator locator(default_client);
    EXPECT_EQ(locator.getMethodPointer("ippiFilterMedian_8u_C1R"), nullptr);
    EXPECT_NE(locator.loadError().find("nonexistent"), std::string::npos);
}

TEST_F(Locator, TraceListsEveryNameAskedFor) {
    const std::string trace = ::testing::TempDir() + std::to_string(getpid()) + "_locator_trace";
    std::remove(trace.c_str());
    setenv("HV_KERNEL_LOCATOR_TRACE", trace.c_str(), 1);
    KernelLocator locator(default_client);
    locator.getMethodPointer("first");
    locator.getMethodPointer("second");
    std::ifstream in(trace);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "first\nsecond\n");
    std::remove(trace.c_str());
}

}  // namespace

// hvhost end to end: TIFF in, plug-in call, TIFF out, and its exit statuses.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "brute_force_median.h"
#include "run_program.h"
#include "tiff_array.h"

namespace {

namespace cls = hv::classid;

struct HostRun {
    int status;
    std::string stderrText;
};

HostRun runHost(const std::string& arguments, const std::string& environment = "") {
    const std::string errors = ::testing::TempDir() + std::to_string(getpid()) + "_hvhost_stderr";
    std::string command = environment;
    for (const std::string& word : fixtures::programWords(HVHOST)) command += " '" + word + "'";
    command += " " + arguments + " 2>'" + errors + "'";
    const int raw = std::system(command.c_str());
    std::ifstream in(errors);
    HostRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
                std::string((std::istreambuf_iterator<char>(in)), {})};
    std::remove(errors.c_str());
    return run;
}

bool exists(const std::string& path) { return std::ifstream(path).good(); }

class Hvhost : public ::testing::Test {
  protected:
    std::string path(const std::string& name) const {
        return ::testing::TempDir() + std::to_string(getpid()) + "_hvhost_" + name;
    }
    std::string plugin = RANKWIN_PLUGIN;
};

template <typename T>
void filtersFileOfType(const std::string& in, const std::string& out, hvClassID id,
                       const std::string& plugin) {
    SCOPED_TRACE(id);
    const std::uint64_t rows = 9, columns = 12;
    const std::uint64_t dims[2] = {rows, columns};
    const hv::ArrayPtr image = hv::createArray(id, dims);
    std::vector<T> values(rows * columns);
    std::mt19937 random(id);
    for (T& v : values) v = static_cast<T>(static_cast<int>(random() % 2000) - 1000);
    std::memcpy(image->getData(), values.data(), values.size() * sizeof(T));
    hvhost::writeTiff(in, *image);

    const HostRun run = runHost("'" + plugin + "' '" + in + "' 3 4 '" + out + "'");
    ASSERT_EQ(run.status, 0) << run.stderrText;
    const hv::ArrayPtr result = hvhost::readTiff(out);
    EXPECT_EQ(result->getClassID(), id);
    ASSERT_EQ(result->get_dimensions()[0], rows - 2);
    ASSERT_EQ(result->get_dimensions()[1], columns - 3);
    const auto* data = static_cast<const T*>(result->getData());
    EXPECT_EQ(std::vector<T>(data, data + result->getNumberOfElements()),
              testing_median::bruteForceMedian(values, rows, columns, 3, 4));
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST_F(Hvhost, FiltersImagesOfEachSupportedSampleType) {
    filtersFileOfType<std::uint8_t>(path("in8u.tif"), path("out8u.tif"), cls::kUint8, plugin);
    filtersFileOfType<std::uint16_t>(path("in16u.tif"), path("out16u.tif"), cls::kUint16, plugin);
    filtersFileOfType<std::int16_t>(path("in16s.tif"), path("out16s.tif"), cls::kInt16, plugin);
    filtersFileOfType<float>(path("in32f.tif"), path("out32f.tif"), cls::kSingle, plugin);
}

// By name, hvhost finds the plug-in beside its own libraries (lib/ringtrace once
// installed, lib in the build tree); an unknown name is a load failure.
TEST_F(Hvhost, FindsThePluginByName) {
    filtersFileOfType<std::uint8_t>(path("named.tif"), path("named-out.tif"), cls::kUint8,
                                    "rankwin");
    const std::string in = path("named-missing.tif");
    const std::uint64_t dims[2] = {4, 4};
    hvhost::writeTiff(in, *hv::createArray(cls::kUint8, dims));
    const HostRun run = runHost("no-such-plugin '" + in + "' 3 3 '" + path("x.tif") + "'");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.stderrText.find("no-such-plugin"), std::string::npos) << run.stderrText;
    std::remove(in.c_str());
}

TEST_F(Hvhost, HostErrorsExitWithTwoAndLeaveNoOutput) {
    const std::uint64_t dims[2] = {6, 6};
    const std::string out = path("never.tif");
    struct Case {
        hvClassID id;
        const char* window;
        const char* environment;
        const char* identifier;
    };
    const Case cases[] = {
        {cls::kDouble, "3 3", "", "pictura:rankwin:unsupportedDataType"},
        {cls::kHalf, "3 3", "", "pictura:rankwin:unsupportedDataType"},
        {cls::kUint8, "7 3", "", "pictura:rankwin:windowOutOfRange"},
        {cls::kUint8, "nan 3", "", "pictura:rankwin:nonFiniteWindow"},
        {cls::kUint8, "3 3", "HV_KERNEL_LIBRARY=/nonexistent.so",
         "pictura:rankwin:kernelUnavailable"},
    };
    for (const Case& c : cases) {
        const std::string in = path("in.tif");
        hvhost::writeTiff(in, *hv::createArray(c.id, dims));
        const HostRun run =
            runHost("'" + plugin + "' '" + in + "' " + c.window + " '" + out + "'", c.environment);
        EXPECT_EQ(run.status, 2) << c.identifier;
        EXPECT_EQ(run.stderrText.rfind(std::string(c.identifier) + ": ", 0), 0u) << run.stderrText;
        EXPECT_FALSE(exists(out)) << c.identifier;
        std::remove(in.c_str());
    }
}

TEST_F(Hvhost, UsageAndFileProblemsExitWithOne) {
    const std::string in = path("ok.tif");
    const std::uint64_t dims[2] = {4, 4};
    hvhost::writeTiff(in, *hv::createArray(cls::kUint8, dims));
    const std::string out = path("out.tif");
    EXPECT_EQ(runHost("").status, 1);
    EXPECT_EQ(runHost("'" + plugin + "' '" + in + "' three 3 '" + out + "'").status, 1);
    EXPECT_EQ(runHost("'" + plugin + "' '" + path("missing.tif") + "' 3 3 '" + out + "'").status,
              1);
    EXPECT_EQ(runHost("/nonexistent/plugin.so '" + in + "' 3 3 '" + out + "'").status, 1);
    EXPECT_FALSE(exists(out));
    std::remove(in.c_str());
}

}  // namespace

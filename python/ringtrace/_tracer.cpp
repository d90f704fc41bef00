// The tracer for Python: arrays or files in, the program's result out. The package's
// __init__.py wraps these functions; everything here is the program's own code path
// (the same reader, the same trace, the same writer), only driven from memory.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>

#include "cli/memory_plan.h"
#include "cli/summary_json.h"
#include "driver.h"
#include "graph/large_allocator.h"
#include "image_input.h"
#include "loaded_tiff.h"
#include "output_file.h"
#include "pair_trace.h"
#include "render_output.h"

namespace py = pybind11;
using namespace ringtrace;

namespace {

// An input that could not be read, named in the program's words ("error image not read").
class imageNotRead : public std::runtime_error {
    using std::runtime_error::runtime_error;
};
// An output that could not be written ("output not written"). Raised as OSError.
class outputNotWritten : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How often the calling thread looks for a pending signal while a trace runs: well within
// the half second a Ctrl-C may take to stop it.
constexpr auto kSignalPoll = std::chrono::milliseconds(20);

// Runs `work(cancel)` on a thread of its own with the GIL released, and meanwhile lets the
// interpreter run its signal handlers. A handler that raises (KeyboardInterrupt) raises
// the cancellation flag; the work then ends at its next check, and the exception is
// passed on once the thread has finished, so nothing it owns outlives the call.
template <class Work>
void runReleased(Work&& work) {
    std::atomic<bool> cancel{false};
    std::exception_ptr failure;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    bool interrupted = false;
    {
        py::gil_scoped_release nogil;
        std::thread worker([&] {
            try {
                work(cancel);
            } catch (...) {
                failure = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(m);
            done = true;
            cv.notify_one();
        });
        std::unique_lock<std::mutex> lock(m);
        while (!done) {
            if (cv.wait_for(lock, kSignalPoll, [&] { return done; })) break;
            if (interrupted) continue;
            lock.unlock();
            {
                py::gil_scoped_acquire gil;
                if (PyErr_CheckSignals() != 0) {
                    interrupted = true;
                    cancel = true;
                }
            }
            lock.lock();
        }
        lock.unlock();
        worker.join();
    }
    if (interrupted) throw py::error_already_set();
    if (failure) std::rethrow_exception(failure);
}

// The result as plain Python values; the package turns it into a Trace.
py::dict resultOf(const tracerReport& report, py::array_t<uint8_t> marks) {
    const searchResult& search = report.search;
    const bool accepted = search.searchOutcome != SEARCH_EXHAUSTED;
    py::dict d;
    d["width"] = report.width;
    d["height"] = report.height;
    d["status"] = report.status;
    d["meaning"] = statusMeaning(report.status);
    d["outcome"] = cli::outcomeName(search);
    d["iterations"] = search.iterations;
    d["evaluations"] = search.evaluations;
    d["shortest_path_runs"] = search.shortestPathRuns;
    py::object none = py::none();
    d["interval"] = accepted ? py::object(py::make_tuple(search.accepted.lo, search.accepted.hi)) : none;
    d["path_cost"] = accepted ? py::object(py::int_(search.accepted.pathCost)) : none;
    d["row_sum"] = accepted ? py::object(py::int_(search.accepted.rowSum)) : none;
    d["entry_row"] = accepted ? py::object(py::int_(report.entryRow)) : none;
    d["exit_row"] = accepted ? py::object(py::int_(report.exitRow)) : none;
    d["dispersion"] = accepted ? py::object(py::float_(search.acceptedStats.dispersion)) : none;
    d["secondary_mean"] = accepted ? py::object(py::float_(search.acceptedStats.secondaryMean)) : none;
    d["marked_pixels"] = report.marked;
    const auto n = static_cast<py::ssize_t>(report.contour.size());
    py::array_t<int32_t> contour({n, py::ssize_t{2}});
    auto c = contour.mutable_unchecked<2>();
    for (py::ssize_t i = 0; i < n; ++i) {
        c(i, 0) = report.contour[static_cast<size_t>(i)].x;
        c(i, 1) = report.contour[static_cast<size_t>(i)].y;
    }
    d["contour"] = contour;
    d["marks"] = marks;
    return d;
}

// An (height, width, 3 or 4) uint8 array, in any order or strides, packed into raster
// words as libtiff's RGBA reader packs a file's pixels (bottom row first, alpha ignored).
struct rasterOf {
    std::vector<uint32_t> words;
    py::ssize_t height = 0, width = 0;
};

void checkPicture(const py::array& a, const char* name) {
    if (!a.dtype().is(py::dtype::of<uint8_t>())) {
        throw py::type_error(std::string(name) + " must be a uint8 array, not " +
                             py::str(a.dtype()).cast<std::string>());
    }
    if (a.ndim() != 3 || (a.shape(2) != 3 && a.shape(2) != 4)) {
        std::string shape = py::str(py::tuple(a.attr("shape"))).cast<std::string>();
        throw py::value_error(std::string(name) + " must have the shape (height, width, 3) or (height, width, 4), not " +
                              shape);
    }
}

void pack(const py::array& a, rasterOf& r) {
    r.height = a.shape(0);
    r.width = a.shape(1);
    r.words.resize(static_cast<size_t>(r.height * r.width));
    const auto* base = static_cast<const uint8_t*>(a.data());
    const py::ssize_t sy = a.strides(0), sx = a.strides(1), sc = a.strides(2);
    for (py::ssize_t y = 0; y < r.height; ++y) {
        uint32_t* row = r.words.data() + (r.height - 1 - y) * r.width;
        const uint8_t* p = base + y * sy;
        for (py::ssize_t x = 0; x < r.width; ++x, p += sx) {
            row[x] = uint32_t{p[0]} | uint32_t{p[sc]} << 8 | uint32_t{p[2 * sc]} << 16 | 0xff000000u;
        }
    }
}

py::dict traceArrays(const py::array& primary, const py::array& secondary) {
    checkPicture(primary, "primary");
    checkPicture(secondary, "secondary");
    const py::ssize_t H = primary.shape(0), W = primary.shape(1);
    if (secondary.shape(0) != H || secondary.shape(1) != W) {
        throw py::value_error("secondary is " + std::to_string(secondary.shape(1)) + " x " +
                              std::to_string(secondary.shape(0)) + " pixels, primary " + std::to_string(W) + " x " +
                              std::to_string(H) + ": both must have the same size");
    }
    if (W == 0 || H == 0) throw py::value_error("an empty image cannot be traced");
    const std::string refusal = sizeRefusal(W, H);
    if (!refusal.empty()) throw py::value_error(refusal);

    rasterOf p, s;
    pack(primary, p);
    pack(secondary, s);
    py::array_t<uint8_t> marks({H, W});
    uint8_t* out = marks.mutable_data();
    tracerReport report;
    runReleased([&](const std::atomic<bool>& cancel) {
        traceRasters(p.words.data(), s.words.data(), static_cast<int32_t>(W), static_cast<int32_t>(H), report, out,
                     &cancel);
    });
    return resultOf(report, marks);
}

// Releases what readInputs left open, whatever happens after it.
struct openInputs {
    inputImages in;
    ~openInputs() {
        releaseRasters(in);
        if (in.primary != nullptr) TIFFClose(in.primary);
        if (in.secondary != nullptr) TIFFClose(in.secondary);
    }
};

// Reads the pair as the program does; with `output`, writes it there as the program
// writes "new.tif" (a temporary file renamed into place once complete, never when the
// trace fails or is interrupted). An input that cannot be read raises, unless `partial`:
// then the trace goes on with what was read, as the program's does, with status 1.
py::dict traceFiles(const std::string& primaryPath, const std::string& secondaryPath,
                    const std::optional<std::string>& output, bool partial) {
    openInputs files;
    inputImages& in = files.in;
    std::string why;
    inputStatus status;
    {
        py::gil_scoped_release nogil;
        status = readInputs(primaryPath.c_str(), secondaryPath.c_str(), in, why);
    }
    if (status == inputStatus::noImage) throw imageNotRead(std::string(kNotReadMessage) + ": " + primaryPath);
    if (status == inputStatus::refused) throw py::value_error(why);
    if (status == inputStatus::readFailed && !partial) {
        std::string names;
        if (!in.primaryRead) names = primaryPath;
        if (!in.secondaryRead) names += (names.empty() ? "" : ", ") + secondaryPath;
        throw imageNotRead(std::string(kNotReadMessage) + ": " + names);
    }

    const int32_t W = in.width, H = in.height;
    pendingOutput pending(false);
    TIFF* out = nullptr;
    if (output) {
        out = pending.open(*output, why);
        if (out == nullptr) throw outputNotWritten(why);
    }
    py::array_t<uint8_t> marks({py::ssize_t{H}, py::ssize_t{W}});
    uint8_t* bytes = marks.mutable_data();
    tracerReport report;
    report.status = status == inputStatus::read ? EXIT_TRACED : EXIT_NOT_READ;
    bool written = true;
    try {
        runReleased([&](const std::atomic<bool>& cancel) {
            // As in the program, the rasters go back once the search has what it needs of them.
            traceRasters(in.primaryRaster, in.secondaryRaster, W, H, report, bytes, &cancel, nullptr,
                         [&in] { releaseRasters(in); });
            if (out == nullptr) return;
            written = writeMirrored(out, bytes, W, H);
            TIFFClose(out);
            out = nullptr;
            if (cancel) throw traceCancelled();
            if (written && !pending.commit(why)) throw outputNotWritten(why);
        });
    } catch (...) {
        if (out != nullptr) TIFFClose(out);
        throw;
    }
    if (!written) throw outputNotWritten("writing " + *output + " failed");
    return resultOf(report, marks);
}

// One TIFF as the program's reader decodes it: (height, width, 3) uint8, top row first.
py::array_t<uint8_t> readImage(const std::string& path) {
    // The raster and the array's storage are large blocks (see the large allocator): in
    // ordinary fresh pages, faulting them in one by one cost more than decoding the file.
    using bytes = ringgraph::large_vector<uint8_t>;
    ringgraph::large_vector<uint32_t> raster;
    auto rgb = std::make_unique<bytes>();
    int32_t W = 0, H = 0;
    int ok = 0;
    {
        py::gil_scoped_release nogil;
        TIFF* tif = openLoaded(path.c_str());
        if (tif != nullptr) {
            uint32_t w = 0, h = 0;
            TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
            if (w > 0 && h > 0 && uint64_t{w} * h <= uint64_t{kMaxPixels}) {
                W = static_cast<int32_t>(w);
                H = static_cast<int32_t>(h);
                raster.resize(static_cast<size_t>(int64_t{W} * H));  // reads as zero while fresh
                ok = readRaster(tif, W, H, raster.data());
            }
            TIFFClose(tif);
        }
        if (ok != 0) {
            rgb->resize(static_cast<size_t>(int64_t{W} * H) * 3);
            uint8_t* out = rgb->data();
            for (int32_t y = 0; y < H; ++y) {
                const uint32_t* row = raster.data() + rasterIndex(0, y, W, H);
                for (int32_t x = 0; x < W; ++x, out += 3) {
                    out[0] = redOf(row[x]);
                    out[1] = greenOf(row[x]);
                    out[2] = blueOf(row[x]);
                }
            }
        }
    }
    if (ok == 0) throw imageNotRead(std::string(kNotReadMessage) + ": " + path);
    uint8_t* data = rgb->data();
    py::capsule owner(rgb.get(), [](void* p) { delete static_cast<bytes*>(p); });
    rgb.release();
    return py::array_t<uint8_t>({py::ssize_t{H}, py::ssize_t{W}, py::ssize_t{3}}, data, owner);
}

// Writes a marks picture (top row first) as the program writes "new.tif".
void writeMarks(const std::string& path, const py::array_t<uint8_t, py::array::c_style>& marks) {
    if (marks.ndim() != 2) throw py::value_error("marks must be a (height, width) array");
    const auto H = static_cast<int32_t>(marks.shape(0)), W = static_cast<int32_t>(marks.shape(1));
    std::string why;
    pendingOutput pending(false);
    TIFF* out = pending.open(path, why);
    if (out == nullptr) throw outputNotWritten(why);
    const bool written = writeMirrored(out, marks.data(), W, H);
    TIFFClose(out);
    if (!written) throw outputNotWritten("writing " + path + " failed");
    if (!pending.commit(why)) throw outputNotWritten(why);
}

}  // namespace

PYBIND11_MODULE(_tracer, m) {
    m.doc() = "The tracer's engine; use the ringtrace package's functions.";
    py::register_exception<imageNotRead>(m, "ImageNotReadError", PyExc_OSError);
    py::register_exception<outputNotWritten>(m, "OutputNotWrittenError", PyExc_OSError);
    m.def("trace_arrays", &traceArrays, py::arg("primary"), py::arg("secondary"));
    m.def("trace_files", &traceFiles, py::arg("primary"), py::arg("secondary"), py::arg("output") = py::none(),
          py::arg("partial") = false);
    m.def("read_image", &readImage, py::arg("path"));
    m.def("write_marks", &writeMarks, py::arg("path"), py::arg("marks"));
    m.def("folder_peak_bytes", &cli::folderPeakBytes, py::arg("folder"),
          "Expected peak memory of tracing the pair in `folder`, from the images' headers.");
    m.attr("MAX_PIXELS") = kMaxPixels;
}

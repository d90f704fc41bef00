// Writes compiled_networks.h, the comparator tables of every network the
// kernels compile in (see network_table.h), and selection_steps.h and
// sorted_column_steps.h, the same networks as straight-line code for the
// vector kernels.
//
//   network_tables_generator DIR          writes the three files into DIR
//   network_tables_generator --check DIR  exits 1 unless they hold exactly that
//
// The build target `network_tables` rewrites them in kernels/.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "median_job.h"
#include "selection_network.h"
#include "sorted_column_median.h"
#include "sorted_column_network.h"

namespace {

using namespace mediankernels;

const char* kindName(CompareKind kind) {
    switch (kind) {
        case CompareKind::kBoth:
            return "B";
        case CompareKind::kMinOnly:
            return "L";
        case CompareKind::kMaxOnly:
            return "H";
    }
    return "?";
}

// A table, eight comparators a line; an empty network still needs one entry.
void writeList(std::ostream& out, const std::string& name, const Comparator* list, int size) {
    out << "inline constexpr Comparator " << name << "[] = {";
    if (size == 0) out << "{0, 0, B}";
    for (int c = 0; c < size; ++c) {
        out << (c % 8 == 0 ? "\n    " : " ") << '{' << list[c].low << ", " << list[c].high << ", "
            << kindName(list[c].kind) << "},";
    }
    out << (size == 0 ? "};\n" : "\n};\n");
}

// Tables go to `out`, inside namespace tables; the specializations that
// name them to `named`, after it.
// The selection networks compiled in, each with its element count, built once
// for both files.
struct SelectionNetwork {
    int count = 0;
    std::vector<Comparator> comparators;
};

std::vector<SelectionNetwork> selectionNetworks() {
    std::vector<int> counts;
    for (int count = 1; count <= kMaxFixedNetwork; ++count) counts.push_back(count);
    for (int count : kLargerFixedNetworks) counts.push_back(count);
    std::vector<SelectionNetwork> nets;
    for (int count : counts) {
        const auto capacity = static_cast<std::size_t>(sortingComparatorCount(count) + 1);
        std::vector<Comparator> list(capacity), scratch(capacity);
        std::unique_ptr<bool[]> needed(new bool[static_cast<std::size_t>(count)]);
        const int size = buildSelectionNetwork(count, list.data(), scratch.data(), needed.get());
        list.resize(static_cast<std::size_t>(size));
        nets.push_back({count, std::move(list)});
    }
    return nets;
}

void writeSelection(std::ostream& out, std::ostream& named, const SelectionNetwork& net) {
    const std::string name = "kSelection" + std::to_string(net.count);
    const int size = static_cast<int>(net.comparators.size());
    writeList(out, name, net.comparators.data(), size);
    named << "template <>\ninline constexpr NetworkTable kSelectionNetwork<" << net.count
          << "> = {tables::" << name << ", " << size << "};\n";
}

// Tens of kilobytes each: not for the stack of a small thread. Built once for
// both files.
using SortedColumnNetworks = std::vector<std::unique_ptr<SortedColumnNetwork>>;

SortedColumnNetworks sortedColumnNetworks() {
    SortedColumnNetworks nets;
    for (const MaskShape& shape : kSortedColumnShapes) {
        nets.push_back(std::make_unique<SortedColumnNetwork>(
            makeSortedColumnNetwork(shape.width, shape.height)));
    }
    return nets;
}

void writeSortedColumns(std::ostream& out, std::ostream& named, const SortedColumnNetwork& net) {
    const int mw = net.maskWidth, mh = net.maskHeight;
    const std::string shape = std::to_string(mw) + "x" + std::to_string(mh);
    writeList(out, "kColumnSort" + shape, net.columnSort, net.columnSortSize);
    writeList(out, "kSortedColumns" + shape, net.comparators, net.size);
    named << "template <>\ninline constexpr SortedColumnTable kSortedColumnNetwork<" << mw << ", "
          << mh << "> = {\n    " << mw << ", " << mh << ", tables::kColumnSort" << shape << ", "
          << net.columnSortSize << ",\n    {";
    for (int i = 0; i < kMaxSortedColumnExtent; ++i) {
        named << (i ? ", " : "") << (net.rankUsed[i] ? "true" : "false");
    }
    named << "},\n    tables::kSortedColumns" << shape << ", " << net.size << ", " << net.output
          << "};\n";
}

// One network as the body of a function over the wires `v`, a few
// comparators a line.
void writeSteps(std::ostream& out, const char* name, const Comparator* list, int size) {
    out << "    template <typename V>\n    [[gnu::always_inline]] static void " << name << "("
        << (size == 0 ? "V*" : "V* v") << ") {";
    for (int c = 0; c < size; ++c) {
        out << (c % 4 == 0 ? "\n       " : "") << " MK_STEP_" << kindName(list[c].kind) << '('
            << list[c].low << ", " << list[c].high << ')';
    }
    out << (size == 0 ? "}\n" : "\n    }\n");
}

void writeSelectionSteps(std::ostream& out, const SelectionNetwork& net) {
    out << "template <>\nstruct SelectionSteps<" << net.count << "> {\n";
    writeSteps(out, "run", net.comparators.data(), static_cast<int>(net.comparators.size()));
    out << "};\n";
}

void writeSortedColumnSteps(std::ostream& out, const SortedColumnNetwork& net) {
    const int mw = net.maskWidth, mh = net.maskHeight;
    out << "template <>\nstruct SortedColumnSteps<" << mw << ", " << mh << "> {\n";
    writeSteps(out, "sortColumn", net.columnSort, net.columnSortSize);
    writeSteps(out, "select", net.comparators, net.size);
    out << "};\n";
}

// The compiler takes about half as long over these expressions as over the
// same networks unrolled from the tables by templates (a call per comparator
// to inline), and emits the same instructions. Each kind of network has a
// file of its own, so that a kernel file parses only the code it compiles.
template <typename Body>
std::string stepsSource(const char* what, const char* declaration, Body body) {
    std::ostringstream out;
    out << "#pragma once\n\n"
           "// Generated by network_tables_generator.cpp (build target network_tables): "
           "do not edit.\n"
           "// The "
        << what
        << " of compiled_networks.h as straight-line code over an\n"
           "// array of wires `v`, for the vector kernels; a step orders two wires the way\n"
           "// lower() and upper() in network_median.h do, or keeps only the half that is used.\n"
           "// clang-format off\n\n"
           "#ifndef MK_ISA_NS\n"
           "#error \"MK_ISA_NS must name the instruction-set namespace\"\n"
           "#endif\n\n"
           "namespace mediankernels::MK_ISA_NS {\n\n"
           "#define MK_STEP_B(a, b) { const V low_ = v[a] < v[b] ? v[a] : v[b]; "
           "v[b] = v[a] < v[b] ? v[b] : v[a]; v[a] = low_; }\n"
           "#define MK_STEP_L(a, b) v[a] = v[a] < v[b] ? v[a] : v[b];\n"
           "#define MK_STEP_H(a, b) v[b] = v[a] < v[b] ? v[b] : v[a];\n\n"
        << declaration << "\n";
    body(out);
    out << "\n#undef MK_STEP_B\n#undef MK_STEP_L\n#undef MK_STEP_H\n\n"
           "}  // namespace mediankernels::MK_ISA_NS\n";
    return out.str();
}

std::string selectionStepsSource(const std::vector<SelectionNetwork>& selections) {
    return stepsSource("selection networks", "template <int Count>\nstruct SelectionSteps;\n",
                       [&selections](std::ostream& out) {
                           for (const auto& net : selections) writeSelectionSteps(out, net);
                       });
}

std::string sortedColumnStepsSource(const SortedColumnNetworks& nets) {
    return stepsSource("sorted-column networks",
                       "template <int MaskWidth, int MaskHeight>\nstruct SortedColumnSteps;\n",
                       [&nets](std::ostream& out) {
                           for (const auto& net : nets) writeSortedColumnSteps(out, *net);
                       });
}

std::string tablesSource(const std::vector<SelectionNetwork>& selections,
                         const SortedColumnNetworks& nets) {
    std::ostringstream out;
    out << "#pragma once\n\n"
           "// Generated by network_tables_generator.cpp (build target network_tables): "
           "do not edit.\n"
           "// clang-format off\n\n"
           "#include \"network_table.h\"\n\n"
           "namespace mediankernels {\n"
           "namespace tables {\n\n"
           "inline constexpr CompareKind B = CompareKind::kBoth;\n"
           "inline constexpr CompareKind L = CompareKind::kMinOnly;\n"
           "inline constexpr CompareKind H = CompareKind::kMaxOnly;\n\n";
    std::ostringstream named;
    for (const auto& net : selections) writeSelection(out, named, net);
    for (const auto& net : nets) writeSortedColumns(out, named, *net);
    out << "\n}  // namespace tables\n\n" << named.str() << "\n}  // namespace mediankernels\n";
    return out.str();
}

bool matches(const std::string& path, const std::string& source) {
    std::ifstream in(path, std::ios::binary);
    const std::string present((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (present == source) return true;
    std::fprintf(stderr,
                 "%s differs from the networks built now: rebuild it with the target "
                 "network_tables\n",
                 path.c_str());
    return false;
}

bool write(const std::string& path, const std::string& source) {
    std::ofstream out(path, std::ios::binary);
    out << source;
    out.close();
    if (out.good()) return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !check) {
        std::fprintf(stderr, "usage: %s [--check] DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[argc - 1]) + "/";
    const std::vector<SelectionNetwork> selections = selectionNetworks();
    const SortedColumnNetworks nets = sortedColumnNetworks();
    const std::pair<std::string, std::string> files[] = {
        {dir + "compiled_networks.h", tablesSource(selections, nets)},
        {dir + "selection_steps.h", selectionStepsSource(selections)},
        {dir + "sorted_column_steps.h", sortedColumnStepsSource(nets)},
    };
    bool ok = true;
    for (const auto& [path, source] : files) {
        ok = (check ? matches(path, source) : write(path, source)) && ok;
    }
    return ok ? 0 : 1;
}

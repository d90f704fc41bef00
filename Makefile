# Front door: `make run` traces the bundled example, `make test` runs every test.
BUILD ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build run test package bench fuzz clean

all: build

deps:
	@bash scripts/deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run-example.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The Debian package (ringtrace_<version>_<arch>.deb) in the build directory.
package: build
	cmake --build $(BUILD) --target package

# Benchmarks against the peers; their libraries are installed only here.
BENCH_BUILD ?= build-bench
bench: deps
	@bash scripts/deps.sh libopencv-dev libbenchmark-dev python3-scipy libboost-graph-dev
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DRT_BENCH=ON -DRT_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash bench/median/run.sh $(BENCH_BUILD)
	$(BENCH_BUILD)/bin/tracer_bench

# Fuzz targets (clang, libFuzzer, ASan and UBSan) in their own build, each run for
# FUZZ_SECONDS; fails on any crash, leak, sanitizer report or input slower than 10 s.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
fuzz: deps
	@bash scripts/deps.sh clang libclang-rt-14-dev
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	bash fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)

# Front door: `make run` traces the bundled example, `make test` runs every test.
BUILD ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps build run test package bench clean

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
	@bash scripts/deps.sh libopencv-dev libbenchmark-dev python3-scipy
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DRT_BENCH=ON -DRT_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash bench/median/run.sh $(BENCH_BUILD)

clean:
	rm -rf $(BUILD)

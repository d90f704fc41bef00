# Front door: `make run` traces the bundled example, `make test` runs every test.
BUILD ?= build
BUILD_TYPE ?= Release
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

# The build's own output goes to $(BUILD)/build.log and is shown only when a step fails;
# V=1 shows it as it comes.
V ?= 0
ifeq ($(V),0)
Q := @
LOG_NEW := bash scripts/quiet.sh --new $(BUILD)/build.log
LOG_ADD := bash scripts/quiet.sh $(BUILD)/build.log
else
Q :=
LOG_NEW :=
LOG_ADD :=
endif

.PHONY: all deps configure build run test package bench fuzz clean

all: build

deps:
	@bash scripts/deps.sh

configure: deps
ifeq ($(V),0)
	@echo "building in $(BUILD)/ ($(BUILD_TYPE)); the log: $(BUILD)/build.log"
endif
	$(Q)$(LOG_NEW) cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	$(Q)$(LOG_ADD) cmake --build $(BUILD) -j $(JOBS)

# Only what the examples run: the programs, the plug-in and its kernel library.
run: configure
	$(Q)$(LOG_ADD) cmake --build $(BUILD) -j $(JOBS) --target run_programs
	@bash scripts/run-example.sh $(BUILD)

# The Python packages' tests need pytest and the peers they are compared with.
TEST_DEPS ?= python3-pytest python3-scipy python3-dask python3-distributed

test: build
	@bash scripts/deps.sh $(TEST_DEPS)
ifeq ($(V),0)
	@bash scripts/run-tests.sh $(BUILD) $(JOBS)
else
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
endif

# The Debian package (ringtrace_<version>_<arch>.deb) in the build directory.
package: build
	$(Q)$(LOG_ADD) cmake --build $(BUILD) --target package
	@ls $(BUILD)/ringtrace_*.deb

# Benchmarks against the peers; their libraries are installed only here.
BENCH_BUILD ?= build-bench
bench: deps
	@bash scripts/deps.sh libopencv-dev libbenchmark-dev python3-scipy libboost-graph-dev
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DRT_BENCH=ON -DRT_BUILD_TESTS=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash bench/median/run.sh $(BENCH_BUILD)
	$(BENCH_BUILD)/bin/tracer_bench
	@# The statically linked program against the shared one where start-up weighs most.
	if [ -x $(BENCH_BUILD)/bin/ringtrace-static ]; then $(BENCH_BUILD)/bin/tracer_bench \
	  --sizes 256x256,720x400,1024x1024 --repeat 9 --plain-up-to 0 --boost-up-to 0 \
	  --against $(BENCH_BUILD)/bin/ringtrace-static; fi
	/usr/bin/python3 bench/python/tracer_bench.py --build $(BENCH_BUILD)
	@mkdir -p $(BENCH_BUILD)/bench-results
	$(BENCH_BUILD)/bin/hvhost_io_bench --dir $(BENCH_BUILD)/bench-results/hvhost | tee $(BENCH_BUILD)/bench-results/hvhost.md
	@bash scripts/deps.sh python3-opencv python3-skimage python3-matplotlib python3-dask python3-distributed
	PYTHONPATH=$(BENCH_BUILD)/python /usr/bin/python3 bench/python/median_bench.py --dask --out $(BENCH_BUILD)/bench-results/python

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

# Thin wrapper: dependencies, demo, tests, sanitizer run, benchmarks, fuzzing.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build demo test test-asan bench fuzz fuzz-smoke install clean

all: build

deps:
	@sh tools/check-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	$(BUILD)/bin/zemkosh examples/demo.tcl

test: build
	cd $(BUILD) && ctest --output-on-failure

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DZEMKO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure

bench: deps
	cmake -S . -B $(BENCH_BUILD) $(GENERATOR) -DZEMKO_BENCH=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BENCH_BUILD) -j$(JOBS)
	sh bench/run.sh $(BENCH_BUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) -DZEMKO_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_targets

# Runs every fuzz target for FUZZ_SECONDS on its seed corpus.
fuzz-smoke: fuzz
	sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)

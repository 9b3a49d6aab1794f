# Drives CMake + Ninja. Every target first makes sure the Debian packages are there.
BUILD      ?= build
ASAN_BUILD ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure -j $(JOBS)
# A compiler cache, when the machine has one, makes rebuilds in several checkouts cheap.
LAUNCHER   := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build test test-asan test-tsan bench demo fuzz clean

all: build

deps:
	@scripts/ensure-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(LAUNCHER)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest $(CTEST_ARGS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, in its own build folder.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZYL_SANITIZE=ON -DZYL_BENCH=OFF $(LAUNCHER)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_ARGS)

# ThreadSanitizer over the tests whose threads share objects: the alert component (listener
# thread, synchronise queue, cancel from the main thread) and the client library's alert
# procedures (receive, cancel and send from several threads), and the zylo layer's connection
# pool (32 threads sharing 8 connections), in their own build folder. The stress test sends 100
# messages per sender here instead of 1 000.
TSAN_BUILD ?= build-tsan
TSAN_TESTS := tests/components/component_alert_tests tests/components/component_alert_stress tests/dblib/test_proc_alerts \
              tests/zylo/zylo_tests
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZYL_TSAN=ON -DZYL_BENCH=OFF $(LAUNCHER)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	@for t in $(TSAN_TESTS); do echo "== $$t"; \
	  ZYL_LIB_DIR=$(CURDIR)/$(TSAN_BUILD)/lib ZYL_ALERT_STRESS_MESSAGES=100 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  timeout 1200 $(TSAN_BUILD)/$$t --gtest_brief=1 || exit 1; done

BENCH_BUILD ?= build-bench
# The side-by-side benchmark also measures SOCI and Qt SQL: their packages are installed here only.
bench: deps
	@scripts/ensure-bench-deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZYL_TESTS=OFF -DZYL_BENCH_PEERS=ON $(LAUNCHER)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@# The network engine's benchmark needs a server: a private one for this run unless
	@# ZYL_PG_SERVER names one (without an installed server it reports that it skipped).
	@if [ -z "$$ZYL_PG_SERVER" ] && ls /usr/lib/postgresql/*/bin/pg_ctl >/dev/null 2>&1; then \
	   pgdir=$$(mktemp -d /tmp/zyl-bench-pg-XXXXXX); trap 'scripts/pg-cluster stop "$$pgdir"' EXIT; \
	   ZYL_PG_SERVER=$$(scripts/pg-cluster start "$$pgdir" | tail -1); export ZYL_PG_SERVER; fi; \
	 for b in $(BENCH_BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_counters_tabular=true; done; true

demo: build
	@if [ -x tools/demo.sh ]; then BUILD=$(BUILD) tools/demo.sh; \
	 else echo "make demo: the interactive SQL tool is not built yet; run 'make test'"; fi

# Every libFuzzer target (tests/fuzz/CMakeLists.txt), built with clang and the sanitizers, each
# run for FUZZ_SECONDS (or a share of FUZZ_BUDGET) from its seed corpus; see scripts/run-fuzzers.
# -O1 with line tables: quick to build, fast enough to fuzz, and crash reports name the lines.
FUZZ_BUILD ?= build-fuzz
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=FuzzBuild -DCMAKE_CXX_FLAGS_FUZZBUILD='-O1 -gline-tables-only' -DCMAKE_C_FLAGS_FUZZBUILD='-O1 -gline-tables-only' -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DZYL_FUZZ=ON -DZYL_BENCH=OFF -DZYL_TESTS=OFF $(LAUNCHER)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	scripts/run-fuzzers $(FUZZ_BUILD)/fuzzers.txt

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)

# The two commands of the quick start: `make demo` and `make test`.
BUILD     ?= build
SANITIZED ?= build-asan
THREADS   ?= build-tsan
LINTBUILD ?= build-lint
WINDOWS   ?= build-win32
WINDOWS64 ?= build-win64
FUZZ      ?= build-fuzz
DOCS      ?= build-docs
PACKAGE   ?= build-package
# Seconds each fuzz target runs in `make fuzz`, and the targets (all when empty).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
JOBS      ?= $(shell nproc)
# The revision whose doorlinkd bench-serve measures beside this build's.
OLD_SERVER_REV ?= 84abe31
OLD_SERVER     := $(BUILD)/old-server
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# The sanitizers' builds keep line tables only: their reports name every
# file and line, and the compiler takes a tenth less time than with full
# debugging information.
LINE_TABLES := -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1

.PHONY: all deps build test demo fleet-demo bench bench-service bench-serve soak clean windows windows-build windows64-build tsan tsan-build \
	fuzz lint format docs package windows-if-possible

all: build

deps:
	@scripts/install-deps.sh

# The library, doorsim and doorctl, as a host would use them.
build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# The 32-bit Windows DLL, cross-built with MinGW-w64: $(WINDOWS)/doorlink.dll,
# its import library libdoorlink.dll.a, and the programs of the Wine suite.
windows:
	@scripts/install-windows-deps.sh toolchain
	@$(MAKE) --no-print-directory windows-build

windows-build:
	@$(call mingw_build,$(WINDOWS),i686)

# The 32-bit DLL where its cross compiler is installed or can be.
windows-if-possible:
	@scripts/install-windows-deps.sh toolchain || true
	@if command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1; then \
	    $(MAKE) --no-print-directory windows-build; fi

# The 64-bit test build in $(WINDOWS64): the same DLL and Wine suite programs
# for 64-bit Windows, which 64-bit Wine runs where 32-bit programs cannot.
windows64-build:
	@$(call mingw_build,$(WINDOWS64),x86_64)

# A MinGW-w64 build: $(1) the build directory, $(2) the target of
# cmake/toolchain-mingw-$(2).cmake.
mingw_build = cmake -S . -B $(1) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-$(2).cmake \
	    -DCMAKE_BUILD_TYPE=Release -DDOORLINK_WERROR=ON >/dev/null && cmake --build $(1) -j $(JOBS)

# The threads and transport suite built with ThreadSanitizer: only the
# library, the simulator and that suite's test program.
tsan: deps tsan-build
	@cd $(THREADS) && ctest -j 4 --output-on-failure --timeout 300

tsan-build:
	@cmake -S . -B $(THREADS) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug $(LINE_TABLES) -DDOORLINK_TSAN=ON \
	    -DDOORLINK_WERROR=ON -DDOORLINK_BUILD_TOOLS=OFF -DDOORLINK_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(THREADS) --target doorlink_tsan_tests -j $(JOBS)

# clang-tidy with the checks of .clang-tidy over the library (src/ and
# include/), the fleet service (service/src/), doorsim (sim/) and doorctl
# (tools/doorctl/); any finding fails. Only the compilation database is
# configured (nothing is built), without the tests and the benchmarks, in
# the batches of the unity build (scripts/lint.sh says why).
# Then clang-format: a C or C++ file that make format would change fails.
lint:
	@scripts/install-deps.sh --lint
	@scripts/format.sh --check
	@cmake -S . -B $(LINTBUILD) $(CMAKE_GEN) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DDOORLINK_BUILD_TESTS=OFF \
	    -DDOORLINK_BUILD_TOOLS=ON -DDOORLINK_BUILD_BENCH=OFF -DDOORLINK_UNITY=ON >/dev/null
	@scripts/lint.sh $(LINTBUILD) $(JOBS)

# Rewrites every C and C++ file with clang-format-14 and .clang-format.
format:
	@scripts/install-deps.sh --lint
	@scripts/format.sh

# The release in $(PACKAGE) (scripts/package.sh): the Debian packages
# libdoorlink0, libdoorlink-dev and doorlink-tools, from a Release build with
# prefix /usr (in $(PACKAGE)/work/deb), checked by lintian, whose errors fail;
# the Windows zip (from $(WINDOWS), where the 32-bit cross compiler is
# installed or can be); the Python wheel; the source archive with its
# checksum.
package: deps
	@scripts/install-deps.sh --deb
	@$(MAKE) --no-print-directory windows-if-possible
	@scripts/package.sh $(PACKAGE) $(JOBS) $(WINDOWS)

# Every test, built with AddressSanitizer and UndefinedBehaviorSanitizer, the
# ThreadSanitizer suite, the replay of the fuzz corpus, and the Windows suite:
# the 32-bit DLL under Wine and the 64-bit test build under 64-bit Wine (each
# skipped, saying why, where its cross compiler or Wine cannot be installed,
# the 32-bit one also on a kernel that runs no 32-bit programs); the
# packages of make package, installed and used as a user does; and make
# lint, run beside the tests.
test: deps
	@scripts/install-deps.sh --windows
	@scripts/install-deps.sh --csharp
	@scripts/install-deps.sh --docs || echo "API reference check: doxygen is missing; its test will be skipped" >&2
	@scripts/install-deps.sh --wireshark
	@$(MAKE) --no-print-directory package
	@if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then \
	    $(MAKE) --no-print-directory windows64-build; fi
	@$(MAKE) --no-print-directory tsan-build
	@cmake -S . -B $(SANITIZED) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug $(LINE_TABLES) -DDOORLINK_SANITIZE=ON \
	    -DDOORLINK_WERROR=ON -DDOORLINK_BUILD_BENCH=OFF -DDOORLINK_UNITY=ON \
	    -DDOORLINK_WINDOWS_BUILD=$(abspath $(WINDOWS)) -DDOORLINK_WINDOWS64_BUILD=$(abspath $(WINDOWS64)) \
	    -DDOORLINK_TSAN_BUILD=$(abspath $(THREADS)) -DDOORLINK_PACKAGE_DIR=$(abspath $(PACKAGE)) >/dev/null
	@cmake --build $(SANITIZED) -j $(JOBS)
	@scripts/install-deps.sh --lint
	@# Lint beside the tests, at the lowest priority: most tests wait on
	@# sockets and processes, and leave the processors to it.
	@nice -n 19 $(MAKE) --no-print-directory lint >$(SANITIZED)/lint.log 2>&1 & linting=$$!; \
	    (cd $(SANITIZED) && ctest -j 8 --output-on-failure --timeout 300); tested=$$?; \
	    wait $$linting; linted=$$?; cat $(SANITIZED)/lint.log; \
	    [ $$tested -eq 0 ] && [ $$linted -eq 0 ]

# The fuzz targets of tests/fuzz, built with clang and libFuzzer in $(FUZZ),
# each run for $(FUZZ_SECONDS) seconds from its seed corpus; see
# scripts/fuzz.sh for where findings go.
fuzz:
	@scripts/install-deps.sh --fuzz
	@cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DDOORLINK_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ) --target doorlink_fuzzers -j $(JOBS)
	@scripts/fuzz.sh $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The API reference: HTML from include/doorlink/doorlink.h with doxygen in
# $(DOCS)/html; any doxygen warning fails it.
docs:
	@scripts/install-deps.sh --docs
	@scripts/docs.sh $(DOCS)

demo: build
	@mkdir -p $(BUILD)/demo
	@DOORLINK_HOME=$(CURDIR)/$(BUILD)/demo $(BUILD)/bin/doorctl demo

# A fleet to look at in the browser (service/demo/fleet_demo.py): doorsim
# with 20 controllers on two sites, a SQLite database in a temporary
# directory with schedules, groups and 300 people applied to them and one
# change planned, and doorlinkd serve; prints the URL, the admin token and
# the waiting plan. Ctrl-C stops everything and removes the directory.
fleet-demo: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) --target doorlinkd doorsim -j $(JOBS)
	@service/demo/fleet_demo.py $(BUILD)

# Every benchmark, five repetitions each; the run ends with a table of the
# medians: each figure beside its floor, their ratio and its goal, how
# conversion, download and read-back grow, and peak memory. BENCH_ARGS adds
# options, e.g. BENCH_ARGS=--benchmark_filter=Concurrent.
bench: build
	@$(BUILD)/bin/doorlink_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
	    --benchmark_display_aggregates_only=true $(BENCH_ARGS)

# doorlinkd's benchmark (bench/service/run.py): sync of 250 simulated
# controllers with 5,000 cards each and an archive of 200 records with photos
# each, beside their floor, with peak memory and growth (tens of minutes).
bench-service: build
	@bench/service/run.py $(BUILD) $(SERVICE_BENCH_ARGS)

# doorlinkd serve (bench/service/serve.py): with 250 monitored controllers,
# push-to-MQTT latency, API latency during a sync and resident memory; then
# 500 trickling clients, 1,000 event streams, requests per second beside the
# old server's, and the memory of a 16 MiB import of bad rows. SERVE_BENCH_ARGS
# adds options, e.g. SERVE_BENCH_ARGS="--only trickle,streams".
bench-serve: build $(OLD_SERVER)/bin/doorlinkd
	@/usr/bin/python3 bench/service/serve.py $(BUILD) --old-doorlinkd $(OLD_SERVER)/bin/doorlinkd $(SERVE_BENCH_ARGS)

# doorlinkd of OLD_SERVER_REV, the server before its HTTP server became
# asynchronous: bench-serve measures it beside this build. Built once (Release,
# only doorlinkd) and kept; remove $(OLD_SERVER) to build it again.
$(OLD_SERVER)/bin/doorlinkd:
	@rm -rf $(OLD_SERVER)-src && mkdir -p $(OLD_SERVER)-src
	@git archive $(OLD_SERVER_REV) | tar -x -C $(OLD_SERVER)-src
	@cmake -S $(OLD_SERVER)-src -B $(OLD_SERVER) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DDOORLINK_UNITY=ON \
	    -DDOORLINK_BUILD_TESTS=OFF -DDOORLINK_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(OLD_SERVER) --target doorlinkd -j $(JOBS)

# The lossy-network soak at full size (make test runs it reduced): a 5,000-card
# download and read-back, 200 records with photos, a 640-record transfer and
# 100 pushed photos, under 5% loss, 10% duplication and reordering.
soak: build
	@time scripts/soak.sh $(BUILD)/bin/doorlink_tests

clean:
	rm -rf $(BUILD) $(SANITIZED) $(THREADS) $(WINDOWS) $(WINDOWS64) $(FUZZ) $(LINTBUILD) $(PACKAGE)

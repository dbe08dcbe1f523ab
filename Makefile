# The two commands of the quick start: `make demo` and `make test`.
BUILD     ?= build
SANITIZED ?= build-asan
JOBS      ?= $(shell nproc)
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps build test demo bench clean

all: build

deps:
	@scripts/install-deps.sh

# The library, doorsim and doorctl, as a host would use them.
build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Every test, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	@cmake -S . -B $(SANITIZED) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DDOORLINK_SANITIZE=ON \
	    -DDOORLINK_WERROR=ON -DDOORLINK_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(SANITIZED) -j $(JOBS)
	@cd $(SANITIZED) && ctest -j 8 --output-on-failure --timeout 300

demo: build
	@mkdir -p $(BUILD)/demo
	@DOORLINK_HOME=$(CURDIR)/$(BUILD)/demo $(BUILD)/bin/doorctl demo

bench: build
	@$(BUILD)/bin/doorlink_bench

clean:
	rm -rf $(BUILD) $(SANITIZED)

# Convenience wrapper around CMake.  `make test` builds and runs every test;
# `make test-sanitize` does the same under AddressSanitizer and UBSan.
JOBS ?= $(shell nproc)
BUILD ?= build
BUILD_SAN ?= build-asan

.PHONY: all build test test-sanitize run clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=Debug -DTRELIX_SANITIZE=ON >/dev/null
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

run: build
	@echo "trelix: the launcher is not built yet; 'make build' builds the runtime kernel and its tests."

clean:
	rm -rf $(BUILD) $(BUILD_SAN)

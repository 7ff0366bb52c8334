# Convenience wrapper around CMake.  `make test` builds and runs every test;
# `make test-sanitize` does the same under AddressSanitizer and UBSan;
# `make test-tsan` runs the I/O library's tests under ThreadSanitizer.
# EMULATOR=qemu-i386 runs every built program under that emulator even where
# the kernel runs 32-bit programs itself (the default is to probe); OFF
# forces native runs.
JOBS ?= $(shell nproc)
BUILD ?= build
BUILD_SAN ?= build-asan
BUILD_TSAN ?= build-tsan
EMULATOR ?=

# Configure quietly, but show the lines that say how programs will run.
configure = cmake -S . -B $(1) -DTRELIX_EMULATOR=$(EMULATOR) $(2) > $(1).configure.log 2>&1 \
	|| { cat $(1).configure.log; exit 1; }; grep '^-- trelix' $(1).configure.log || true

.PHONY: all build test test-sanitize test-tsan run clean

all: build

build:
	@$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	@$(call configure,$(BUILD_SAN),-DCMAKE_BUILD_TYPE=Debug -DTRELIX_SANITIZE=ON)
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

# The I/O library alone, native 64-bit, under ThreadSanitizer (no 32-bit
# runtime exists for it).
test-tsan:
	@cmake -S tests/vrio_tsan -B $(BUILD_TSAN) > $(BUILD_TSAN).configure.log 2>&1 \
		|| { cat $(BUILD_TSAN).configure.log; exit 1; }
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	cd $(BUILD_TSAN) && ctest --output-on-failure -j $(JOBS)

# trelix with its embedded states, run in the scratch folder build/run
# (through the emulator where the build uses one).
run: build
	cmake --build $(BUILD) --target run_trelix

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_TSAN) $(BUILD).configure.log $(BUILD_SAN).configure.log \
		$(BUILD_TSAN).configure.log

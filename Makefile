BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
JOBS ?= $(shell nproc)

.PHONY: all build deps sanitize test fuzz bench demo example-image install format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: deps build sanitize
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer; any report fails it.
sanitize:
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DFWBFORGE2_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)

# Each harness for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=300 for a longer run).
fuzz: deps
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: deps build
	scripts/bench.sh $(BUILD_DIR)

demo: deps build
	scripts/demo.sh $(BUILD_DIR)

# Regenerates the example's base image; the tests check that the committed one matches.
example-image: build
	$(BUILD_DIR)/examples/make_example_image examples/example-base.fwb 262144 65536 4096 2026

install: build
	cmake --install $(BUILD_DIR)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)

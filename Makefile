BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: all build deps test bench demo example-image install format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: deps build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

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
	rm -rf $(BUILD_DIR)

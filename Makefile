BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
PORTABLE_DIR ?= build-portable
COVERAGE_DIR ?= build-coverage
FUZZ_DIR ?= build-fuzz
WINDOWS_DIR ?= build-windows
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 10
JOBS ?= $(shell nproc)

.PHONY: python all build deps sanitize portable coverage test fuzz bench demo example-image install format clean \
	windows-deps windows test-windows package package-deb package-zip

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Debian's own interpreter, which python3-dev and python3-pytest are for: another
# python3 earlier on PATH may be a different build that cannot load the module.
PYTHON = /usr/bin/python3

# The Python module into $(BUILD_DIR)/python (PYTHONPATH=$(BUILD_DIR)/python imports it).
python: deps $(BUILD_DIR)/CMakeCache.txt
	cmake -S . -B $(BUILD_DIR) -DFWBFORGE2_PYTHON=ON -DPython_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: deps python sanitize portable
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)
	ctest --test-dir $(PORTABLE_DIR) --output-on-failure -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer; any report fails it.
sanitize:
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DFWBFORGE2_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)

# The POSIX layer without Linux's own calls (named temporary files, block copies), as macOS
# and the BSDs build it, so that those paths are tested on every run.
portable:
	cmake -S . -B $(PORTABLE_DIR) -DCMAKE_BUILD_TYPE=Release -DFWBFORGE2_PORTABLE_POSIX=ON
	cmake --build $(PORTABLE_DIR) -j $(JOBS)

# The plain suite built with gcov instrumentation; prints the line and branch summary of the
# four libraries' folders and leaves an HTML report in $(COVERAGE_DIR)/coverage/index.html.
COVERED = --filter '$(CURDIR)/(app|common|image|provisioning_data)/'
coverage: deps
	@scripts/install-deps.sh coverage
	cmake -S . -B $(COVERAGE_DIR) -DCMAKE_BUILD_TYPE=Debug -DFWBFORGE2_COVERAGE=ON
	cmake --build $(COVERAGE_DIR) -j $(JOBS)
	find $(COVERAGE_DIR) -name '*.gcda' -delete
	ctest --test-dir $(COVERAGE_DIR) -j $(JOBS) > $(COVERAGE_DIR)/ctest.log || \
		{ tail -40 $(COVERAGE_DIR)/ctest.log; exit 1; }
	mkdir -p $(COVERAGE_DIR)/coverage
	cd $(COVERAGE_DIR) && gcovr -r $(CURDIR) $(COVERED) --exclude-unreachable-branches \
		--exclude-throw-branches --html-details coverage/index.html --print-summary . | tail -3

# Each harness for FUZZ_SECONDS (make fuzz FUZZ_SECONDS=300 for a longer run).
fuzz: deps
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# Every bench runs; any failing its bars fails the target.
bench: deps python
	status=0; scripts/bench.sh $(BUILD_DIR) || status=1; \
		scripts/bench-batch.sh $(BUILD_DIR) || status=1; \
		scripts/bench-floor.sh $(BUILD_DIR) || status=1; \
		scripts/bench-inspect.sh $(BUILD_DIR) || status=1; \
		scripts/bench-pathological.sh $(BUILD_DIR) || status=1; \
		scripts/bench-fwbdata.sh $(BUILD_DIR) || status=1; \
		scripts/bench-python.sh $(BUILD_DIR) || status=1; exit $$status

# Only the programs the demo runs: no tests, fuzzers or benches to wait for.
DEMO_TARGETS = fwbforge2 fwbinspect fwbdata
demo: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(DEMO_TARGETS)
	scripts/demo.sh $(BUILD_DIR)

# Regenerates the example's base image; the tests check that the committed one matches.
example-image: build
	$(BUILD_DIR)/examples/make_example_image examples/example-base.fwb 262144 65536 4096 2026

install: python
	cmake --install $(BUILD_DIR)

# Windows: cross-built with mingw-w64 against target libraries built into $(WINDOWS_DIR)/deps,
# tests run under wine64 in the throwaway prefix $(WINDOWS_DIR)/wine.
WINDOWS_CMAKE = --toolchain $(CURDIR)/cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	-DFWBFORGE2_WINDOWS_PREFIX=$(abspath $(WINDOWS_DIR))/deps -DFWBFORGE2_WINEPREFIX=$(abspath $(WINDOWS_DIR))/wine

windows-deps:
	@scripts/install-deps.sh windows
	scripts/windows-deps.sh $(WINDOWS_DIR)
	cmake -S cmake/windows-check -B $(WINDOWS_DIR)/check $(WINDOWS_CMAKE)
	cmake --build $(WINDOWS_DIR)/check -j $(JOBS)
	scripts/wine-session.sh $(WINDOWS_DIR)/wine ctest --test-dir $(WINDOWS_DIR)/check --output-on-failure

# Tests are listed when ctest runs them, so building needs no wine.
$(WINDOWS_DIR)/CMakeCache.txt: | windows-deps
	cmake -S . -B $(WINDOWS_DIR) $(WINDOWS_CMAKE) -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST

package-deb: python
	cd $(BUILD_DIR) && cpack -G DEB

windows: windows-deps $(WINDOWS_DIR)/CMakeCache.txt
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

test-windows: windows
	scripts/wine-session.sh $(WINDOWS_DIR)/wine ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j $(JOBS)

package-zip: windows
	cd $(WINDOWS_DIR) && cpack -G ZIP

package: package-deb package-zip

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(PORTABLE_DIR) $(COVERAGE_DIR) $(FUZZ_DIR) $(WINDOWS_DIR)

# SPDX-License-Identifier: MIT
# Short commands; CMake does the real work in build/ (the folder of the
# `default` preset). Extra CMake settings go in CMAKE_ARGS.
BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build run test bench package format windows windows-package clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DCMAKE_EXPORT_COMPILE_COMMANDS=ON $(CMAKE_ARGS) > /dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ -x $(BUILD_DIR)/app/glitchwerk ]; then $(BUILD_DIR)/app/glitchwerk; \
	else echo "The Glitchwerk program is not built yet."; fi

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	@if [ -x $(BUILD_DIR)/bench/glitchwerk_bench ]; then $(BUILD_DIR)/bench/glitchwerk_bench; \
	else echo "The benchmarks are not built yet."; fi

package: build
	@cmake --build $(BUILD_DIR) --target package

format:
	@command -v clang-format > /dev/null || { echo "Needs clang-format: apt-get install clang-format"; exit 1; }
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# The engine and its tests built for Windows and run under Wine.
windows:
	@scripts/install-deps.sh --windows
	@scripts/windows-tests.sh

# The Windows zip and installer, in build-mingw/package.
windows-package:
	@scripts/install-deps.sh --windows
	@scripts/windows-package.sh

clean:
	@rm -rf $(BUILD_DIR) build-debug build-sanitize build-mingw

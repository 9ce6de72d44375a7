# Short commands; CMake does the real work in build/.
BUILD_DIR  ?= build
BUILD_TYPE ?= Release
JOBS       ?= $(shell nproc)

.PHONY: all deps configure build run test bench package format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) > /dev/null

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

clean:
	@rm -rf $(BUILD_DIR)

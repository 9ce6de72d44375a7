# SPDX-License-Identifier: MIT
# The commands of glitchwerk.sh, for those used to make: `make run` is
# `./glitchwerk.sh run`, and so on. BUILD_TYPE, CMAKE_ARGS and JOBS reach it.
export BUILD_TYPE CMAKE_ARGS JOBS

.PHONY: all build run test bench package windows windows-package format clean deps

all: build

build run test bench package windows windows-package format clean:
	@./glitchwerk.sh $@

# Every package but those of the Windows build and of continuous integration.
deps:
	@./glitchwerk.sh deps run test bench package

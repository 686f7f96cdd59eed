# Thin wrapper over CMake. `make` builds, `make test` runs every test,
# `make demo` shows the program at work on a private bus, `make bench` measures it.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all setup build test demo bench clean

all: build

setup:
	@scripts/setup.sh

build: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

bench: build
	@scripts/bench.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-*

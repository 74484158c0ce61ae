# Two entry points for a fresh machine:
#   make demo  - installs what is missing, builds, and runs the simulated logger demo
#   make test  - installs what is missing, builds with the sanitizers and runs every test
JOBS ?= 2

.PHONY: all deps build test demo bench clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake --preset release >/dev/null
	cmake --build build/release -j$(JOBS)

test: deps
	cmake --preset asan >/dev/null
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)

demo: build
	bash scripts/demo.sh build/release

bench: build
	bash scripts/bench.sh build/release

clean:
	rm -rf build

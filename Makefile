# Two entry points for a fresh machine:
#   make demo  - installs what is missing, builds, and runs the simulated logger demo
#   make test  - installs what is missing, builds with the sanitizers and runs every test
JOBS ?= 2

# The demo needs only the three programs; the tests and benchmarks build with `make test` and
# `make bench`.
PROGRAMS = klx klx-sim klx-gui

.PHONY: all deps programs build test demo bench layers clean

all: build

deps:
	@bash scripts/install-deps.sh

programs: deps
	cmake --preset release >/dev/null
	cmake --build build/release -j$(JOBS) --target $(PROGRAMS)

build: deps
	cmake --preset release >/dev/null
	cmake --build build/release -j$(JOBS)

layers:
	@bash scripts/check-layers.sh

test: deps layers
	cmake --preset asan >/dev/null
	cmake --build build/asan -j$(JOBS)
	ctest --test-dir build/asan --output-on-failure -j$(JOBS)

demo: programs
	bash scripts/demo.sh build/release

bench: build
	bash scripts/bench.sh build/release

clean:
	rm -rf build

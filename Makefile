# Two entry points for a fresh machine:
#   make demo  - installs what is missing, builds, and runs the simulated logger demo
#   make test  - installs what is missing, builds with the sanitizers and runs every test
# and for the parsers of outside input:
#   make fuzz  - builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (60)
JOBS ?= 2
FUZZ_SECONDS ?= 60

# The demo needs only the three programs; the tests and benchmarks build with `make test` and
# `make bench`.
PROGRAMS = klx klx-sim klx-gui

.PHONY: all deps programs build test demo bench layers fuzz clean

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

fuzz:
	@bash scripts/install-deps.sh --fuzz
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS) --target fuzz_targets
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) bash scripts/fuzz.sh build/fuzz

demo: programs
	bash scripts/demo.sh build/release

bench: build
	bash scripts/bench.sh build/release

clean:
	rm -rf build

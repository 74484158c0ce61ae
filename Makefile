# Two entry points for a fresh machine:
#   make demo  - installs what is missing, builds, and runs the simulated logger demo
#   make test  - installs what is missing, builds with the sanitizers and runs every test
# and for the parsers of outside input:
#   make fuzz  - builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS (60)
# and for retrieval under random faults:
#   make soak  - retrieves every simulated family for SOAK_SEEDS (300) seeds, prints the figures
JOBS ?= 2
FUZZ_SECONDS ?= 60
SOAK_SEEDS ?= 300

# The demo needs only the three programs; the tests and benchmarks build with `make test` and
# `make bench`.
PROGRAMS = klx klx-sim klx-gui

.PHONY: all deps programs build test demo bench layers fuzz soak clean

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

soak: deps
	cmake --preset asan >/dev/null
	cmake --build build/asan -j$(JOBS) --target retrieval_soak_tests
	KLX_SOAK_SEEDS=$(SOAK_SEEDS) build/asan/tests/retrieval_soak_tests

demo: programs
	bash scripts/demo.sh build/release

bench: build
	bash scripts/bench.sh build/release

clean:
	rm -rf build

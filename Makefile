# The two commands of the README: `make demo` and `make test`. Both install what is missing
# (scripts/setup.sh), configure and build in build/.

BUILD_DIR  ?= build
BUILD_TYPE ?= RelWithDebInfo
PREFIX     ?= /usr/local
# Two jobs at most by default: the machines this is built on have two cores.
JOBS       ?= $(shell n=$$(nproc 2>/dev/null || echo 1); [ $$n -gt 2 ] && n=2; echo $$n)

MAKEFLAGS += --no-print-directory

.PHONY: all setup configure build test demo bench install clean mutants

all: build

setup:
	scripts/setup.sh

configure: setup
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j$(JOBS)

demo: build
	$(BUILD_DIR)/tools/oxmail/oxmail demo

# Every program built from bench/*_bench.cpp, then every bench/*_bench.sh (whole-program runs,
# given the build directory), one after the other.
bench: build
	@set -e; found=0; \
	for src in bench/*_bench.cpp; do \
	  [ -e "$$src" ] || continue; found=1; \
	  prog=$(BUILD_DIR)/bench/$$(basename "$$src" .cpp); \
	  echo "== $$prog"; "$$prog"; \
	done; \
	for script in bench/*_bench.sh; do \
	  [ -e "$$script" ] || continue; found=1; \
	  echo "== $$script"; bash "$$script" $(BUILD_DIR); \
	done; \
	[ $$found -eq 1 ] || echo "no benchmarks in bench/ yet"

# A mutation sample of N sites picked with SEED, built and tested in build-mutants/ (a copy of the
# tree with its own build); not part of `make test`. Report: build-mutants/report.txt.
SEED ?= 1
N    ?= 20
mutants: setup
	scripts/mutants.sh --seed $(SEED) --count $(N) --jobs $(JOBS)

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR)

# Quarvo: the two commands a newcomer needs are `make demo` and `make test`.
# Both install missing Debian packages first, then configure and build in build/.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
SANITIZE ?= OFF
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 5

.PHONY: all deps configure build test package demo sanitize mutants fuzz-build fuzz fuzz-smoke fuzz-seeds clean help

all: build

help:
	@echo "make demo      install what is missing, build, and run the demonstration session"
	@echo "make test      install what is missing, build, and run every test (headless, in parallel)"
	@echo "make build     configure and build only"
	@echo "make package   build the Debian package build/quarvo_<version>_<arch>.deb"
	@echo "make sanitize  build and test with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/)"
	@echo "make mutants   plant each small fault of scripts/mutants.txt in a copy (build-mutants/) and see whether the tests catch it (long; MUTANTS_ARGS=--help)"
	@echo "make fuzz      build the fuzz targets with clang (build-fuzz/) and run each for FUZZ_SECONDS (60)"
	@echo "make fuzz-smoke  the same for FUZZ_SMOKE_SECONDS (5) each: the corpus and a short run, as CI does"
	@echo "make fuzz-seeds  rewrite the seed corpora in fuzz/corpus/"
	@echo "make clean     remove the build folders"

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUARVO_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS) --timeout 300

package: build
	@cmake --build $(BUILD_DIR) --target package

demo: build
	@QT_QPA_PLATFORM=$${QT_QPA_PLATFORM:-offscreen} $(BUILD_DIR)/host/quarvo-host demo --build-dir $(BUILD_DIR)

sanitize:
	@$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug SANITIZE=ON

mutants: deps
	@bash scripts/mutants.sh -j $(JOBS) $(MUTANTS_ARGS)

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVO_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz: fuzz-build
	@bash scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	@bash scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)

fuzz-seeds: fuzz-build
	@$(FUZZ_DIR)/fuzz/fuzz_seeds fuzz/corpus

clean:
	rm -rf build build-asan build-mutants $(FUZZ_DIR)

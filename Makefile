# The two commands of the README: `make demo` and `make test`. Everything else builds on them.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan demo run bench fuzz soak package format screenshots clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B $(BUILD_ASAN) -DKADMEL_SANITIZE=ON -DKADMEL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(BUILD_ASAN) -j $(JOBS)
	@cd $(BUILD_ASAN) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)

run: build
	@$(BUILD)/kadmel

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; echo "== $$(basename $$b)"; "$$b" || exit 1; done

fuzz:
	@bash scripts/install-deps.sh clang libclang-rt-14-dev
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DKADMEL_FUZZ=ON -DKADMEL_TESTS=OFF -DKADMEL_BENCH=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS) --target $$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$$//')
	@bash scripts/run-fuzzers.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

soak: build
	@$(BUILD)/tests/soak 500
	@$(BUILD)/tests/soak --retry 500
	@$(BUILD)/tests/soak --kill 20

package:
	@bash scripts/install-deps.sh dpkg-dev file lintian appstream desktop-file-utils
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B $(BUILD)-package -DCMAKE_BUILD_TYPE=Release -DKADMEL_TESTS=OFF -DKADMEL_BENCH=OFF \
		-DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD)-package -j $(JOBS) --target kadmel kadmel_docs
	@rm -f $(BUILD)-package/kadmel_*.deb
	@cd $(BUILD)-package && cpack -G DEB >/dev/null
	@bash scripts/check-package.sh $(BUILD)-package/kadmel_*.deb

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

clean:
	@rm -rf $(BUILD) $(BUILD_ASAN)

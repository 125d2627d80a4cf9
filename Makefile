# VGL: the two commands a newcomer needs are `make test` and `make run`.
# The main tree is the Release build that packagers and most users make;
# BUILD_TYPE=RelWithDebInfo (or Debug) gives one to step through.
BUILD      ?= build
BUILD_TYPE ?= Release
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# CCACHE=1 compiles through ccache: slower when the cache is cold, far faster
# when it holds the objects (another clone, a branch switched back, a clean).
CCACHE     ?= 0
CACHE_ARG   = -DVGL_CCACHE=$(if $(filter 1 ON on yes,$(CCACHE)),ON,OFF)

.PHONY: all deps configure build test test-asan test-tsan run bench package format clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVGL_WERROR=ON $(CACHE_ARG) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite on the Release build with warnings as errors, then the
# core and the proxy with their tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, so that memory faults fail the build, and under
# ThreadSanitizer, so that races between a session and its worker do.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan
	$(MAKE) test-tsan

# The sanitizer trees hold the core and the proxy only, configured where Qt
# cannot even be found: what builds and passes there needs no Qt.
CORE_ONLY = -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVGL_WITH_GUI=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
            -DVGL_BENCHMARKS=OFF -DVGL_WERROR=ON $(CACHE_ARG)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CORE_ONLY) -DVGL_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CORE_ONLY) -DVGL_SANITIZE_THREAD=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Builds only what it runs.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target vgl vgl-demo-monitor
	scripts/run-demo $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

# The Debian package, from the Release build: $(BUILD)/package/vgl_*.deb.
package: build
	cd $(BUILD) && cpack -G DEB

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)

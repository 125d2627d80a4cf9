# VGL: the two commands a newcomer needs are `make test` and `make run`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
RELEASE_BUILD ?= build-release
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build test test-asan test-tsan test-release run bench package format clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVGL_WERROR=ON $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite, then the core and its tests once more under AddressSanitizer
# and UndefinedBehaviorSanitizer, so that memory faults fail the build, and
# under ThreadSanitizer, so that races between a session and its worker do;
# last, the Release build that packagers and most users make must compile.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan
	$(MAKE) test-tsan
	$(MAKE) test-release

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVGL_WITH_GUI=OFF -DVGL_SANITIZE=ON -DVGL_WERROR=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVGL_WITH_GUI=OFF -DVGL_SANITIZE_THREAD=ON -DVGL_WERROR=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# As anyone else builds it: optimised, warnings left as warnings.
test-release: deps
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVGL_WERROR=OFF $(CMAKE_ARGS)
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

run: build
	scripts/run-demo $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

# The Debian package, from the Release build: $(RELEASE_BUILD)/package/vgl_*.deb.
package: test-release
	cd $(RELEASE_BUILD) && cpack -G DEB

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(RELEASE_BUILD)

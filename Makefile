# Front door to the CMake build: `make run` and `make test`.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
TSAN_DIR := build/tsan
RELEASE_TEST_DIR := build/release-tests
TOOLS_DIR := build/tools
PACKAGE_DIR := build/package
PREFIX ?= /usr/local
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench tools -name '*.cpp' -o -name '*.h')

# Renders the windows offscreen into docs/screenshots.
.PHONY: screenshots all deps build run test test-build tsan-build release-test-build check-format \
	format bench install package clean

all: build

screenshots: deps
	cmake -S . -B $(TOOLS_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF -DQEVRA_BENCH=OFF
	cmake --build $(TOOLS_DIR) -j$(JOBS) --target qevra-screenshots
	$(TOOLS_DIR)/tools/qevra-screenshots docs/screenshots

deps:
	@scripts/install-deps

# The program alone: no tests, benchmarks or tools.
build: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF -DQEVRA_BENCH=OFF \
		-DQEVRA_TOOLS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS) --target qevra qevra-find

run: build
	$(RELEASE_DIR)/src/qevra

test-build: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DQEVRA_SANITIZE=ON -DQEVRA_BENCH=ON
	cmake --build $(TEST_DIR) -j$(JOBS)

# The engine alone, with ThreadSanitizer: the content stage is multi-threaded.
tsan-build: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEVRA_TSAN=ON -DQEVRA_UI=OFF \
		-DQEVRA_BENCH=OFF
	cmake --build $(TSAN_DIR) -j$(JOBS)

# Every build type builds under -Werror: the optimised one with its tests and
# benchmarks too (GCC warns differently once it inlines).
release-test-build: deps
	cmake -S . -B $(RELEASE_TEST_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_BENCH=ON
	cmake --build $(RELEASE_TEST_DIR) -j$(JOBS)

test: test-build tsan-build release-test-build check-format
	cd $(TEST_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	cd $(TSAN_DIR) && ctest --output-on-failure -j$(JOBS)

check-format:
	@clang-format --dry-run --Werror $(SOURCES) && echo "clang-format: clean"

format:
	clang-format -i $(SOURCES)

bench: deps
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF -DQEVRA_BENCH=ON
	cmake --build build/bench -j$(JOBS)

# Installs the program, its desktop entry, icon and metadata under PREFIX
# (e.g. `make install PREFIX=~/.local`).
install: build
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# The Debian package, from a release build of its own: build/package/qevra_*.deb.
package: deps
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF -DQEVRA_BENCH=OFF \
		-DQEVRA_TOOLS=OFF
	cmake --build $(PACKAGE_DIR) -j$(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB

clean:
	rm -rf build

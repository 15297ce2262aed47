# Front door to the CMake build: `make run` and `make test`.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
PACKAGE_DIR := build/package
PREFIX ?= /usr/local
SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench tools -name '*.cpp' -o -name '*.h')

# Renders the windows offscreen into docs/screenshots.
.PHONY: screenshots all deps build run test test-build check-format format bench install package clean

all: build

screenshots: build
	$(RELEASE_DIR)/tools/qevra-screenshots docs/screenshots

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j$(JOBS)

run: build
	$(RELEASE_DIR)/src/qevra

test-build: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DQEVRA_SANITIZE=ON -DQEVRA_BENCH=ON
	cmake --build $(TEST_DIR) -j$(JOBS)

test: test-build check-format
	cd $(TEST_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

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
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DQEVRA_TESTS=OFF -DQEVRA_BENCH=OFF
	cmake --build $(PACKAGE_DIR) -j$(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB

clean:
	rm -rf build

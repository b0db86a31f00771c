# The two commands of the README: `make run` builds and starts Vellmir,
# `make test` builds everything and runs every test. Both install what they
# need first.
JOBS ?= $(shell nproc)

.PHONY: all deps packages run build test test-linux test-windows package test-package bench clean format format-check

all: build

# Debian packages, then the Flash emulator from the npm lock file (again only
# when the lock file changes).
deps: packages node_modules/.package-lock.json

packages:
	./scripts/install-deps.sh

node_modules/.package-lock.json: package.json package-lock.json | packages
	npm ci --no-audit --no-fund

build: deps
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

# With the placeholder game host, against the demo game (scripts/run.sh).
run: build
	./scripts/run.sh build/linux

test: deps
	$(MAKE) format-check
	$(MAKE) test-linux
	$(MAKE) test-windows
	$(MAKE) test-package

test-linux:
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j $(JOBS)
	ctest --preset linux-asan -j $(JOBS)
	cmake --preset linux-tsan
	cmake --build --preset linux-tsan -j $(JOBS)
	ctest --preset linux-tsan
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	ctest --preset fuzz

test-windows:
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	ctest --preset mingw

# What a player installs, in build/package/: the Debian package from the
# release build, the Windows installer and the portable zip from the MinGW
# build.
package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	rm -rf build/package
	cpack --config build/release/CPackConfig.cmake -B build/package
	cpack --config build/mingw/CPackConfig.cmake -B build/package
	rm -rf build/package/_CPack_Packages

# The packages tested as a player uses them (tests/e2e/test_package_*.py);
# with CI=true, as root, the .deb is also installed and purged for real.
# Each build's game host (and Wine) as its CMake cache has them.
cache_value = $$(sed -n 's/^$(2):[A-Z]*=//p' $(CURDIR)/build/$(1)/CMakeCache.txt)
test-package: package
	cd tests/e2e && VELLMIR_GAME_HOST=$(call cache_value,release,VELLMIR_GAME_HOST) \
		python3 -B -m unittest -v test_package_deb
	cd tests/e2e && VELLMIR_GAME_HOST=$(call cache_value,mingw,VELLMIR_GAME_HOST) \
		VELLMIR_WINE=$(call cache_value,mingw,VELLMIR_WINE) python3 -B -m unittest -v test_package_windows

bench: deps
	bench/run.sh

# Formats the C/C++ lines changed since BASE (default: the upstream of the
# branch, else the previous commit); format-check checks them.
FORMAT_BASE ?= $(shell git rev-parse -q --verify '@{upstream}' 2>/dev/null || echo HEAD~1)
format:
	scripts/check-format.sh --fix $(FORMAT_BASE)

format-check:
	scripts/check-format.sh HEAD~1

clean:
	rm -rf build

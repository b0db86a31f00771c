# The two commands of the README: `make run` builds and starts Vellmir,
# `make test` builds everything and runs every test. Both install what they
# need first.
JOBS ?= $(shell nproc)

.PHONY: all deps packages run build test test-linux test-windows bench clean

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
	$(MAKE) test-linux
	$(MAKE) test-windows

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

bench: deps
	bench/run.sh

clean:
	rm -rf build

# The two commands of the README: `make run` builds and starts Vellmir,
# `make test` builds everything and runs every test. Both install what they
# need first.
JOBS ?= $(shell nproc)

.PHONY: all deps run build test test-linux test-windows clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

run: build
	./build/linux/vellmir

test: deps test-linux test-windows

test-linux:
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j $(JOBS)
	ctest --preset linux-asan -j $(JOBS)

test-windows:
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	ctest --preset mingw

clean:
	rm -rf build

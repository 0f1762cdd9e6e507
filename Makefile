# The two commands a newcomer needs: `make demo` and `make test`.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-win32 build-win64 test demo bench clean

all: build

deps:
	@tools/install-deps

build-win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

build-win64: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64

build: build-win32 build-win64

test: build
	ctest --preset win32
	tools/with-wine ctest --preset win64

demo: build
	tools/with-wine demo/run

bench: build
	tools/with-wine bench/run.sh

clean:
	rm -rf build

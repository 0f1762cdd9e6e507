# The two commands a newcomer needs: `make demo` and `make test`.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-win32 build-win64 test test-win32 test-win64 demo bench clean

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
	@$(MAKE) test-win32
	@$(MAKE) test-win64

# Where the machine cannot run i386 code, the x86 Wine cases show as skipped
# and only the x86 build's static checks run.
test-win32:
	@if tools/can-run-i386; then \
	    tools/with-wine win32 ctest --preset win32; \
	else \
	    echo "test-win32: this machine does not run i386 code: the x86 Wine cases are skipped"; \
	    ctest --preset win32; \
	fi

test-win64:
	tools/with-wine win64 ctest --preset win64

# pl3.com is shown as users get it, the x86 build, where the machine runs
# 32-bit programs; the device libraries are for ARM, so their desktop
# stand-ins run in the 64-bit build.
demo: build
	@if tools/can-run-i386; then \
	    tools/with-wine win32 demo/run pl3; \
	else \
	    tools/with-wine win64 demo/run pl3; \
	fi
	@tools/with-wine win64 demo/run sembrin dorvale

bench: build
	tools/with-wine win64 bench/run.sh

clean:
	rm -rf build

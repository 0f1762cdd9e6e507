# The two commands a newcomer needs: `make demo` and `make test`.
SHELL := /bin/bash
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-win32 build-win64 build-wince test test-win32 test-win64 test-wince demo dist dist-pl3-only check-reproducible bench clean

all: build

# Once a run: the sub-makes of `make test` are told it is done.
deps:
	@[ -n "$(DEPS_DONE)" ] || tools/install-deps

build-win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

build-win64: deps
	cmake --preset win64 >/dev/null
	cmake --build --preset win64

# The CE libraries, where a CE compiler is at hand (tools/cegcc-root); where
# none is, the build says why and the wince checks show as skipped.
build-wince: deps
	@if ! root=$$(tools/cegcc-root 2>&1); then echo "build-wince: skipped: $$root"; root=; fi; \
	cmake --preset wince -DCEGCC_ROOT="$$root" >/dev/null; \
	cmake --build --preset wince

build: build-win32 build-win64 build-wince

# Every preset is built, then every one that built is tested, whatever
# became of the one before (the win32 suite signs the CE build's files, so
# all are built first); the run fails at the end, with a line for each
# preset that failed.
test: deps
	@failed=; \
	for preset in win32 win64 wince; do \
	    $(MAKE) DEPS_DONE=1 build-$$preset || failed="$$failed $$preset"; \
	done; \
	for preset in win32 win64 wince; do \
	    case " $$failed " in *" $$preset "*) continue ;; esac; \
	    $(MAKE) DEPS_DONE=1 test-$$preset || failed="$$failed $$preset"; \
	done; \
	for preset in $$failed; do \
	    echo "make test: the $$preset preset failed (make build-$$preset test-$$preset)"; \
	done; \
	[ -z "$$failed" ]

# Where the machine has no 32-bit Wine, the x86 Wine cases show as skipped
# and only the x86 build's static checks run. Each run ends with the reason
# of every case that skipped.
test-win32:
	@if tools/can-run-i386; then \
	    tools/with-wine win32 ctest --preset win32; \
	else \
	    echo "test-win32: this machine has no 32-bit Wine (tools/can-run-i386): the x86 Wine cases are skipped"; \
	    ctest --preset win32; \
	fi; status=$$?; tools/skip-reasons win32; exit $$status

test-win64:
	@tools/with-wine win64 ctest --preset win64; status=$$?; tools/skip-reasons win64; exit $$status

test-wince:
	@ctest --preset wince; status=$$?; tools/skip-reasons wince; exit $$status

# pl3.com is shown as users get it, the x86 build, where the machine runs
# 32-bit programs; the device libraries are for ARM, so their desktop
# builds run in the 64-bit build, and the demo ends with what the CE build
# made.
demo: build
	@if tools/can-run-i386; then \
	    tools/with-wine win32 demo/run pl3; \
	else \
	    tools/with-wine win64 demo/run pl3; \
	fi
	@tools/with-wine win64 demo/run sembrin dorvale
	@demo/run wince

# The files to ship, in build/dist: only what they need is built, once
# make-dist has found nothing to refuse (no CE compiler, an output folder it
# did not make, a signer that would not verify). dist-pl3-only is the
# deliberate partial release, pl3.com alone.
dist: deps
	@tools/make-dist --check
	@$(MAKE) build-wince
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 --target pl3
	@tools/make-dist

dist-pl3-only: deps
	@tools/make-dist --pl3-only --check
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 --target pl3
	@tools/make-dist --pl3-only

# Two builds of the committed tree, from two clones, must give the same bytes.
check-reproducible: deps
	@tools/check-reproducible

bench: build
	tools/with-wine win64 bench/run.sh

clean:
	rm -rf build

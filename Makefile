# Front door. Every target first makes sure the machine has what it needs.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
WERROR ?= ON
NATIVE := build/native
ASAN := build/asan
WIN32 := build/win32
FUZZB := build/fuzz
CMAKE_COMMON := -DCMAKE_BUILD_TYPE=Release -DTRUX_WERROR=$(WERROR)

# make install / make uninstall: where truxpack goes (DESTDIR: a staging root).
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps build native win32 asan demo test bench fuzz clean install uninstall deb docs

all: build

deps:
	@scripts/install-deps

# The runtime stub comes first: truxpack carries dist/trux-stub.exe inside.
win32: deps
	@cmake -S . -B $(WIN32) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN32) -j$(JOBS)
	@mkdir -p dist
	@cp -p $(WIN32)/app/trux-stub.exe dist/trux-stub.exe
	@cp -p $(WIN32)/tests/robot/trux-robot.exe dist/trux-robot.exe

native: win32
	@cmake -S . -B $(NATIVE) $(CMAKE_COMMON) -DTRUX_STUB=$(CURDIR)/dist/trux-stub.exe >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)
	@cp -p $(NATIVE)/tools/truxpack/truxpack dist/truxpack

# The sanitizer tree carries no stub: its tests take the path of a truxpack
# built without one.
asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DTRUX_WERROR=$(WERROR) -DTRUX_SANITIZE=ON -DTRUX_BENCH=OFF -DTRUX_STUB= >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

# dist/: the runtime stub, the authoring tool (carrying the stub) and the UI robot.
build: native win32
	@echo "dist/trux-stub.exe: $$(stat -c %s dist/trux-stub.exe) bytes"
	@echo "dist/truxpack: $$(dist/truxpack --version | tr '\n' ';' | sed 's/;$$//; s/;/; /')"

# truxpack, the UI robot its try command runs, its man page, completions and
# guide under $(DESTDIR)$(PREFIX) (after make build); uninstall removes
# exactly those files.
install:
	@PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" TRUX_NATIVE="$(NATIVE)" TRUX_WIN32="$(WIN32)" scripts/install-files install

uninstall:
	@PREFIX="$(PREFIX)" DESTDIR="$(DESTDIR)" TRUX_NATIVE="$(NATIVE)" TRUX_WIN32="$(WIN32)" scripts/install-files uninstall

# The Debian package of truxpack, in dist/.
deb: build
	@scripts/make-deb dist

# Rewrites the command reference in docs/truxpack.md from truxpack's tables.
docs: native
	@scripts/update-docs

demo: build
	@scripts/demo

test: build asan
	@scripts/run-tests

bench: native win32
	@scripts/bench

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZB) -DCMAKE_BUILD_TYPE=Debug -DTRUX_FUZZ=ON -DTRUX_BENCH=OFF >/dev/null
	@cmake --build $(FUZZB) -j$(JOBS)
	@scripts/fuzz long

clean:
	rm -rf build dist

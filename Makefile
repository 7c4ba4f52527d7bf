# Front door. Every target first makes sure the machine has what it needs.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
WERROR ?= ON
NATIVE := build/native
ASAN := build/asan
WIN32 := build/win32
FUZZB := build/fuzz
CMAKE_COMMON := -DCMAKE_BUILD_TYPE=Release -DTRUX_WERROR=$(WERROR)

.PHONY: all deps build native win32 asan demo test bench fuzz clean

all: build

deps:
	@scripts/install-deps

native: deps
	@cmake -S . -B $(NATIVE) $(CMAKE_COMMON) >/dev/null
	@cmake --build $(NATIVE) -j$(JOBS)

win32: deps
	@cmake -S . -B $(WIN32) $(CMAKE_COMMON) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN32) -j$(JOBS)

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DTRUX_WERROR=$(WERROR) -DTRUX_SANITIZE=ON -DTRUX_BENCH=OFF >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

# dist/: the runtime stub, the authoring tool and the UI robot.
build: native win32
	@mkdir -p dist
	@cp $(WIN32)/app/trux-stub.exe dist/trux-stub.exe
	@cp $(WIN32)/tests/robot/trux-robot.exe dist/trux-robot.exe
	@if [ -f $(NATIVE)/tools/truxpack/truxpack ]; then cp $(NATIVE)/tools/truxpack/truxpack dist/truxpack; fi
	@echo "dist/trux-stub.exe: $$(stat -c %s dist/trux-stub.exe) bytes"

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

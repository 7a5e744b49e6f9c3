# Entry points. Every target installs missing packages first, so a fresh
# Debian 12 machine needs nothing but `make demo` or `make test`.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: all deps efi host host-asan fuzz-build demo test bench fuzz clean

all: efi host

deps:
	@scripts/install-deps.sh
	@scripts/fetch-mbedtls.sh

efi: deps
	@cmake --preset efi >/dev/null
	@cmake --build --preset efi -j $(JOBS)

host: deps
	@cmake --preset host >/dev/null
	@cmake --build --preset host -j $(JOBS)

host-asan: deps
	@cmake --preset host-asan >/dev/null
	@cmake --build --preset host-asan -j $(JOBS)

fuzz-build: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

test: efi host host-asan fuzz-build
	ctest --preset host -j $(JOBS)
	ctest --preset host-asan -j $(JOBS)
	ctest --preset fuzz -j $(JOBS)

demo: efi host
	@tools/demo.sh

bench: host
	@tools/bench.sh

# Longer fuzzing sessions than the smoke runs of `make test`.
fuzz: fuzz-build
	@tools/fuzz.sh

clean:
	rm -rf build

# Entry points. Every target installs missing packages first, so a fresh
# Debian 12 machine needs nothing but `make demo` or `make test`.
SHELL := /bin/bash
JOBS ?= $(shell nproc)

.PHONY: all deps efi host host-asan fuzz-build demo test bench sign fuzz clean

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

# Host benchmarks, then the UEFI image sizes and the OVMF suite's wall time.
bench: host efi
	@tools/bench.sh

# Secure Boot signatures for every image (sbsign) into build/efi/signed/, each
# checked with sbverify. SIGN_KEY/SIGN_CERT (PEM, key unencrypted) name the
# signer; the default is Debian OVMF's snakeoil test key, which the Secure
# Boot variable store of the firmware tests trusts.
sign: efi
	@SIGN_KEY="$(SIGN_KEY)" SIGN_CERT="$(SIGN_CERT)" \
	  scripts/sign-efi.sh build/efi/signed build/efi/*.efi build/efi/tests/*.efi

# Longer fuzzing sessions than the smoke runs of `make test`.
fuzz: fuzz-build
	@tools/fuzz.sh

clean:
	rm -rf build

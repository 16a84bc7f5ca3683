# The front door. Every target installs what it needs first.
.PHONY: all deps run package package-windows test test-asan test-tsan test-windows bench fuzz fuzz-smoke soak format clean

JOBS ?= $(shell nproc)

all: test

deps:
	@scripts/install-deps.sh

run: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target quillane
	scripts/run-device.sh build/release/app/quillane

# The Debian package of the release program, in build/release.
package: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target quillane
	cd build/release && cpack

test: test-asan test-tsan

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# The Windows zip (quillane.exe and README-windows.txt), cross-built, in
# build/windows-release.
package-windows:
	@scripts/install-deps-windows.sh
	cmake --preset windows-release >/dev/null
	cmake --build --preset windows-release -j $(JOBS) --target quillane
	cd build/windows-release && cpack

# The Windows program cross-built with mingw-w64, its tests run under Wine.
test-windows:
	@scripts/install-deps-windows.sh
	scripts/test-windows.sh

# The repeated-use tests (suites named *Soak, which also run in `make test` at
# their quick size), SOAK_FACTOR times longer, under both sanitizer builds.
SOAK_FACTOR ?= 10
soak: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	QUILLANE_SOAK_FACTOR=$(SOAK_FACTOR) ctest --preset asan -R 'Soak\.'
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	QUILLANE_SOAK_FACTOR=$(SOAK_FACTOR) ctest --preset tsan -R 'Soak\.'

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	scripts/run-bench.sh build/bench

# Each fuzz target for FUZZ_SECONDS over its corpus copy in build/fuzz.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target quillane_fuzzers
	scripts/fuzz-run.sh build/fuzz $(FUZZ_SECONDS)

# The CI smoke: every in-tree seed plus a few seconds of fuzzing per target.
fuzz-smoke: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target quillane_fuzzers
	scripts/fuzz-smoke.sh build/fuzz

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# The front door. Every target installs what it needs first.
.PHONY: all deps run test test-asan test-tsan bench fuzz soak format clean

JOBS ?= $(shell nproc)

all: test

deps:
	@scripts/install-deps.sh

run: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target quillane
	scripts/run-device.sh build/release/app/quillane

test: test-asan test-tsan

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	scripts/run-bench.sh build/bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build

# Entry points for people and CI. Every target first installs what its purpose needs and is
# missing (scripts/install-deps.sh).
PRESET ?= release
JOBS ?= 2

.PHONY: deps build test demo package asan tsan clean

deps:
	bash scripts/install-deps.sh test

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

# test: configure, build and run every test with CTest.
test: build
	ctest --preset $(PRESET) -j $(JOBS)

# demo: only what connector-host needs (no tests, benchmarks, browser or fuzzing compiler),
# built in build/demo, run on the example session.
demo:
	bash scripts/install-deps.sh demo
	cmake --preset demo
	cmake --build --preset demo -j $(JOBS) --target connector-host
	build/demo/tools/connector-host/connector-host --engine examples/engine.json examples/session.jsonl

# package: the Debian packages, in build/package/packages/.
package:
	bash scripts/install-deps.sh package
	cmake --preset package
	cmake --build --preset package -j $(JOBS)
	cd build/package && cpack -G DEB

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

clean:
	rm -rf build

# Entry points for people and CI. Every target installs what is missing first.
PRESET ?= release
JOBS ?= 2

.PHONY: deps build test demo asan tsan clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

# test: install dependencies if missing, configure, build and run every test with CTest.
test: build
	ctest --preset $(PRESET) -j $(JOBS)

# demo: install dependencies if missing, build connector-host and run it on the example session.
demo: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target connector-host
	build/release/tools/connector-host/connector-host --engine examples/engine.json examples/session.jsonl

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

clean:
	rm -rf build

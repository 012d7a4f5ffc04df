# Entry points for people and CI. Every target installs what is missing first.
PRESET ?= release
JOBS ?= 2

.PHONY: deps build test asan tsan clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET) -j $(JOBS)

# test: install dependencies if missing, configure, build and run every test with CTest.
test: build
	ctest --preset $(PRESET) -j $(JOBS)

asan:
	$(MAKE) test PRESET=asan

tsan:
	$(MAKE) test PRESET=tsan

clean:
	rm -rf build

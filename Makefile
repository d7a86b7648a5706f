# The two commands a newcomer needs. Both install what is missing first.
BUILD ?= build
# The fuzz targets: a tree of their own, built with clang and its sanitizers.
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)

.PHONY: run test deps build fuzz

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-sandboxed $(BUILD)

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVELLUMO_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(FUZZ_BUILD) --target fuzz_targets -j $(JOBS)

test: build fuzz
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

# The two commands a newcomer needs. Both install what is missing first.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: run test deps build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-sandboxed $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

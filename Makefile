# Two builds: a plain one and one under AddressSanitizer + UndefinedBehaviorSanitizer
# with the standard library's assertions on.
JOBS ?= $(shell nproc)

.PHONY: all build build-asan demo test templates clean

all: build

CONFIGURE = cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_WERROR=ON

build:
	$(CONFIGURE)
	cmake --build build -j $(JOBS)

build-asan:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_WERROR=ON
	cmake --build build-asan -j $(JOBS)

# The demo log is written by the project's own log builder (tools/make_demo_log).
# Only the program and that writer are built: the tests come with `make test`.
demo:
	$(CONFIGURE)
	cmake --build build -j $(JOBS) --target vesk make_demo_log
	./build/tools/make_demo_log build/demo.etl
	./build/vesk -log build/demo.etl -quiet

test: build build-asan
	cd build && ctest --output-on-failure -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

# Rewrites the converted template sources in data/templates from the provider
# descriptions beside the checkout (run by hand when they change; the build
# reads only the committed sources).
MANIFESTS ?= ../shared/manifests
templates:
	python3 tools/manifest_templates.py $(MANIFESTS) src/decode/kernel_providers.hpp data/templates

clean:
	rm -rf build build-asan

# lumora — common tasks.  `make demo` and `make test` do all the set-up.
PYTHON ?= python3
JOBS ?= 2
BUILD ?= build/dev
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: setup install demo test dev asan bench clean test-armhf test-versions

setup:
	PYTHON=$(PYTHON) scripts/setup.sh

install: setup
	$(PYTHON) -m pip install -q --no-build-isolation .

demo: install
	$(PYTHON) -m lumora

test: install
	xvfb-run -a $(PYTHON) -m pytest -q tests

# Development build: modules and Python files staged in $(BUILD)/stage.
# Run tests against it with LUMORA_STAGE=$(BUILD)/stage pytest tests/...
dev:
	cmake -S . -B $(BUILD) -DLUMORA_WERROR=ON -DPython_EXECUTABLE=$$($(PYTHON) -c 'import sys; print(sys.executable)') >/dev/null
	cmake --build $(BUILD)

# The whole suite with AddressSanitizer and UBSan.
ASAN_LIBS = $(shell gcc -print-file-name=libasan.so):$(shell gcc -print-file-name=libubsan.so)
asan: setup
	cmake -S . -B build/asan -DLUMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=$$($(PYTHON) -c 'import sys; print(sys.executable)') >/dev/null
	cmake --build build/asan
	LUMORA_STAGE=build/asan/stage LD_PRELOAD=$(ASAN_LIBS) \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:halt_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	PYTHONMALLOC=malloc xvfb-run -a $(PYTHON) -m pytest -q -p no:cacheprovider tests

# The whole suite on 32-bit ARM: every module cross-built against a private
# armhf sysroot (scripts/armhf-sysroot.sh) and run by the sysroot's Python
# under qemu-arm-static.  CC and pkg-config name the cross compiler and the
# sysroot's libraries for the tests that build preload shims.  The skips are listed with their reasons.
ARMHF_SYSROOT ?= build/armhf-sysroot
ARMHF_BUILD ?= build/armhf
test-armhf:
	scripts/armhf-sysroot.sh $(ARMHF_SYSROOT)
	cmake -S . -B $(ARMHF_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake \
	  -DLUMORA_SYSROOT=$(abspath $(ARMHF_SYSROOT)) -DLUMORA_WERROR=ON >/dev/null
	cmake --build $(ARMHF_BUILD)
	LUMORA_STAGE=$(ARMHF_BUILD)/stage CC=$(abspath $(ARMHF_SYSROOT))/cross-cc \
	PKG_CONFIG_SYSROOT_DIR=$(abspath $(ARMHF_SYSROOT)) \
	PKG_CONFIG_LIBDIR=$(abspath $(ARMHF_SYSROOT))/usr/lib/arm-linux-gnueabihf/pkgconfig \
	SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
	xvfb-run -a $(abspath $(ARMHF_SYSROOT))/qemu-python3 -m pytest -q -p no:cacheprovider -rs tests

# The whole suite on every CPython 3.11+ installed, each built in build/py3.X.
test-versions: setup
	scripts/test-versions.sh

bench: install
	@for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf build

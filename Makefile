# lumora — common tasks.  `make demo` and `make test` do all the set-up.
PYTHON ?= python3
JOBS ?= 2
BUILD ?= build/dev
export CMAKE_BUILD_PARALLEL_LEVEL := $(JOBS)

.PHONY: setup install demo test dev asan bench docs typecheck fuzz clean test-armhf test-versions

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

# HTML documentation in build/docs: autodoc over the installed package, the
# hand-written pages and a gallery drawn by the library itself.  Warnings
# are errors.
docs: install
	SDL_VIDEODRIVER=dummy $(PYTHON) docs/gallery.py docs/_gallery
	$(PYTHON) -m sphinx -W -q -b html docs build/docs
	@echo "docs: build/docs/index.html"

# The hand-written stubs (python/lumora/*.pyi): the examples type-check
# strictly against them, and stubtest compares them with the installed
# modules (the allow-list names what it cannot see at run time).
typecheck: install
	$(PYTHON) -m mypy --strict python/lumora/examples docs/gallery.py
	SDL_VIDEODRIVER=dummy $(PYTHON) -m mypy.stubtest lumora --allowlist stubtest-allowlist.txt

# Fuzzing of every image loader format and of the byte conversions under
# AddressSanitizer and UBSan (not part of the suite).  Needs atheris (pip).
FUZZ_RUNS ?= 1000000
fuzz: setup
	$(PYTHON) -c "import atheris" 2>/dev/null || $(PYTHON) -m pip install -q atheris
	cmake -S . -B build/asan -DLUMORA_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE=$$($(PYTHON) -c 'import sys; print(sys.executable)') >/dev/null
	cmake --build build/asan
	mkdir -p build/fuzz/crashes
	LUMORA_STAGE=build/asan/stage LD_PRELOAD=$(ASAN_LIBS) \
	ASAN_OPTIONS=detect_leaks=0:halt_on_error=1:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	PYTHONMALLOC=malloc SDL_VIDEODRIVER=dummy \
	$(PYTHON) tests/fuzz_loaders.py -atheris_runs=$(FUZZ_RUNS) -max_len=65536 \
	    -rss_limit_mb=4096 -artifact_prefix=build/fuzz/crashes/

# The whole suite on 32-bit ARM: every module cross-built against a private
# armhf sysroot (scripts/armhf-sysroot.sh) and run by the sysroot's Python
# under qemu-arm-static.  CC and pkg-config name the cross compiler and the
# sysroot's libraries for the tests that build preload shims; the skips
# are listed with their reasons.
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
	BENCH=1 PYTHON=$(PYTHON) scripts/setup.sh
	@for b in bench/bench_*.py; do echo "== $$b"; $(PYTHON) $$b || exit 1; done

clean:
	rm -rf build

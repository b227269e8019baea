# Entry points; see README.md.
VENV      := .venv
PY        := $(VENV)/bin/python
BUILD     := build/release
SANBUILD  := build/sanitize
BENCHBUILD := build/bench
JOBS      ?= $(shell nproc)
CMAKE_COMMON = -G Ninja -DPython_EXECUTABLE=$(abspath $(PY))

.PHONY: setup demo build test sanitize bench fuzz clean

setup:
	@scripts/setup.sh

demo: setup
	$(PY) -m pip install -q --disable-pip-version-check .
	$(PY) examples/demo.py

build: setup
	cmake -S . -B $(BUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Expressions of the standard library, for the lexer corpus test and the benchmarks.
CORPUS := build/corpus/stdlib_exprs.txt
$(CORPUS):
	$(PY) bench/extract_stdlib_exprs.py --output $(CORPUS)

test: build $(CORPUS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	LUMRA_PYEXPR_TEST_BIN=$(abspath $(BUILD))/tests/cpp/pyexpr/test_pyexpr \
	  PYTHONPATH=$(abspath $(BUILD))/python $(PY) -m pytest -q tests/python

# The module is loaded into an uninstrumented python, so the sanitizer runtime is preloaded.
sanitize: setup $(CORPUS)
	cmake -S . -B $(SANBUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DLUMRA_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LUMRA_PYEXPR_TEST_BIN=$(abspath $(SANBUILD))/tests/cpp/pyexpr/test_pyexpr \
	  PYTHONPATH=$(abspath $(SANBUILD))/python LUMRA_SANITIZE=1 $(PY) -m pytest -q -p no:cacheprovider tests/python

bench: setup $(CORPUS)
	cmake -S . -B $(BENCHBUILD) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DLUMRA_BUILD_TESTS=OFF -DLUMRA_BUILD_BENCH=ON
	cmake --build $(BENCHBUILD) -j $(JOBS)
	@set -e; for b in $(BENCHBUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true
	@set -e; for s in bench/*.py; do [ -f "$$s" ] && PYTHONPATH=$(abspath $(BENCHBUILD))/python $(PY) "$$s"; done; true

clean:
	rm -rf build

FUZZBUILD := build/fuzz
FUZZ_SECONDS ?= 60
fuzz:
	@LUMRA_WITH_CLANG=1 scripts/setup.sh
	cmake -S . -B $(FUZZBUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DLUMRA_FUZZ=ON -DLUMRA_BUILD_TESTS=OFF -DLUMRA_BUILD_MODULE=OFF
	cmake --build $(FUZZBUILD) -j $(JOBS)
	fuzz/run.sh $(FUZZBUILD) $(FUZZ_SECONDS)

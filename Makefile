# The project's commands. The build itself is CMake + Ninja; these targets only call it.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
CTEST_ENV  := QT_QPA_PLATFORM=offscreen

.PHONY: all setup build demo run test test-asan fuzz package bench format format-check clean

all: build

setup:
	./scripts/setup.sh $(BUILD)

build: setup
	cmake --build $(BUILD)

# The main job: download the demo site's book with the terminal front end.
demo: build
	./scripts/demo.sh $(BUILD)

# The window against the demo site, with the demo book's address filled in.
run: build
	./scripts/run.sh $(BUILD)

# Every test, the quick ones first and those labelled slow (tens of seconds each) after them, then
# the module tests again under AddressSanitizer and UBSan, then each fuzz target for a few seconds.
test: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -j2 -LE slow
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -j2 -L slow
	$(MAKE) test-asan
	./scripts/fuzz.sh 5 $(FUZZ_BUILD)

# The Debian package, in the build folder.
package: build
	cd $(BUILD) && cpack -G DEB

# Each fuzz target for a minute (clang and libFuzzer).
fuzz: setup
	./scripts/fuzz.sh 60 $(FUZZ_BUILD)

test-asan:
	./scripts/setup.sh $(ASAN_BUILD) -DKESTRELON_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) --target module_tests
	cd $(ASAN_BUILD) && $(CTEST_ENV) ctest --output-on-failure -j2 -L module

# Every benchmark runs; the target fails when one of them missed its figures.
bench: build
	cmake --build $(BUILD) --target benchmarks
	@status=0; for b in bench_foundation bench_fetch bench_endtoend bench_update; do \
	    echo "== $$b"; $(BUILD)/bench/$$b 2>/dev/null || status=1; done; exit $$status

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

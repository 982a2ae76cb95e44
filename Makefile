# The two commands of the README, and what they need.
#   make run   builds asioloop and starts it on the built-in simulated device
#   make test  builds everything, the Windows builds too, and runs the whole
#              test suite
#   make dist  the package for Windows users
PRESET ?= native
BUILD := build/$(PRESET)
VERSION := $(shell awk '/^project.asioloop VERSION/ { print $$3 }' CMakeLists.txt)
DEBIAN_PACKAGES := cmake ninja-build g++ make pkg-config nlohmann-json3-dev libgtest-dev libgmock-dev \
	libbenchmark-dev libjack-jackd2-dev
TEST_PACKAGES := valgrind clang libclang-rt-dev chromium jackd2
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
	binutils-mingw-w64-x86-64 wine64

FUZZ_SECONDS ?= 60

.PHONY: all deps test-deps windows-deps configure build windows sanitizers fuzz-build fuzz run test bench soak dist clean

all: build

# Installs the Debian packages that are missing when run as root; otherwise
# says which ones to install.
deps test-deps windows-deps:
	@missing=""; \
	for p in $(if $(filter windows-deps,$@),$(WINDOWS_PACKAGES),$(if $(filter test-deps,$@),$(TEST_PACKAGES),$(DEBIAN_PACKAGES))); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ $@ = deps ] && ! command -v npm >/dev/null; then missing="$$missing nodejs npm"; fi; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	  else \
	    echo "Missing packages:$$missing"; \
	    echo "Install them with: sudo apt-get install$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET)

run: build
	$(BUILD)/asioloop

# The Windows builds, cross-compiled; 32-bit Wine through user-mode
# emulation where it can be set up (its tests skip, saying why, where not).
windows: deps windows-deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	cmake --preset win64 >/dev/null
	cmake --build --preset win64
	@mkdir -p build; if bash tests/windows/setup_wine32.sh 2>build/wine32-unavailable.txt; then \
	  rm -f build/wine32-unavailable.txt; else cat build/wine32-unavailable.txt; fi

# The builds with AddressSanitizer and UndefinedBehaviorSanitizer, and with
# ThreadSanitizer; their tests run from the native build's test run.
sanitizers: deps test-deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan

# The libFuzzer targets (clang): reading an answer, and the callbacks with the
# analysis and the report. `make fuzz` runs each for FUZZ_SECONDS.
fuzz-build: deps test-deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

fuzz: fuzz-build
	bash tests/fuzz/run_fuzz.sh build/fuzz/fuzz_answer $(FUZZ_SECONDS)
	bash tests/fuzz/run_fuzz.sh build/fuzz/fuzz_callbacks $(FUZZ_SECONDS)

test: deps test-deps windows sanitizers fuzz-build
	cmake --preset native -DASIOLOOP_WINDOWS_TESTS=ON -DASIOLOOP_SANITIZER_TESTS=ON -DASIOLOOP_FUZZ_TESTS=ON >/dev/null
	cmake --build --preset native
	ctest --preset native

# One table of the callbacks, the analysis, the report and a whole run beside
# their limits, then the real-time headroom runs.
bench: build
	bash bench/run_bench.sh $(BUILD)

# Ten minutes of 16 inputs in 24-bit (SOAK_SECONDS to change): every byte
# reaches its capture file, and memory stays at what the values need.
soak: build
	bash tests/soak/soak.sh $(BUILD)

dist: deps windows-deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	rm -rf build/dist && mkdir -p build/dist/asioloop-$(VERSION)-win32
	cp build/win32/asioloop.exe build/dist/asioloop-$(VERSION)-win32/
	i686-w64-mingw32-strip build/dist/asioloop-$(VERSION)-win32/asioloop.exe
	sed 's/$$/\r/' packaging/README.txt > build/dist/asioloop-$(VERSION)-win32/README.txt
	cd build/dist && cmake -E tar cf ../../asioloop-$(VERSION)-win32.zip --format=zip asioloop-$(VERSION)-win32
	@echo "asioloop-$(VERSION)-win32.zip"

clean:
	rm -rf build

# The two commands of the README, and what they need.
#   make run   builds asioloop and starts it on the built-in simulated device
#   make test  builds everything and runs the whole test suite
PRESET ?= native
BUILD := build/$(PRESET)
DEBIAN_PACKAGES := cmake ninja-build g++ make nlohmann-json3-dev libgtest-dev libgmock-dev

.PHONY: all deps configure build run test clean

all: build

# Installs the Debian packages that are missing when run as root; otherwise
# says which ones to install.
deps:
	@missing=""; \
	for p in $(DEBIAN_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
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

test: build
	ctest --preset $(PRESET)

clean:
	rm -rf build

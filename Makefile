# Everyday commands. The build lives in build/ (Ninja); the machine is assumed to have two
# cores, override with `make JOBS=8 ...`.
BUILD_DIR ?= build
JOBS      ?= 2
CMAKE_ARGS ?=

.PHONY: all build test demo bootstrap clean

all: build

bootstrap:
	scripts/bootstrap

$(BUILD_DIR)/build.ninja:
	cmake -G Ninja -S . -B $(BUILD_DIR) $(CMAKE_ARGS)

build: $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: bootstrap
	$(MAKE) build
	ctest --test-dir $(BUILD_DIR) --output-on-failure

demo: bootstrap
	$(MAKE) build
	BUILD_DIR=$(BUILD_DIR) scripts/demo

clean:
	rm -rf $(BUILD_DIR) demo-site

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

# The tests run on SQLite, and on PostgreSQL as well: against $$KESTRIX_TEST_PG when it is set,
# otherwise against a throwaway server that scripts/with-postgres starts and stops.
test: bootstrap
	$(MAKE) build
	scripts/with-postgres ctest --test-dir $(BUILD_DIR) --output-on-failure

# The demo needs the command line only.
demo: bootstrap $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS) --target kestrix_cli
	BUILD_DIR=$(BUILD_DIR) scripts/demo

clean:
	rm -rf $(BUILD_DIR) demo-site

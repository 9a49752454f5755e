# make run: install what is missing, build Release, run the topology test driver.
# make test: install what is missing, build with tests, run every test through ctest.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: run test deps configure build clean

run: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target topology_tests
	$(BUILD_DIR)/src/tests/topology/topology_tests

test: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DNIMBO_BUILD_TESTS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

deps:
	@bash scripts/install-deps.sh

clean:
	rm -rf $(BUILD_DIR)

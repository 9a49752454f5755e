# make run: install what is missing, build Release, run the topology test driver, then nimbo-shape on
#   the bundled samples: the statistics of the STEP part, the verdict on the two shaft faces, and
#   the parts of the bolted-joint assembly, how they meet, its mesh (one line), its heat study solved
#   by GetDP, its stress by CalculiX, and the stress its heat causes (one line each).
# make test: install what is missing, build with tests, run every test through ctest.
# make test-sanitize: the same tests on a build of nimbo's code with AddressSanitizer and
#   UndefinedBehaviorSanitizer, in $(SANITIZE_DIR).
# make bench: build Release, run the benchmarks (JSON in $(BUILD_DIR)/bench.json), print each case
#   beside its baseline (the benchmark's own report goes to standard error), then whole processes
#   beside Gmsh's (scripts/bench-processes.py) and studies of 10k to 1M elements (scripts/bench-scale.py).
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
SANITIZE_DIR ?= build-sanitize

.PHONY: run test test-sanitize bench deps configure build clean

run: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DNIMBO_BUILD_TESTS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target topology_tests nimbo-shape
	$(BUILD_DIR)/src/tests/topology/topology_tests
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape stats samples/flanged_shaft.step
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape compare samples/shaft_small_face_1.brep samples/shaft_small_face_2.brep
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape parts samples/bolted_joint.step
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape clash samples/bolted_joint.step
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape mesh samples/bolted_joint.step -o $(BUILD_DIR)/bolted_joint.msh \
		> $(BUILD_DIR)/bolted_joint-mesh.txt && tail -n 1 $(BUILD_DIR)/bolted_joint-mesh.txt
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape solve samples/joint_heat.yaml -o $(BUILD_DIR)/joint_heat \
		> $(BUILD_DIR)/joint_heat.txt && tail -n 1 $(BUILD_DIR)/joint_heat.txt
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape solve samples/joint_stress.yaml -o $(BUILD_DIR)/joint_stress \
		> $(BUILD_DIR)/joint_stress.txt && tail -n 1 $(BUILD_DIR)/joint_stress.txt
	$(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape solve samples/joint_thermal_stress.yaml -o $(BUILD_DIR)/joint_thermal_stress \
		> $(BUILD_DIR)/joint_thermal_stress.txt && tail -n 1 $(BUILD_DIR)/joint_thermal_stress.txt

test: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DNIMBO_BUILD_TESTS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Debug keeps assertions and exact stack lines; the sanitizers' settings come with the build (NIMBO_SANITIZE).
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DNIMBO_SANITIZE=ON \
		-DNIMBO_BUILD_TESTS=ON -DNIMBO_BUILD_BENCHMARKS=OFF
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS)

# Five runs of each benchmark, interleaved at random so that a case and its baseline meet the same
# load; the table shows their medians.
bench: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DNIMBO_BUILD_BENCHMARKS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target nimbo_bench
	mkdir -p $(BUILD_DIR)/bench-pages
	cd $(BUILD_DIR) && NIMBO_BENCH_PAGES=bench-pages src/bench/nimbo_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
		--benchmark_enable_random_interleaving=true \
		--benchmark_min_time=0.2 --benchmark_out=bench.json --benchmark_out_format=json >&2
	python3 scripts/bench-table.py $(BUILD_DIR)/bench.json
	python3 scripts/bench-pages.py $(BUILD_DIR)/bench-pages
	cmake --build $(BUILD_DIR) -j $(JOBS) --target _nimbo && \
		PYTHONPATH=$(BUILD_DIR)/python /usr/bin/python3 scripts/bench-python-gil.py samples/bolted_joint.step
	cmake --build $(BUILD_DIR) -j $(JOBS) --target nimbo-shape nimbo_fragment_baseline
	python3 scripts/bench-processes.py $(BUILD_DIR)
	python3 scripts/bench-scale.py $(BUILD_DIR)/src/tools/nimbo-shape/nimbo-shape samples

deps:
	@bash scripts/install-deps.sh

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)

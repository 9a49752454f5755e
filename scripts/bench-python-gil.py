#!/usr/bin/env python3
"""Two threads, each finding the interferences of its own assembly, against the same two calls one
after the other: below 1 when the module releases the GIL. Median of five runs of each.

    PYTHONPATH=build/python python3 scripts/bench-python-gil.py [FILE]
"""
import statistics
import sys
import threading
import time

import nimbo


def main(cad):
    assemblies = [nimbo.read_assembly(cad), nimbo.read_assembly(cad)]

    def serial():
        for assembly in assemblies:
            nimbo.find_interferences(assembly, threads=1)

    def parallel():
        threads = [threading.Thread(target=nimbo.find_interferences, args=(a,), kwargs={"threads": 1})
                   for a in assemblies]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def seconds(work):
        runs = []
        for _ in range(5):
            start = time.perf_counter()
            work()
            runs.append(time.perf_counter() - start)
        return statistics.median(runs)

    one, two = seconds(serial), seconds(parallel)
    print(f"find_interferences on {cad}, twice: one after the other {one:.3f} s, two threads {two:.3f} s, "
          f"ratio {two / one:.2f}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "samples/bolted_joint.step")

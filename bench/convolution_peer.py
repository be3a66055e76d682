#!/usr/bin/env python3
"""The peer for bench/convolution_bench.cpp: a general-purpose library's 3x3 filter on the same job.

Sharpen's kernel (-1 -2 -1 / -2 16 -2 / -1 -2 -1, divided by 4) on a 4096 x 4096 four-channel 8-bit image
with OpenCV's filter2D, on all threads and on one. Prints the median of several runs in milliseconds, or a
line saying why it was skipped. Debian's python3-opencv installs the module for /usr/bin/python3.
"""
import statistics
import sys
import time

SIDE = 4096
RUNS = 15


def main() -> int:
    try:
        import cv2
        import numpy as np
    except ImportError as missing:
        print(f"convolution peer skipped: {missing} (install python3-opencv, run with /usr/bin/python3)")
        return 0

    rng = np.random.default_rng(0x9E3779B9)
    image = rng.integers(0, 256, size=(SIDE, SIDE, 4), dtype=np.uint8)
    image[:, :, 0] = 0
    kernel = np.array([[-1, -2, -1], [-2, 16, -2], [-1, -2, -1]], dtype=np.float32) / 4.0

    def median_ms(threads: int) -> float:
        cv2.setNumThreads(threads)
        cv2.filter2D(image, -1, kernel, borderType=cv2.BORDER_REPLICATE)  # warm-up
        times = []
        for _ in range(RUNS):
            start = time.perf_counter()
            out = cv2.filter2D(image, -1, kernel, borderType=cv2.BORDER_REPLICATE)
            times.append((time.perf_counter() - start) * 1000.0)
        assert out.shape == image.shape
        return statistics.median(times)

    all_threads = median_ms(cv2.getNumberOfCPUs())
    one_thread = median_ms(1)
    mpx = SIDE * SIDE / 1e6
    print(f"OpenCV {cv2.__version__} filter2D 3x3, {SIDE}x{SIDE}x4 uint8, float kernel, median of {RUNS}:")
    print(f"  all threads ({cv2.getNumberOfCPUs()}): {all_threads:8.2f} ms  {mpx / all_threads * 1000:8.1f} Mpx/s")
    print(f"  one thread:      {one_thread:8.2f} ms  {mpx / one_thread * 1000:8.1f} Mpx/s")
    return 0


if __name__ == "__main__":
    sys.exit(main())

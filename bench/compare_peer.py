"""Times a one-bit conversion of a PNG with Pillow; prints the median in ms, or exits 1 without Pillow."""
import statistics
import sys
import time

try:
    from PIL import Image
except ImportError:
    sys.exit(1)

image = Image.open(sys.argv[1]).convert("RGB")
image.load()
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 9
times = []
for _ in range(runs):
    start = time.perf_counter()
    image.convert("1")
    times.append((time.perf_counter() - start) * 1000.0)
print(f"{statistics.median(times):.3f}")

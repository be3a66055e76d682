"""Opens every file of a folder, converts it to one bit and saves a PNG; prints the seconds it took."""
import os
import sys
import time

try:
    from PIL import Image
except ImportError:
    sys.exit(1)

source, target = sys.argv[1], sys.argv[2]
os.makedirs(target, exist_ok=True)
start = time.perf_counter()
for name in sorted(os.listdir(source)):
    with Image.open(os.path.join(source, name)) as image:
        image.convert("1").save(os.path.join(target, os.path.splitext(name)[0] + ".png"))
print(f"{time.perf_counter() - start:.3f}")

"""Opens every file of a folder, turns it grey and then one bit, and saves a PNG (optimised when the third
argument is "optimize"); prints the seconds it took."""
import os
import sys
import time

try:
    from PIL import Image
except ImportError:
    sys.exit(1)

source, target = sys.argv[1], sys.argv[2]
optimize = len(sys.argv) > 3 and sys.argv[3] == "optimize"
os.makedirs(target, exist_ok=True)
start = time.perf_counter()
for name in sorted(os.listdir(source)):
    with Image.open(os.path.join(source, name)) as image:
        image.convert("L").convert("1").save(os.path.join(target, os.path.splitext(name)[0] + ".png"), optimize=optimize)
print(f"{time.perf_counter() - start:.3f}")

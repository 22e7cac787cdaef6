#!/usr/bin/python3
"""Builds the large-photo folders of the gallery benchmark, deterministically.

    /usr/bin/python3 bench/make_photos.py [--out300 /tmp/photos300] [--out3000 /tmp/photos3000]
                                          [--count 300] [--copies 3000] [--only300]
                                          [--size 4000x3000]

The first folder holds COUNT camera-size JPEGs (4000 x 3000, quality 95, about 9 MB each): smooth
colour gradients and soft shapes under fine noise, so that they compress like photographs; every
seventh one carries EXIF orientation 6 (the engine draws it on its side, 3000 x 4000). The second
folder holds COPIES files, each a byte copy of one of the first folder's pictures under its own
name (DSC_00001.jpg ...), about 27 GB for 3,000. `--size 1600x1200` makes smaller photos instead
(the 3,000-JPEG set of the wheel benchmark: `--size 1600x1200 --count 100 --out300
/tmp/photos100-1600 --out3000 /tmp/jpegs3000`, about 2.5 min and 1.3 GB). Existing files of the right size are kept, so an
interrupted run can be restarted. Needs Debian's python3-pil.
"""
import argparse
import os
import random
import shutil
import sys

from PIL import Image, ImageDraw, ImageFilter

WIDTH, HEIGHT = 4000, 3000
TILE = 500
NOISE = float(os.environ.get("PHOTO_NOISE", "0.24"))  # share of grain blended in


def gradient_band(rng, size):
    """One colour channel: a linear gradient at a random angle, stretched to the picture."""
    g = Image.linear_gradient("L").rotate(rng.uniform(0, 360), resample=Image.BILINEAR, expand=False)
    g = g.crop((48, 48, 208, 208)).resize(size, Image.BILINEAR)
    lo, hi = sorted(rng.sample(range(20, 236), 2))
    return g.point(lambda v: lo + (hi - lo) * v // 255)


def photo(index, seed):
    rng = random.Random(seed * 100003 + index)
    small = (WIDTH // 8, HEIGHT // 8)
    base = Image.merge("RGB", [gradient_band(rng, small) for _ in range(3)])
    # A few soft shapes, drawn small and blurred, as out-of-focus objects of a scene.
    draw = ImageDraw.Draw(base)
    for _ in range(rng.randint(4, 12)):
        x, y = rng.randrange(small[0]), rng.randrange(small[1])
        r = rng.randint(20, 160)
        colour = tuple(rng.randrange(256) for _ in range(3))
        draw.ellipse((x - r, y - r, x + r, y + r), fill=colour)
    base = base.filter(ImageFilter.GaussianBlur(12)).resize((WIDTH, HEIGHT), Image.BICUBIC)
    # Sensor-like grain: uniform noise at low amplitude, softened a little. A 500 x 500 tile
    # repeated is as costly to compress as noise over the whole picture (JPEG codes each 8 x 8
    # block on its own) and far quicker to make.
    tile = Image.frombytes("RGB", (TILE, TILE), rng.randbytes(TILE * TILE * 3))
    tile = tile.filter(ImageFilter.GaussianBlur(0.7))
    noise = Image.new("RGB", (WIDTH, HEIGHT))
    for x in range(0, WIDTH, TILE):
        for y in range(0, HEIGHT, TILE):
            noise.paste(tile, (x, y))
    return Image.blend(base, noise, NOISE)


def save_photo(path, index, seed):
    img = photo(index, seed)
    exif = Image.Exif()
    exif[0x010F] = "BenchCam"   # Make
    exif[0x0110] = "Model 4000"  # Model
    exif[0x0112] = 6 if index % 7 == 3 else 1  # Orientation
    tmp = path + ".part"
    img.save(tmp, "JPEG", quality=95, subsampling=0, exif=exif.tobytes())
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out300", default="/tmp/photos300")
    ap.add_argument("--out3000", default="/tmp/photos3000")
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--copies", type=int, default=3000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--only300", action="store_true")
    ap.add_argument("--size", default="4000x3000", help="WIDTHxHEIGHT of the made photos")
    args = ap.parse_args()
    global WIDTH, HEIGHT
    WIDTH, HEIGHT = (int(v) for v in args.size.split("x"))

    os.makedirs(args.out300, exist_ok=True)
    names = []
    for i in range(args.count):
        name = os.path.join(args.out300, "IMG_%04d.jpg" % (i + 1))
        names.append(name)
        if os.path.exists(name) and os.path.getsize(name) > 0:
            continue
        save_photo(name, i, args.seed)
        if (i + 1) % 25 == 0:
            print("%s: %d of %d" % (args.out300, i + 1, args.count), file=sys.stderr)
    if args.only300:
        return
    os.makedirs(args.out3000, exist_ok=True)
    for j in range(args.copies):
        src = names[j % len(names)]
        dst = os.path.join(args.out3000, "DSC_%05d.jpg" % (j + 1))
        if os.path.exists(dst) and os.path.getsize(dst) == os.path.getsize(src):
            continue
        shutil.copyfile(src, dst + ".part")
        os.replace(dst + ".part", dst)
        if (j + 1) % 250 == 0:
            print("%s: %d of %d" % (args.out3000, j + 1, args.copies), file=sys.stderr)


if __name__ == "__main__":
    main()

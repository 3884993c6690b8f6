#!/usr/bin/python3
"""TIFFs with every Orientation value, and the oracle that checks their converted PDFs.

  orientation_oracle.py make DIR    writes the files and DIR/manifest.tsv
  orientation_oracle.py compare TIFF PDF MODE RENDERERS
                                    renders the PDF's page and compares it with the picture the
                                    TIFF's Orientation asks for; MODE is exact or psnr (JPEG),
                                    RENDERERS is cairo, gs or cairo,gs. Exit status 0 on a match.

The expected picture is the image as stored (what orientation 1 shows; kept as NAME.unturned.png)
turned with Pillow's transposes, one per orientation as
TIFF 6.0 section 8 defines them. It is deliberately not Pillow's own reading of the tagged file:
Pillow 9.4 already applies the tag while loading a TIFF, so ImageOps.exif_transpose on the loaded
image turns it a second time (and on a converted copy only agrees by accident).

manifest.tsv rows: name, orientation, compare mode, renderers.
"""
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from tiff_corpus import psnr, run

T = Image.Transpose
# Orientation → the transposes that show the stored rows and columns where the tag puts them.
TURNS = {
    1: [],
    2: [T.FLIP_LEFT_RIGHT],   # 0th row top, 0th column right
    3: [T.ROTATE_180],        # bottom, right
    4: [T.FLIP_TOP_BOTTOM],   # bottom, left
    5: [T.TRANSPOSE],         # left, top
    6: [T.ROTATE_270],        # right, top (Pillow turns counter-clockwise: 270 is 90 clockwise)
    7: [T.TRANSVERSE],        # right, bottom
    8: [T.ROTATE_90],         # left, bottom
}


def noise_rgb(size, seed):
    """Every pixel different from its neighbours, so any mirror or turn shows."""
    rnd = random.Random(seed)
    im = Image.new("RGB", size)
    im.putdata([tuple(rnd.randrange(256) for _ in range(3)) for _ in range(size[0] * size[1])])
    return im


def noise_bilevel(size, seed):
    rnd = random.Random(seed)
    im = Image.new("1", size)
    im.putdata([rnd.randrange(2) * 255 for _ in range(size[0] * size[1])])
    return im


def smooth_rgb(size):
    """Gradients and a few shapes, which JPEG keeps well, with an unmistakable corner."""
    w, h = size
    im = Image.new("RGB", size)
    im.putdata([(255 * x // w, 255 * y // h, 128) for y in range(h) for x in range(w)])
    d = ImageDraw.Draw(im)
    d.rectangle([2, 2, w // 3, h // 4], fill=(250, 250, 250))
    d.ellipse([w // 2, h // 2, w - 3, h - 3], fill=(20, 20, 20))
    return im


def expected(unturned, orientation):
    im = unturned.convert("RGB")
    for t in TURNS[orientation]:
        im = im.transpose(t)
    return im


def make(out):
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)
    rows = []

    def add(name, picture, orientation, mode="exact", renderers="cairo,gs"):
        run("tiffset", "-s", "274", str(orientation), p(name))
        picture.save(p(name + ".unturned.png"))
        rows.append((name, str(orientation), mode, renderers))

    # Sides of different lengths, neither a multiple of 8, so a transposed or turned page that
    # kept the stored shape, or a bilevel row read across its padding, cannot pass.
    rgb = noise_rgb((37, 23), 1)
    bilevel = noise_bilevel((29, 13), 2)
    smooth = smooth_rgb((64, 40))
    rgb.save(p("rgb.tif"))
    # Fax-like: MinIsWhite, so the stored bits are the picture's inverse.
    Image.eval(bilevel.convert("L"), lambda v: 255 - v).convert("1").save(p("bilevel.tif"))
    run("tiffset", "-s", "262", "0", p("bilevel.tif"))
    smooth.save(p("smooth.tif"))
    for n in range(1, 9):
        run("tiffcp", "-c", "none", p("rgb.tif"), p(f"rgb_{n}.tif"))
        add(f"rgb_{n}.tif", rgb, n)
        run("tiffcp", "-c", "g4", p("bilevel.tif"), p(f"bilevel_g4_{n}.tif"))
        add(f"bilevel_g4_{n}.tif", bilevel, n)
    for n in (3, 6, 8):
        run("tiffcp", "-c", "jpeg", "-r", "40", p("smooth.tif"), p(f"jpeg_{n}.tif"))
        add(f"jpeg_{n}.tif", smooth, n, mode="psnr")
    # A normal-mode fax (pixels twice as tall as wide) turned a quarter: the page is as wide as
    # the stored rows are tall in inches, and as tall as they are long.
    run("tiffcp", "-c", "g4", p("bilevel.tif"), p("fax_6.tif"))
    run("tiffset", "-s", "282", "204", p("fax_6.tif"))
    run("tiffset", "-s", "283", "102", p("fax_6.tif"))
    add("fax_6.tif", bilevel, 6)
    for name in ("rgb.tif", "bilevel.tif", "smooth.tif"):
        os.remove(p(name))

    with open(p("manifest.tsv"), "w") as f:
        for r in rows:
            f.write("\t".join(r) + "\n")


def media_size(pdf):
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
    for line in info.splitlines():
        if line.startswith("Page size:"):
            parts = line.split(":", 1)[1].split()
            return float(parts[0]), float(parts[2])
    raise RuntimeError("no page size")


def render(pdf, renderer, size, media):
    """The page at one device pixel per expected pixel. Square pixels: 72 dpi, one unit a pixel."""
    w, h = size
    mw, mh = media
    square = abs(mw - w) < 0.01 and abs(mh - h) < 0.01
    with tempfile.TemporaryDirectory() as tmp:
        png = os.path.join(tmp, "page.png")
        if renderer == "cairo":
            scale = ["-r", "72"] if square else ["-scale-to-x", str(w), "-scale-to-y", str(h)]
            run("pdftocairo", "-png", "-singlefile", *scale, pdf, png[:-4])
        else:
            res = "-r72" if square else f"-r{72.0 * w / mw:.6f}x{72.0 * h / mh:.6f}"
            run("gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=png16m", res,
                "-dInterpolateControl=0", f"-sOutputFile={png}", pdf)
        with Image.open(png) as im:
            return im.convert("RGB").copy()


def compare(tiff, pdf, mode, renderers):
    with Image.open(tiff + ".unturned.png") as unturned:
        with Image.open(tiff) as im:
            orientation = int(im.tag_v2.get(274, 1))
            xres, yres = (float(im.tag_v2.get(t, 72)) for t in (282, 283))
        want = expected(unturned, orientation)
    # The page in units: stored columns at one unit a pixel, stored rows scaled to keep the
    # pixels' shape, sides swapped when the rows are shown as columns.
    sw, sh = want.size if orientation <= 4 else want.size[::-1]
    units = (sw, sh * xres / yres)
    if orientation > 4:
        units = units[::-1]
    media = media_size(pdf)
    failures = 0
    if abs(media[0] - units[0]) > 0.01 or abs(media[1] - units[1]) > 0.01:
        print(f"page is {media[0]} x {media[1]} units, expected {units[0]} x {units[1]}")
        failures += 1
    for renderer in renderers.split(","):
        got = render(pdf, renderer, want.size, media)
        if got.size != want.size:
            print(f"{renderer}: {got.size} pixels, expected {want.size}")
            failures += 1
        elif mode == "exact" and got.tobytes() != want.tobytes():
            diff = sum(1 for x, y in zip(want.tobytes(), got.tobytes()) if x != y)
            print(f"{renderer}: {diff} samples differ")
            failures += 1
        elif mode == "psnr" and psnr(want, got) < 30:
            print(f"{renderer}: PSNR {psnr(want, got):.1f} dB")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) == 6 and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]))
    else:
        print(__doc__)
        sys.exit(64)

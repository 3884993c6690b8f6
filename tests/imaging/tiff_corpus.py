#!/usr/bin/python3
"""TIFF corpus for the conversion tests, made with libtiff's tools, ImageMagick and Pillow, and the
oracle that checks a converted PDF against libtiff's own decoding.

  tiff_corpus.py make DIR          writes the files and DIR/manifest.tsv
  tiff_corpus.py compare TIFF PDF MODE
                                   renders every PDF page at the image's pixel size with pdftocairo
                                   and Ghostscript and compares it with tiff2rgba's decoding;
                                   MODE is exact or psnr (JPEG). Exit status 0 when all pages match.

manifest.tsv rows: name, expectation (ok / refuse / any), compare mode (exact / psnr / -).
"""
import math
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

CONVERT = "/usr/bin/convert"  # ImageMagick itself


def run(*args):
    subprocess.run(list(args), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def drawing(mode, size, seed):
    """A page with shapes, text-like strokes and noise, so every decoder path gets real work."""
    rnd = random.Random(seed)
    w, h = size
    if mode == "1":
        im = Image.new("L", size, 255)
    else:
        im = Image.new("RGB", size, (250, 248, 240))
    d = ImageDraw.Draw(im)
    for _ in range(max(4, w * h // 4000)):
        x0, y0 = rnd.randrange(w), rnd.randrange(h)
        x1, y1 = min(w - 1, x0 + rnd.randrange(1, max(2, w // 3))), min(h - 1, y0 + rnd.randrange(1, max(2, h // 3)))
        colour = tuple(rnd.randrange(256) for _ in range(3))
        shape = rnd.randrange(3)
        if shape == 0:
            d.rectangle([x0, y0, x1, y1], fill=colour if mode != "1" else 0)
        elif shape == 1:
            d.line([x0, y0, x1, y1], fill=colour if mode != "1" else 0, width=rnd.randrange(1, 4))
        else:
            d.ellipse([x0, y0, x1, y1], outline=colour if mode != "1" else 0)
    px = im.load()
    for _ in range(w * h // 50):
        x, y = rnd.randrange(w), rnd.randrange(h)
        px[x, y] = (0 if mode == "1" else tuple(rnd.randrange(256) for _ in range(3)))
    if mode == "1":
        return im.point(lambda v: 255 if v > 127 else 0).convert("1")
    if mode == "L":
        return im.convert("L")
    return im


def strip_bytes(path):
    """The single strip of a one-strip TIFF, as stored."""
    with Image.open(path) as im:
        off = im.tag_v2[273][0] if isinstance(im.tag_v2[273], tuple) else im.tag_v2[273]
        cnt = im.tag_v2[279][0] if isinstance(im.tag_v2[279], tuple) else im.tag_v2[279]
    with open(path, "rb") as f:
        f.seek(off)
        return f.read(cnt)


def make(out):
    os.makedirs(out, exist_ok=True)
    rows = []
    p = lambda name: os.path.join(out, name)

    def add(name, expect="ok", mode="exact"):
        rows.append((name, expect, mode))

    def tiffcp(src, dst, *opts, expect="ok", mode="exact"):
        run("tiffcp", *opts, p(src), p(dst))
        add(dst, expect, mode)

    def save(im, name, expect="ok", mode="exact", **opts):
        im.save(p(name), **opts)
        add(name, expect, mode)

    def convert(src, name, *opts, expect="ok", mode="exact"):
        run(CONVERT, p(src), *opts, p(name))
        add(name, expect, mode)

    # Bilevel, 301 x 203 (width not a multiple of 8), MinIsBlack from Pillow, MinIsWhite by tag.
    save(drawing("1", (301, 203), 1), "bw_mib.tif")
    run("tiffcp", "-c", "none", p("bw_mib.tif"), p("bw_miw.tif"))
    run("tiffset", "-s", "262", "0", p("bw_miw.tif"))
    add("bw_miw.tif")
    for base in ("bw_mib", "bw_miw"):
        for comp, tag in (("none", "none"), ("packbits", "packbits"), ("lzw", "lzw"), ("zip", "zip"),
                          ("g3", "g3"), ("g3:2d", "g3_2d"), ("g4", "g4"), ("g3:fill", "g3_fill")):
            tiffcp(base + ".tif", f"{base}_{tag}.tif", "-c", comp)
        tiffcp(base + ".tif", f"{base}_g4_strips.tif", "-c", "g4", "-r", "16")
        tiffcp(base + ".tif", f"{base}_g3_strips.tif", "-c", "g3:2d", "-r", "7")
        for comp in ("none", "g4", "g3", "lzw"):
            tiffcp(base + ".tif", f"{base}_{comp}_lsb.tif", "-c", comp, "-f", "lsb2msb")
        tiffcp(base + ".tif", f"{base}_g4_be.tif", "-c", "g4", "-B")
    # Group 3 via compression 2 (modified Huffman, byte-aligned rows) by ImageMagick.
    convert("bw_mib.tif", "bw_im_fax.tif", "-compress", "Fax")
    convert("bw_mib.tif", "bw_im_g4.tif", "-define", "quantum:polarity=min-is-white", "-compress", "Group4")

    # A fax from raw Group 3 data (fax2tiff), 1728 wide at 204 x 98 dpi: pixels twice as tall.
    fax = drawing("1", (1728, 300), 7)
    fax.save(p("fax_base.tif"))
    run("tiffcp", "-c", "none", p("fax_base.tif"), p("fax_miw.tif"))
    run("tiffset", "-s", "262", "0", p("fax_miw.tif"))
    run("tiffcp", "-c", "g3", "-f", "lsb2msb", "-r", "100000", p("fax_miw.tif"), p("fax_onestrip.tif"))
    with open(p("fax.g3"), "wb") as f:
        f.write(strip_bytes(p("fax_onestrip.tif")))
    for name, opts in (("fax_lowres.tif", []), ("fax_lowres_g4.tif", ["-8"])):
        run("fax2tiff", "-R", "98", *opts, "-o", p(name), p("fax.g3"))
        add(name)
    for name in ("fax_base.tif", "fax_miw.tif", "fax_onestrip.tif", "fax.g3"):
        os.remove(p(name))

    # Grey 257 x 193 and RGB 211 x 157, with and without predictor, one and many strips.
    save(drawing("L", (257, 193), 2), "gray.tif")
    for comp, tag in (("packbits", "packbits"), ("lzw", "lzw"), ("lzw:2", "lzw_pred"), ("zip", "zip"),
                      ("zip:2", "zip_pred")):
        tiffcp("gray.tif", f"gray_{tag}.tif", "-c", comp)
    tiffcp("gray.tif", "gray_lzw_pred_strips.tif", "-c", "lzw:2", "-r", "7")
    tiffcp("gray.tif", "gray_zip_be.tif", "-c", "zip:2", "-B")
    tiffcp("gray.tif", "gray_miw.tif", "-c", "none")
    run("tiffset", "-s", "262", "0", p("gray_miw.tif"))
    save(drawing("RGB", (211, 157), 3), "rgb.tif")
    for comp, tag in (("packbits", "packbits"), ("lzw", "lzw"), ("lzw:2", "lzw_pred"), ("zip:2", "zip_pred")):
        tiffcp("rgb.tif", f"rgb_{tag}.tif", "-c", comp)
    tiffcp("rgb.tif", "rgb_strips.tif", "-c", "none", "-r", "5")
    tiffcp("rgb.tif", "rgb_lzw_pred_be.tif", "-c", "lzw:2", "-B")
    tiffcp("rgb.tif", "rgb_planar.tif", "-c", "none", "-p", "separate")
    tiffcp("rgb.tif", "rgb_planar_lzw_pred.tif", "-c", "lzw:2", "-p", "separate", "-r", "9")
    tiffcp("rgb.tif", "rgb_zip_lsb.tif", "-c", "zip", "-f", "lsb2msb")
    tiffcp("rgb.tif", "rgb_bigtiff.tif", "-c", "lzw:2", "-8")
    tiffcp("rgb.tif", "rgb_bigtiff_be.tif", "-c", "zip", "-8", "-B")
    rgb = Image.open(p("rgb.tif"))
    save(rgb, "rgb_pil_lzw.tif", compression="tiff_lzw")
    # One strip each, which compact output passes through as PDF filters read it.
    for src, comp, tag in (("gray.tif", "lzw", "gray_lzw"), ("gray.tif", "zip:2", "gray_zip_pred"),
                           ("gray.tif", "packbits", "gray_packbits"), ("gray_miw.tif", "lzw:2", "gray_miw_lzw_pred"),
                           ("rgb.tif", "lzw:2", "rgb_lzw_pred"), ("rgb.tif", "zip", "rgb_zip"),
                           ("rgb.tif", "packbits", "rgb_packbits")):
        tiffcp(src, f"onestrip_{tag}.tif", "-c", comp, "-r", "100000")

    # Palette, CMYK, alpha.
    save(rgb.quantize(colors=200, method=Image.Quantize.MEDIANCUT), "palette.tif")
    tiffcp("palette.tif", "palette_lzw.tif", "-c", "lzw")
    save(rgb.quantize(colors=12), "palette_4bit.tif", "any", "-", bits=4)
    save(rgb.convert("CMYK"), "cmyk.tif")
    tiffcp("cmyk.tif", "cmyk_lzw_planar.tif", "-c", "lzw", "-p", "separate")
    save(rgb.convert("RGBA"), "rgba.tif")
    tiffcp("rgba.tif", "rgba_lzw_pred.tif", "-c", "lzw:2")
    save(Image.open(p("gray.tif")).convert("LA"), "gray_alpha.tif")

    # JPEG: libtiff's abbreviated strips with JPEGTables, YCbCr and RGB coded, grey; Pillow's.
    tiffcp("rgb.tif", "jpeg_ycbcr.tif", "-c", "jpeg", "-r", "160", mode="psnr")
    tiffcp("rgb.tif", "jpeg_ycbcr_strips.tif", "-c", "jpeg", "-r", "16", mode="psnr")
    tiffcp("rgb.tif", "jpeg_rgb.tif", "-c", "jpeg:r", "-r", "160", mode="psnr")
    tiffcp("rgb.tif", "jpeg_rgb_strips.tif", "-c", "jpeg:r", "-r", "8", mode="psnr")
    tiffcp("gray.tif", "jpeg_gray.tif", "-c", "jpeg", "-r", "200", mode="psnr")
    tiffcp("gray.tif", "jpeg_gray_strips.tif", "-c", "jpeg", "-r", "24", mode="psnr")
    save(rgb, "jpeg_pil.tif", mode="psnr", compression="jpeg")

    # Other writers: ImageMagick's own TIFF coder and tiffcrop.
    for name, args in (("im_jpeg.tif", ["rgb.tif", "-compress", "JPEG"]),
                       ("im_cmyk.tif", ["rgb.tif", "-colorspace", "CMYK", "-compress", "LZW"]),
                       ("im_zip.tif", ["gray.tif", "-compress", "Zip"]),
                       ("im_palette.tif", ["rgb.tif", "-colors", "200", "-type", "Palette"]),
                       ("im_rgba_rle.tif", ["rgb.tif", "-alpha", "set", "-compress", "RLE"]),
                       ("im_fax_204x98.tif", ["bw_mib.tif", "-compress", "Group4", "-density", "204x98"])):
        convert(args[0], name, *args[1:], mode="psnr" if name == "im_jpeg.tif" else "exact")
    run("tiffcrop", "-U", "px", "-X", "120", "-Y", "90", "-c", "lzw", p("rgb.tif"), p("crop_lzw.tif"))
    add("crop_lzw.tif")
    run("tiffcrop", "-R", "90", "-c", "g4", p("bw_miw.tif"), p("crop_rotated_g4.tif"))
    add("crop_rotated_g4.tif")

    # Many pages, tiny and large pages.
    run("tiffcp", p("bw_miw_g4.tif"), p("gray_lzw_pred.tif"), p("rgb_zip_pred.tif"), p("palette.tif"),
        p("bw_mib_g3_2d.tif"), p("cmyk.tif"), p("multipage.tif"))
    add("multipage.tif")
    save(Image.new("L", (1, 1), 77), "tiny_gray.tif")
    save(Image.new("1", (1, 1), 1), "tiny_bw.tif")
    tiffcp("tiny_bw.tif", "tiny_bw_g4.tif", "-c", "g4")
    drawing("1", (2480, 3508), 5).save(p("large_bw.tif"))
    tiffcp("large_bw.tif", "large_bw_g4.tif", "-c", "g4")
    os.remove(p("large_bw.tif"))
    drawing("L", (1700, 2200), 6).save(p("large_gray.tif"))
    tiffcp("large_gray.tif", "large_gray_zip.tif", "-c", "zip:2", "-r", "64")
    os.remove(p("large_gray.tif"))

    # Refused: tiles, 16 bits, YCbCr without JPEG, Lab, not a TIFF; damaged files.
    tiffcp("rgb.tif", "tiled.tif", "-c", "lzw", "-t", expect="refuse", mode="-")
    save(Image.open(p("gray.tif")).convert("I;16"), "gray16.tif", "refuse", "-")
    convert("rgb.tif", "lab.tif", "-colorspace", "Lab", expect="refuse", mode="-")
    save(rgb, "png_named.tif", "refuse", "-", format="PNG")
    with open(p("rgb_lzw.tif"), "rb") as f:
        lzw = f.read()
    with open(p("bw_miw_g4.tif"), "rb") as f:
        g4 = f.read()
    # Strip data damaged in the middle: LZW loses rows (refused), G4 gives white rows; neither may crash.
    lzw_mid = bytearray(lzw)
    for i in range(200, 260):
        lzw_mid[i] ^= 0x5A
    g4_mid = bytearray(g4)
    for i in range(100, 140):
        g4_mid[i] ^= 0xFF
    for name, data, expect in (
            ("cut_header.tif", lzw[:7], "refuse"),
            ("cut_lzw.tif", lzw[: len(lzw) // 2], "refuse"),
            ("garbage.tif", b"II*\x00\x08\x00\x00\x00" + bytes(random.Random(9).randrange(256) for _ in range(4000)),
             "refuse"),
            ("damaged_lzw.tif", lzw_mid, "any"),
            ("damaged_g4.tif", g4_mid, "any")):
        with open(p(name), "wb") as f:
            f.write(data)
        add(name, expect, "-")

    with open(p("manifest.tsv"), "w") as f:
        for r in rows:
            f.write("\t".join(r) + "\n")


def reference_pages(tiff):
    """libtiff's decoding of every directory (tiff2rgba), as RGB images."""
    with tempfile.TemporaryDirectory() as tmp:
        ref = os.path.join(tmp, "ref.tif")
        rgba = os.path.join(tmp, "rgba.tif")
        run("tiff2rgba", "-c", "none", tiff, rgba)
        # tiff2rgba keeps a FillOrder 2 tag, which Pillow cannot read; libtiff puts it right.
        run("tiffcp", "-f", "msb2lsb", rgba, ref)
        pages = []
        with Image.open(ref) as im:
            for i in range(getattr(im, "n_frames", 1)):
                im.seek(i)
                pages.append(im.convert("RGBA").convert("RGB").copy())
        return pages


def media_sizes(pdf):
    info = subprocess.run(["pdfinfo", "-f", "1", "-l", "100000", pdf], capture_output=True, text=True,
                          check=True).stdout
    sizes = []
    for line in info.splitlines():
        if line.startswith("Page") and " size:" in line:
            parts = line.split(":", 1)[1].split()
            sizes.append((float(parts[0]), float(parts[2])))
    return sizes


def rendered_pages(pdf, sizes, renderer):
    media = media_sizes(pdf)
    with tempfile.TemporaryDirectory() as tmp:
        out = []
        for i, (w, h) in enumerate(sizes, start=1):
            png = os.path.join(tmp, f"p{i}.png")
            if renderer == "cairo":
                run("pdftocairo", "-png", "-singlefile", "-f", str(i), "-l", str(i), "-scale-to-x", str(w),
                    "-scale-to-y", str(h), pdf, png[:-4])
            else:
                # One device pixel per image pixel, also when the page is stretched (unequal
                # resolutions): -dPDFFitPage would keep the page's proportions instead.
                mw, mh = media[i - 1]
                res = f"-r{72.0 * w / mw:.6f}x{72.0 * h / mh:.6f}"
                run("gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=png16m", f"-g{w}x{h}", res,
                    f"-dFirstPage={i}", f"-dLastPage={i}", "-dInterpolateControl=0", f"-sOutputFile={png}", pdf)
            with Image.open(png) as im:
                out.append(im.convert("RGB").copy())
        return out


def psnr(a, b):
    da, db = a.tobytes(), b.tobytes()
    mse = sum((x - y) ** 2 for x, y in zip(da, db)) / len(da)
    return float("inf") if mse == 0 else 10 * math.log10(255 * 255 / mse)


def true_sizes(tiff, sizes):
    """Page sizes in points that the resolution tags give (one point a pixel without them)."""
    info = subprocess.run(["tiffinfo", tiff], capture_output=True, text=True).stdout
    resolutions = []  # per directory: (x, y, unit text) or None
    for line in info.splitlines():
        if line.startswith("=== TIFF directory"):
            resolutions.append(None)
        elif line.strip().startswith("Resolution:") and resolutions:
            x, rest = line.split(":", 1)[1].split(",", 1)
            y, unit = (rest.split(None, 1) + [""])[:2]
            resolutions[-1] = (float(x), float(y), unit.strip())
    out = []
    for i, (w, h) in enumerate(sizes):
        xr, yr, unit = resolutions[i] if i < len(resolutions) and resolutions[i] else (0, 0, "")
        if xr > 0 and yr > 0 and unit in ("pixels/inch", "pixels/cm"):
            per_inch = 2.54 if unit == "pixels/cm" else 1.0
            pw, ph = w * 72 / (xr * per_inch), h * 72 / (yr * per_inch)
        else:
            pw, ph = w, h * (xr / yr if xr > 0 and yr > 0 else 1)
        scale = min(1.0, 14400 / max(pw, ph))
        out.append((pw * scale, ph * scale))
    return out


def compare(tiff, pdf, mode, compact=False):
    refs = reference_pages(tiff)
    info = subprocess.run(["pdfinfo", pdf], capture_output=True, text=True, check=True).stdout
    count = int([l for l in info.splitlines() if l.startswith("Pages:")][0].split()[1])
    if count != len(refs):
        print(f"{count} PDF pages, {len(refs)} TIFF directories")
        return 1
    sizes = [r.size for r in refs]
    failures = 0
    if compact:
        for i, ((ew, eh), (mw, mh)) in enumerate(zip(true_sizes(tiff, sizes), media_sizes(pdf)), start=1):
            if abs(mw - ew) > 0.005 * ew + 0.01 or abs(mh - eh) > 0.005 * eh + 0.01:
                print(f"page {i}: {mw} x {mh} points, resolution gives {ew:.2f} x {eh:.2f}")
                failures += 1
    for renderer in ("cairo", "gs"):
        for i, (ref, got) in enumerate(zip(refs, rendered_pages(pdf, sizes, renderer)), start=1):
            if mode == "exact":
                if ref.tobytes() != got.tobytes():
                    diff = sum(1 for x, y in zip(ref.tobytes(), got.tobytes()) if x != y)
                    print(f"{renderer} page {i}: {diff} samples differ")
                    failures += 1
            else:
                value = psnr(ref, got)
                if value < 30:
                    print(f"{renderer} page {i}: PSNR {value:.1f} dB")
                    failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "make":
        make(sys.argv[2])
    elif len(sys.argv) in (5, 6) and sys.argv[1] == "compare":
        sys.exit(compare(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:] == ["compact"]))
    else:
        print(__doc__)
        sys.exit(64)

#!/usr/bin/python3
"""The picture read by a machine: Debian's tesseract (digits only) after the preprocessing an
attacker would try, over pictures the tool draws. Reports, per configuration, the exact-number and
per-digit solve rates of every pipeline and of the best one.

usage: ocr_attack.py <vexorin tool> [pictures per configuration (250)] [workers (2)] [configuration
       numbers (all)]
Needs tesseract-ocr, python3-numpy, python3-pil and python3-scipy (bench/attack/setup.sh installs them).
"""
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

import numpy as np
from PIL import Image
from scipy import ndimage

# (name, tool options); the digit count is read back from the width, as an attacker would.
CONFIGURATIONS = [
    ("default (8 digits, height 30)", []),
    ("noise", ["--noise"]),
    ("height 60", ["-H", "60"]),
    ("height 60, noise", ["-H", "60", "--noise"]),
    ("4 digits", ["-d", "4"]),
    ("9 digits", ["-d", "9"]),
    ("6 digits, noise", ["-d", "6", "--noise"]),
]

# Pictures are scaled to about 120 pixels high: what tesseract reads best in a trial of 30 to 240.
TARGET_HEIGHT = 120


def scale_of(gray):
    return max(1, round(TARGET_HEIGHT / gray.shape[0]))


def upscale(gray):
    h, w = gray.shape
    s = scale_of(gray)
    return np.asarray(Image.fromarray(gray).resize((w * s, h * s), Image.BICUBIC))


def otsu(gray):
    hist = np.bincount(gray.ravel(), minlength=256).astype(float)
    total = hist.sum()
    cum = np.cumsum(hist)
    mean = np.cumsum(hist * np.arange(256))
    between = (mean[-1] * cum / total - mean) ** 2 / np.maximum(cum * (total - cum), 1)
    return int(np.argmax(between))


def ink(gray, threshold=None):
    return gray < (otsu(gray) if threshold is None else threshold)


def drop_blobs(mask, smallest):
    labels, count = ndimage.label(mask, structure=np.ones((3, 3)))
    if count == 0:
        return mask
    sizes = ndimage.sum(mask, labels, range(1, count + 1))
    keep = np.zeros(count + 1, bool)
    keep[1:] = sizes >= smallest
    return keep[labels]


def cells(mask, digits, gap):
    """Cuts the picture into equal cells (one per digit) and sets them apart with white gaps."""
    h, w = mask.shape
    parts = []
    for i in range(digits):
        parts.append(mask[:, i * w // digits:(i + 1) * w // digits])
        parts.append(np.zeros((h, gap), bool))
    return np.hstack(parts[:-1])


def to_image(mask):
    page = np.where(mask, 0, 255).astype(np.uint8)
    return np.pad(page, 20, constant_values=255)


def pipeline_raw(gray, digits):
    return np.pad(upscale(gray), 20, constant_values=255)


def pipeline_threshold(gray, digits):
    return to_image(ink(upscale(gray)))


def pipeline_median(gray, digits):
    return to_image(ndimage.median_filter(ink(upscale(gray)), size=3))


def pipeline_blobs(gray, digits):
    mask = ink(ndimage.median_filter(upscale(gray), size=5))
    return to_image(drop_blobs(mask, 12 * scale_of(gray) ** 2))


def pipeline_cells(gray, digits):
    mask = ink(ndimage.median_filter(upscale(gray), size=5))
    mask = drop_blobs(mask, 12 * scale_of(gray) ** 2)
    return to_image(cells(ndimage.binary_dilation(mask), digits, TARGET_HEIGHT // 3))


def pipeline_cells_thick(gray, digits):
    mask = ink(ndimage.median_filter(upscale(gray), size=5))
    mask = drop_blobs(mask, 12 * scale_of(gray) ** 2)
    return to_image(cells(ndimage.binary_dilation(mask, iterations=2), digits, TARGET_HEIGHT // 2))


def pipeline_each_cell(gray, digits):
    """Each cell read alone as one character (a list of pages, one per digit)."""
    mask = ink(ndimage.median_filter(upscale(gray), size=5))
    mask = ndimage.binary_dilation(drop_blobs(mask, 12 * scale_of(gray) ** 2))
    h, w = mask.shape
    return [to_image(mask[:, i * w // digits:(i + 1) * w // digits]) for i in range(digits)]


def pipeline_each_cell_median3(gray, digits):
    mask = ndimage.median_filter(ink(upscale(gray)), size=3)
    mask = ndimage.binary_dilation(drop_blobs(mask, 8 * scale_of(gray) ** 2))
    h, w = mask.shape
    return [to_image(mask[:, i * w // digits:(i + 1) * w // digits]) for i in range(digits)]


def pipeline_each_cell_thin(gray, digits):
    mask = drop_blobs(ink(ndimage.median_filter(upscale(gray), size=3)), 8 * scale_of(gray) ** 2)
    h, w = mask.shape
    return [to_image(mask[:, i * w // digits:(i + 1) * w // digits]) for i in range(digits)]


PIPELINES = [
    ("upscale", pipeline_raw),
    ("upscale+otsu", pipeline_threshold),
    ("+median3", pipeline_median),
    ("median5+otsu+blobs", pipeline_blobs),
    ("+dilate+cells", pipeline_cells),
    ("+dilate2+wide cells", pipeline_cells_thick),
    ("each cell alone", pipeline_each_cell),
    ("each cell, median3", pipeline_each_cell_median3),
    ("each cell, thin", pipeline_each_cell_thin),
]
# Cell pipelines whose digits are put to a vote, position by position.
VOTERS = ["each cell alone", "each cell, median3", "each cell, thin"]


def vote(readings):
    """The most common digit at each position (the first voter's on a tie)."""
    out = []
    for position in zip(*readings):
        out.append(max(position, key=lambda d: (position.count(d), -position.index(d))))
    return "".join(out)


def blank_guess(cell):
    """Tesseract reads nothing mostly for 1 (a lone stroke) and 4 (open strokes): tell them apart by
    the ink's width."""
    ink_columns = np.where((cell < 128).any(axis=0))[0]
    if ink_columns.size == 0:
        return "?"
    return "1" if ink_columns[-1] - ink_columns[0] < 0.3 * cell.shape[0] else "4"


def read_pages(images, work, tag):
    """One tesseract run over all pages; returns the digits it read on each. A picture given as a
    list of cells is read one character per cell."""
    if isinstance(images[0], list):
        flat = [cell for cells_of in images for cell in cells_of]
        read = [r[:1] or blank_guess(cell) for r, cell in zip(read_pages_flat(flat, work, tag, "8"), flat)]
        out, at = [], 0
        for cells_of in images:
            out.append("".join(read[at:at + len(cells_of)]))
            at += len(cells_of)
        return out
    return read_pages_flat(images, work, tag, "7")


def read_pages_flat(images, work, tag, psm):
    listing = os.path.join(work, tag + ".txt")
    with open(listing, "w") as f:
        for i, page in enumerate(images):
            path = os.path.join(work, f"{tag}-{i}.png")
            Image.fromarray(page).save(path)
            f.write(path + "\n")
    out = subprocess.run(["tesseract", listing, "stdout", "--psm", psm, "--dpi", "300",
                          "-c", "tessedit_char_whitelist=0123456789"],
                         capture_output=True, text=True, check=True).stdout
    pages = out.split("\f")
    return ["".join(ch for ch in p if ch.isdigit()) for p in pages[:len(images)]]


def score(truth, read):
    exact = sum(t == r for t, r in zip(truth, read))
    digits = sum(sum(a == b for a, b in zip(t, r)) if len(t) == len(r) else 0 for t, r in zip(truth, read))
    return exact / len(truth), digits / sum(len(t) for t in truth)


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 250
    workers = int(sys.argv[3]) if len(sys.argv) > 3 else 2
    chosen = {int(a) for a in sys.argv[4:]} or set(range(len(CONFIGURATIONS)))
    print(f"{count} pictures per configuration; exact-number and per-digit rates of each pipeline")
    with tempfile.TemporaryDirectory() as work, ThreadPoolExecutor(workers) as pool:
        for ci, (name, options) in enumerate(CONFIGURATIONS):
            if ci not in chosen:
                continue
            truth, grays = [], []
            for i in range(count):
                path = os.path.join(work, "p.jpg")
                # A seed per picture makes the run repeatable; the pictures are drawn as a page's are.
                number = subprocess.run([tool, *options, "--seed", str(ci * 100000 + i), "-o", path],
                                        capture_output=True, text=True, check=True).stdout.strip()
                gray = np.asarray(Image.open(path).convert("L"))
                truth.append(number)
                grays.append(gray)
            jobs = []
            for pi, (pname, fn) in enumerate(PIPELINES):
                # The width gives the digit count: width = digits x height / 2.
                pages = [fn(g, round(2 * g.shape[1] / g.shape[0])) for g in grays]
                jobs.append((pname, pool.submit(read_pages, pages, work, f"c{ci}p{pi}")))
            reads = {pname: job.result() for pname, job in jobs}
            results = [(pname, score(truth, reads[pname])) for pname, _ in jobs]
            voted = [vote([reads[v][i] for v in VOTERS]) for i in range(count)]
            results.append(("vote of the cell readers", score(truth, voted)))
            best = max(results, key=lambda r: (r[1][0], r[1][1]))
            print(f"\n{name}: best {best[0]}: exact {best[1][0]:.1%}, per digit {best[1][1]:.1%}")
            for pname, (exact, per_digit) in results:
                print(f"  {pname:24s} exact {exact:6.1%}  per digit {per_digit:6.1%}")
            sys.stdout.flush()


if __name__ == "__main__":
    main()

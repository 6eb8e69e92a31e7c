#!/usr/bin/python3
"""A prepared attacker's picture reader: the picture cut into equal cells (the width gives the digit
count), one small convolutional network reading every cell, trained on pictures the tool draws with
--seed and tested on pictures it draws from the system's generator, as a page's are. Reports the
exact-number and per-digit rates per configuration, the training size and time, and the reading time
per picture and per solved picture.

usage: picture_reader.py <vexorin tool> [training pictures per kind (1500)] [test pictures (500)]
       [epochs (5)]
Needs python3-torch, python3-numpy and python3-pil (bench/attack/setup.sh installs them).
"""
import os
import sys
import time

import numpy as np
import torch
from PIL import Image
from torch import nn

from samples import pictures
from training import train

# Two threads (the machine's two cores); fewer where others share them (VEXORIN_TORCH_THREADS).
torch.set_num_threads(int(os.environ.get("VEXORIN_TORCH_THREADS", "2")))
torch.manual_seed(1)

# Every picture is scaled to this height, so a cell is CELL / 2 wide; a cell is read with MARGIN
# pixels of its neighbours on each side, where slanted ink spills over.
CELL = 24
MARGIN = 3

# What the attacker trains on: the pictures a page can serve, noise on and off, both heights.
TRAINING = [["-d", "8"], ["-d", "8", "--noise"], ["-d", "8", "-H", "60"], ["-d", "8", "-H", "60", "--noise"]]
TESTS = [
    ("default (8 digits, height 30)", []),
    ("Noise on", ["--noise"]),
    ("height 60", ["-H", "60"]),
    ("height 60, Noise on", ["-H", "60", "--noise"]),
    ("4 digits", ["-d", "4"]),
    ("9 digits", ["-d", "9"]),
    ("6 digits, Noise on", ["-d", "6", "--noise"]),
]


def cells(gray):
    """The picture's cells, one per digit: (digits, CELL, CELL / 2 + 2 MARGIN), ink near 1."""
    h, w = gray.shape
    digits = round(2 * w / h)
    width = digits * CELL // 2
    scaled = np.asarray(Image.fromarray(gray).resize((width, CELL), Image.BILINEAR), dtype=np.float32)
    ink = np.pad((255 - scaled) / 255, ((0, 0), (MARGIN, MARGIN)))
    return np.stack([ink[:, i * CELL // 2:(i + 1) * CELL // 2 + 2 * MARGIN] for i in range(digits)])


def network():
    return nn.Sequential(
        nn.Conv2d(1, 16, 3, padding=1), nn.BatchNorm2d(16), nn.ReLU(), nn.MaxPool2d(2),
        nn.Conv2d(16, 32, 3, padding=1), nn.BatchNorm2d(32), nn.ReLU(), nn.MaxPool2d(2),
        nn.Conv2d(32, 64, 3, padding=1), nn.BatchNorm2d(64), nn.ReLU(), nn.MaxPool2d(2),
        nn.Flatten(), nn.Dropout(0.2), nn.Linear(64 * (CELL // 8) * ((CELL // 2 + 2 * MARGIN) // 8), 10))


def read(model, grays):
    """The numbers the model reads from the pictures, all cells of a picture in one pass."""
    model.eval()
    with torch.no_grad():
        parts = [cells(gray) for gray in grays]
        digits = model(torch.from_numpy(np.concatenate(parts)).unsqueeze(1)).argmax(1).tolist()
    out, at = [], 0
    for part in parts:
        out.append("".join(map(str, digits[at:at + len(part)])))
        at += len(part)
    return out


def main():
    tool = sys.argv[1]
    per_kind = int(sys.argv[2]) if len(sys.argv) > 2 else 1500
    tests = int(sys.argv[3]) if len(sys.argv) > 3 else 500
    epochs = int(sys.argv[4]) if len(sys.argv) > 4 else 5

    started = time.time()
    xs, ys = [], []
    for k, options in enumerate(TRAINING):
        numbers, grays = pictures(tool, options, per_kind, seeds=range(k * 1000000, k * 1000000 + per_kind))
        for number, gray in zip(numbers, grays):
            xs.append(cells(gray))
            ys += [int(d) for d in number]
    x = torch.from_numpy(np.concatenate(xs)).unsqueeze(1)
    y = torch.tensor(ys)
    drawn = time.time() - started
    print(f"training: {per_kind * len(TRAINING)} pictures ({len(y)} cells) drawn with --seed in {drawn:.0f} s",
          flush=True)

    model = network()
    train(model, len(y), 256, epochs, lambda idx: nn.functional.cross_entropy(model(x[idx]), y[idx]))

    print(f"\n{tests} pictures per configuration, drawn without --seed (the system's generator)")
    print("(reading time: processor time per picture, cutting included, and per picture read right)")
    print(f"{'configuration':32s} {'exact':>7s} {'per digit':>10s} {'ms/picture':>11s} {'ms/solved':>10s}")
    for name, options in TESTS:
        numbers, grays = pictures(tool, options, tests)
        begun = time.process_time()
        heard = read(model, grays)
        per_picture = (time.process_time() - begun) / tests * 1000
        exact = sum(a == b for a, b in zip(numbers, heard)) / tests
        digits = sum(sum(p == q for p, q in zip(a, b)) for a, b in zip(numbers, heard)) / sum(map(len, numbers))
        solved = f"{per_picture / exact:10.2f}" if exact else f"{'-':>10s}"
        print(f"{name:32s} {exact:7.1%} {digits:10.1%} {per_picture:11.2f} {solved}", flush=True)


if __name__ == "__main__":
    main()

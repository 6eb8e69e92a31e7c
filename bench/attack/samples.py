"""Labelled pictures and sounds from the tool, many per process (--batch), for the learned attackers.
With seeds the samples are repeatable (the attacker's own training material); without, the tool draws
from the system's generator, as a page does."""
import io
import os
import subprocess
import tempfile
import wave

import numpy as np
from PIL import Image


def _batch(tool, lines, suffix, read, chunk=500):
    """Runs the tool over `lines` (each a list of options, without -o) in chunks; returns the numbers
    it printed and what `read` makes of each file, the files removed as they are read."""
    numbers, samples = [], []
    with tempfile.TemporaryDirectory() as work:
        for start in range(0, len(lines), chunk):
            part = lines[start:start + chunk]
            batch = os.path.join(work, "batch")
            with open(batch, "w") as f:
                for i, options in enumerate(part):
                    f.write(" ".join(options + ["-o", os.path.join(work, f"{i}{suffix}")]) + "\n")
            out = subprocess.run([tool, "--batch", batch], capture_output=True, text=True, check=True).stdout
            numbers += out.split()
            for i in range(len(part)):
                path = os.path.join(work, f"{i}{suffix}")
                samples.append(read(path))
                os.remove(path)
    assert len(numbers) == len(samples) == len(lines)
    return numbers, samples


def _gray(path):
    with open(path, "rb") as f:
        return np.asarray(Image.open(io.BytesIO(f.read())).convert("L"))


def _pcm(path):
    with wave.open(path) as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float32) / 32768


def pictures(tool, options, count, seeds=None):
    """`count` JPEG pictures drawn with `options`, as gray arrays, and their numbers."""
    lines = [options + (["--seed", str(s)] if seeds is not None else []) for s in (seeds or [None] * count)]
    return _batch(tool, lines, ".jpg", _gray)


def sounds(tool, digits, levels, seeds=None, transform=lambda pcm: pcm):
    """One sound per entry of `levels` (a Noise level each), `digits` digits, as float samples, or
    what `transform` makes of them (thousands of sounds' samples would not fit in memory)."""
    lines = []
    for i, level in enumerate(levels):
        line = ["--audio", "-d", str(digits), "--noise-level", str(level)]
        if seeds is not None:
            line += ["--seed", str(seeds[i])]
        lines.append(line)
    return _batch(tool, lines, ".wav", lambda path: transform(_pcm(path)), chunk=200)

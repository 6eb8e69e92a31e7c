#!/usr/bin/python3
"""A prepared attacker's listener: a small convolutional network over log-mel spectrograms with a
CTC output (no digit positions needed), trained on six-digit sounds the tool makes with --seed at
every Noise level together, tested at each level on sounds made without --seed, as a page's are.
Reports the exact-number and per-digit rates per level, the training size and time, and the reading
time per sound and per solved sound.

usage: listener.py <vexorin tool> [training sounds (8000)] [test sounds per level (300)] [epochs (20)]
Needs python3-torch and python3-numpy (bench/attack/setup.sh installs them).
"""
import os
import sys
import time

import numpy as np
import torch
from torch import nn

from samples import sounds
from training import train

# Two threads (the machine's two cores); fewer where others share them (VEXORIN_TORCH_THREADS).
torch.set_num_threads(int(os.environ.get("VEXORIN_TORCH_THREADS", "2")))
torch.manual_seed(1)

DIGITS = 6
LEVELS = [0, 1, 2, 3, 4]
RATE = 16000
HOP = 320        # 20 ms: a digit spans some 13 to 25 frames
WINDOW = 640
BANDS = 40
BLANK = 10       # CTC's blank; the digits are classes 0 to 9


def mel_filters():
    mel = lambda hz: 2595 * np.log10(1 + hz / 700)
    hz = lambda m: 700 * (10 ** (m / 2595) - 1)
    edges = hz(np.linspace(mel(60), mel(7800), BANDS + 2))
    freqs = np.linspace(0, RATE / 2, WINDOW // 2 + 1)
    f = np.zeros((BANDS, len(freqs)), np.float32)
    for b in range(BANDS):
        lo, mid, hi = edges[b:b + 3]
        f[b] = np.clip(np.minimum((freqs - lo) / (mid - lo), (hi - freqs) / (hi - mid)), 0, None)
    return torch.from_numpy(f)


FILTERS = mel_filters()


def features(pcm):
    """Log-mel energies, (BANDS, frames), each band's mean over the sound removed."""
    spec = torch.stft(torch.from_numpy(pcm), WINDOW, HOP, window=torch.hann_window(WINDOW), return_complex=True)
    logmel = torch.log(FILTERS @ spec.abs() ** 2 + 1e-6)
    return logmel - logmel.mean(1, keepdim=True)


def network():
    def block(cin, cout, stride=1, dilation=1):
        return [nn.Conv1d(cin, cout, 5, stride=stride, padding=2 * dilation, dilation=dilation),
                nn.BatchNorm1d(cout), nn.ReLU()]
    return nn.Sequential(*block(BANDS, 64, stride=2), *block(64, 64), *block(64, 64, dilation=2),
                         *block(64, 64, dilation=4), nn.Conv1d(64, BLANK + 1, 1))


def pad(batch):
    """Features of different lengths as one zero-padded tensor, and their lengths."""
    lengths = torch.tensor([f.shape[1] for f in batch])
    out = torch.zeros(len(batch), BANDS, int(lengths.max()))
    for i, f in enumerate(batch):
        out[i, :, :f.shape[1]] = f
    return out, lengths


def out_lengths(lengths):
    return (lengths - 1) // 2 + 1  # the one stride-2 layer


def decode(logits, lengths):
    """Greedy CTC: the best class per step, repeats merged, blanks dropped."""
    out = []
    for row, n in zip(logits.argmax(1), out_lengths(lengths)):
        digits, last = [], BLANK
        for c in row[:n].tolist():
            if c != last and c != BLANK:
                digits.append(str(c))
            last = c
        out.append("".join(digits))
    return out


def main():
    tool = sys.argv[1]
    training = int(sys.argv[2]) if len(sys.argv) > 2 else 8000
    tests = int(sys.argv[3]) if len(sys.argv) > 3 else 300
    epochs = int(sys.argv[4]) if len(sys.argv) > 4 else 20

    started = time.time()
    levels = [LEVELS[i % len(LEVELS)] for i in range(training)]
    numbers, feats = sounds(tool, DIGITS, levels, seeds=[7000000 + i for i in range(training)], transform=features)
    labels = torch.tensor([[int(d) for d in n] for n in numbers])
    print(f"training: {training} sounds of {DIGITS} digits, levels {LEVELS[0]}-{LEVELS[-1]} alike, made with "
          f"--seed in {time.time() - started:.0f} s", flush=True)

    model = network()
    ctc = nn.CTCLoss(blank=BLANK, zero_infinity=True)

    def loss_of(idx):
        x, lengths = pad([feats[j] for j in idx])
        logp = model(x).log_softmax(1).permute(2, 0, 1)  # (steps, batch, classes)
        return ctc(logp, labels[idx], out_lengths(lengths), torch.full((len(idx),), DIGITS))

    train(model, training, 32, epochs, loss_of)

    print(f"\n{tests} sounds of {DIGITS} digits per level, made without --seed (the system's generator)")
    print("(reading time: processor time per sound, features included, and per sound read right)")
    print(f"{'Noise':6s} {'exact':>7s} {'per digit':>10s} {'ms/sound':>9s} {'ms/solved':>10s}")
    model.eval()
    for level in LEVELS:
        numbers, pcms = sounds(tool, DIGITS, [level] * tests)
        begun = time.process_time()
        heard = []
        with torch.no_grad():
            for pcm in pcms:
                x, lengths = pad([features(pcm)])
                heard += decode(model(x), lengths)
        per_sound = (time.process_time() - begun) / tests * 1000
        exact = sum(a == b for a, b in zip(numbers, heard)) / tests
        # A digit counts where the reading has the number's length and that digit in its place.
        digits = sum(sum(p == q for p, q in zip(a, b)) if len(a) == len(b) else 0
                     for a, b in zip(numbers, heard)) / (tests * DIGITS)
        solved = f"{per_sound / exact:10.1f}" if exact else f"{'-':>10s}"
        print(f"{level:<6d} {exact:7.1%} {digits:10.1%} {per_sound:9.1f} {solved}", flush=True)


if __name__ == "__main__":
    main()

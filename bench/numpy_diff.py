#!/usr/bin/env python3
"""The figures decimal-diff gives, computed with numpy: the peer it is timed against.

    numpy_diff.py DIR TOLERANCE
"""
import sys

import numpy as np


def main():
    directory, tolerance = sys.argv[1], int(sys.argv[2])
    samples = np.loadtxt(f"{directory}/samples.txt", dtype=np.int64)
    model = np.loadtxt(f"{directory}/results_m.txt", dtype=np.int64)
    implementation = np.loadtxt(f"{directory}/results_c.txt", dtype=np.int64)
    if model.size != implementation.size or samples.size < model.size:
        sys.exit("the files hold different counts")
    # Q1.11: the low 12 bits as a signed integer.
    s_m = (model + 2048) % 4096 - 2048
    s_c = (implementation + 2048) % 4096 - 2048
    d = s_c - s_m
    beyond = np.abs(d) > tolerance
    largest = int(np.argmax(np.abs(d)))
    values, counts = np.unique(d, return_counts=True)
    noise = float(np.sum(d * d))
    snr = 10 * np.log10(float(np.sum(s_m * s_m)) / noise) if noise else float("inf")
    print("histogram:", " ".join(f"{v}:{c}" for v, c in zip(values, counts)))
    print(f"summary: {int(beyond.sum())} of {d.size} entries differ by more than {tolerance} LSB; "
          f"largest {int(d[largest])} LSB at index {largest}; mean {d.mean():.3f} LSB, "
          f"rms {np.sqrt(noise / d.size):.3f} LSB, snr {snr:.2f} dB")
    sys.exit(1 if beyond.any() else 0)


if __name__ == "__main__":
    main()

"""The plain numpy decode of a MORVEN file that an analyst writes without the
morven module: the benchmark's yardstick for morven.open(...).packets() plus
morven.decode(). It reads the whole file with numpy.fromfile, skips the file
header, walks the chunk headers in Python, gathers the payloads of the data
chunks and masks and shifts the fields of the ToA/ToT layout into one array
per field. It knows nothing of the damaged-file rules (cut chunks, refused
headers), of the 16 MiB pieces, of word or byte reversal or of Pelvan blocks.

    /usr/bin/python3 bench/bench_python_numpy.py FILE
"""

import sys

import numpy as np


def read_words(path):
    raw = np.fromfile(path, dtype="<u8")
    pieces = []
    i = 1  # the file header
    while i < len(raw):
        header = int(raw[i])
        n = header & 0xFFFFFFFF
        if header >> 60 == 0:  # group id 0: a data chunk
            pieces.append(raw[i + 1:i + 1 + n])
        i += 1 + n
    return np.concatenate(pieces)


def decode(w):
    def bits(high, low, dtype):
        return ((w >> np.uint64(low)) & np.uint64((1 << (high - low + 1)) - 1)).astype(dtype)

    top = (w >> np.uint64(63)).astype(bool)
    kind = bits(62, 55, np.uint8)
    pixel = bits(54, 46, np.uint16)
    x = 2 * kind.astype(np.uint16) + ((pixel >> 2) & 1)
    y = 4 * (pixel >> 3) + (pixel & 3)
    x = np.where(top, 447 - x, x)
    y = np.where(top, 511 - y, y)
    return dict(top=top, type=kind, pixel=pixel, x=x, y=y, toa=bits(45, 30, np.uint16),
                uftoa_stop=bits(29, 26, np.uint8), uftoa_start=bits(25, 22, np.uint8),
                ftoa_rise=bits(21, 17, np.uint8), ftoa_fall=bits(16, 12, np.uint8),
                tot=bits(11, 1, np.uint16), pileup=(w & np.uint64(1)).astype(bool),
                timer=w & np.uint64(0x007FFFFFFFFFFFFF))


if __name__ == "__main__":
    fields = decode(read_words(sys.argv[1]))
    print(len(fields["x"]), "packets")

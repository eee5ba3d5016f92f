"""Uses of the module that the type hints refuse; mypy --strict must report
each line marked with an error comment, and no other."""

import numpy as np

import morven

stats = morven.statistics("run.mv")
morven.decode(np.zeros(4, np.uint64), "frame")  # error: layout
stats.report(histogram_bins="9")  # error: histogram_bins
stats + 1  # error: only statistics add
morven.statistics("run.mv", frame_bits=12)  # error: frame_bits
text: int = stats.to_json()  # error: to_json gives str
morven.open("run.mv").packets(out=[0, 0])  # error: out is an array

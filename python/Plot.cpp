// Statistics.plot(): the hit map and the spectra of a statistics run in one
// matplotlib figure, for a notebook. Written in Python, run when the module
// loads; matplotlib is imported only when a figure is drawn.
#include <pybind11/eval.h>

#include "Module.h"

namespace morven::python {

namespace {

const char* const PLOT_SOURCE = R"PY(
def plot(self, log=True, figure=None):
    """The hit map (log colour scale unless log=False, hot pixels circled),
    its column and row projections, the ToA and ToT spectra, the count
    spectrum of counting runs and the hits per data chunk, in one matplotlib
    figure (a new one, or the figure given); returns the figure."""
    import matplotlib.pyplot as plt
    from matplotlib.colors import LogNorm, Normalize
    import numpy as np
    fig = figure if figure is not None else plt.figure(figsize=(13, 11))
    grid = fig.add_gridspec(3, 3)
    ax = fig.add_subplot(grid[0:2, 0:2])
    hits = self.hit_map.astype(float)
    most = max(hits.max(), 1.0)
    shown = np.ma.masked_where(hits == 0, hits)
    norm = LogNorm(vmin=1, vmax=max(most, 2)) if log else Normalize(vmin=0, vmax=most)
    image = ax.imshow(shown, origin="lower", cmap="viridis", norm=norm,
                      interpolation="nearest", extent=(-0.5, 447.5, -0.5, 511.5))
    ax.axhline(255.5, color="white", linestyle="--", linewidth=0.8)
    if len(self.hot_pixels):
        ax.scatter(self.hot_pixels[:, 0], self.hot_pixels[:, 1], s=40,
                   facecolors="none", edgecolors="#e8175d")
    ax.set(title="Hits per pixel", xlabel="x (column)", ylabel="y (row)")
    fig.colorbar(image, ax=ax, label="hits per pixel")
    side = fig.add_subplot(grid[0, 2])
    side.step(np.arange(448), self.hit_map.sum(axis=0), where="mid")
    side.set(title="Hits per column", xlabel="x", ylabel="hits")
    rows = fig.add_subplot(grid[1, 2])
    rows.step(np.arange(512), self.hit_map.sum(axis=1), where="mid")
    rows.set(title="Hits per row", xlabel="y", ylabel="hits")
    toa = fig.add_subplot(grid[2, 0])
    toa.step(np.arange(65536), self.toa_hits, where="mid", linewidth=0.5)
    toa.set(title="ToA of the hits", xlabel="ToA", ylabel="hits", yscale="log")
    tot = fig.add_subplot(grid[2, 1])
    if self.pc_counts.sum() > 0:
        tot.step(self.pc_bins, self.pc_counts, where="post")
        tot.set(title="Counts (PC24)", xlabel="count", ylabel="hits", xscale="symlog")
    else:
        tot.step(np.arange(2048), self.tot, where="mid")
        tot.set(title="ToT of the hits", xlabel="ToT", ylabel="hits", yscale="log")
    rate = fig.add_subplot(grid[2, 2])
    chunks = np.concatenate(self.chunk_hits) if self.chunk_hits else np.zeros(0)
    rate.plot(chunks)
    rate.set(title="Hits per data chunk", xlabel="data chunk", ylabel="hits")
    fig.tight_layout()
    return fig
)PY";

}  // namespace

void addPlot(py::module_& m) {
  py::dict scope;
  py::exec(PLOT_SOURCE, scope);
  m.attr("Statistics").attr("plot") = scope["plot"];
}

}  // namespace morven::python

"""Throughput against size, drawn with matplotlib (``pip install
fennick[bench]``)."""

from fennick.bench.cases import NATIVE
from fennick.bench.competitors import IDIOMS


def plot(results, path):
    """Throughput against size for 1-d arrays of the native types: one panel
    per dtype and share of matches, one line per competitor."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    shares = ("1%", "50%")
    fig, axes = plt.subplots(
        len(shares),
        len(NATIVE),
        figsize=(16, 7.5),
        sharex=True,
        sharey=True,
        squeeze=False,
    )
    for i, share in enumerate(shares):
        for j, dtype in enumerate(NATIVE):
            ax = axes[i][j]
            rs = sorted(
                (
                    r
                    for r in results
                    if r["layout"] == "1-d"
                    and r["call"] == "replace"
                    and r["dtype"] == dtype
                    and r["match"] == share
                    and "best_idiom" in r
                ),
                key=lambda r: r["size"],
            )
            names = ["fennick", *IDIOMS, "inplace", "readonly"]
            if rs and all("numba" in r["times_ns"] for r in rs):
                names.insert(1, "numba")
            for name in names:
                ts = [
                    r[name] if name in r else r["times_ns"][name] for r in rs
                ]
                ax.plot(
                    [r["elements"] for r in rs],
                    [
                        r["elements"] / t * 1e9
                        for r, t in zip(rs, ts, strict=True)
                    ],
                    marker="o",
                    ms=3,
                    label=name,
                    lw=2.5 if name == "fennick" else 1.2,
                    ls="--" if name in ("inplace", "readonly") else "-",
                )
            ax.set(xscale="log", yscale="log", title=f"{dtype}, {share} match")
            ax.grid(True, which="major", alpha=0.3)
            if i == len(shares) - 1:
                ax.set_xlabel("elements")
            if j == 0:
                ax.set_ylabel("elements per second")
    axes[0][0].legend(fontsize=8)
    fig.suptitle("fennick.replace against NumPy idioms (1-d contiguous)")
    fig.tight_layout()
    fig.savefig(path, dpi=110)

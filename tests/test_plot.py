"""Figures of closed-loop runs: legends stand outside every panel's data area."""

import pytest

pytest.importorskip("matplotlib")

from vorn import demo  # noqa: E402
from vorn.loop import figure as plot  # noqa: E402


def _panels(runs, save, tmp_path):
    figures = []
    plt = plot._pyplot()
    original = plt.close
    plt.close = figures.append  # keep the figure that save_* would close
    try:
        save(runs if save is plot.save_grid else runs[0], str(tmp_path / "f.png"))
    finally:
        plt.close = original
    [fig] = figures
    return [axis for axis in fig.axes if axis.get_legend() is not None], fig


@pytest.mark.parametrize("form, plant", [(f, "coupled") for f in demo.FORMS] + [("cfdl", "nonlinear")])
def test_legends_never_overlap_the_data_area(tmp_path, form, plant):
    run = demo.close_loop(demo.make_controller(form, plant), plant, 240)
    for save in (plot.save_run, plot.save_grid):
        axes, fig = _panels([run], save, tmp_path)
        assert axes, "no legend drawn"
        renderer = fig.canvas.get_renderer()
        for axis in axes:
            box = axis.get_legend().get_window_extent(renderer)
            area = axis.get_window_extent(renderer)
            assert not box.overlaps(area), f"{run.controller}: legend covers the panel"
            assert box.x1 <= fig.bbox.x1 + 0.5, "legend cut off at the figure's edge"
        plot._pyplot().close(fig)

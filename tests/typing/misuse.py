"""Calls the stubs must reject; mypy must flag exactly the marked lines."""

import numpy as np

import fennick

x = np.zeros(3)
fennick.replace([0.0, 1.0], 0, 1)  # error: works in place, needs an array
fennick.replace(x, None, 1)  # error: not a number
fennick.replace(x, "0", 1)  # error: text is not converted, nor complex
fennick.replace(x, 1j, 0)  # error
fennick.replace(x, 0)  # error: too few arguments
fennick.replace(x, 0, 1, old=0)  # error: `old` given twice
fennick.replace(x, 0, neww=1)  # error: unknown keyword
fennick.replace_parallel(x, 0, 1, 2)  # error: workers is keyword-only
fennick.replace_parallel(x, 0, 1, workers=2.0)  # error: not an integer
as_list: list[float] = fennick.replace(x, 0, 1)  # error: an array comes back

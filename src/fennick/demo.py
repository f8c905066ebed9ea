"""A short demonstration of fennick.replace: ``python -m fennick.demo``."""

import numpy as np

import fennick


def main():
    readings = np.array([[21.5, -999.0, 22.1], [np.nan, 23.0, -999.0]])
    print("readings with -999 marking a missing value, and one NaN:")
    print(readings)

    fennick.replace(readings, -999.0, np.nan)
    print("\nafter fennick.replace(readings, -999.0, np.nan):")
    print(readings)

    fennick.replace(readings, np.nan, 0.0)
    print("\nafter fennick.replace(readings, np.nan, 0.0):")
    print(readings)

    counts = np.arange(12, dtype=np.int32).reshape(3, 4)[:, ::-2]
    fennick.replace(counts, 3, -1)
    print("\na reversed, strided int32 view after replacing 3 with -1:")
    print(counts)


if __name__ == "__main__":
    main()

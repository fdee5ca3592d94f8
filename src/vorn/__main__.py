"""__main__.py: `python -m vorn` and the `vorn` console script."""

import sys

from vorn.cli import main

if __name__ == "__main__":
    sys.exit(main())

import sys, pathlib; sys.path.insert(0, str(pathlib.Path(__file__).parent))
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


@pytest.fixture
def sample_pdf():
    return ROOT / "samples" / "sample-arabic.pdf"

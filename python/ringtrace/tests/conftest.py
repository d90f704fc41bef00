"""Shared fixtures: the build's programs, generated ring folders and the program's own
results on them."""

import json
import os
import shutil
import subprocess

import pytest

BUILD = os.environ.get("RT_BUILD_DIR") or os.path.join(os.path.dirname(__file__), "..", "..", "..", "build")
BIN = os.path.join(BUILD, "bin")


def program(name):
    path = os.path.join(BIN, name)
    if not os.access(path, os.X_OK):
        pytest.skip(f"{path} is not built")
    return path


def make_ring(folder, *args):
    """A generated pair (make_ring's arguments, e.g. --width 720 --drift 5) in `folder`."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run([program("make_ring"), "--out", str(folder), *map(str, args)], check=True,
                   stdout=subprocess.DEVNULL)
    return folder


class ProgramRun:
    """The program's run in a folder: exit status, summary, CSV rows and new.tif's bytes."""

    def __init__(self, folder):
        done = subprocess.run([program("ringtrace"), "--summary", "summary.json", "--csv", "contour.csv"],
                              cwd=folder, capture_output=True, text=True)
        self.status = done.returncode
        self.stdout = done.stdout
        with open(os.path.join(folder, "summary.json")) as f:
            self.summary = json.load(f)
        with open(os.path.join(folder, "contour.csv")) as f:
            self.csv = [tuple(map(int, line.split(","))) for line in f.read().splitlines()[1:]]
        with open(os.path.join(folder, "new.tif"), "rb") as f:
            self.new_tif = f.read()


def run_program(folder):
    return ProgramRun(folder)


@pytest.fixture
def fresh_copy(tmp_path):
    """Copies a folder's inputs (only them) into a new scratch folder."""
    count = [0]

    def copy(folder):
        count[0] += 1
        dest = tmp_path / f"copy{count[0]}"
        dest.mkdir()
        for name in ("outx.tif", "outx1.tif"):
            if os.path.exists(os.path.join(folder, name)):
                shutil.copy(os.path.join(folder, name), dest / name)
        return dest

    return copy

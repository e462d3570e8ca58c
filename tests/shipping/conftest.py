"""What test_program_file.py reads: the programs a build made and the files
the build wrote beside them. CMake passes them (see CMakeLists.txt)."""
from pathlib import Path

import pytest


def pytest_addoption(parser):
    group = parser.getgroup("program file")
    group.addoption("--program", type=Path, help="the menu's autorun.exe")
    group.addoption("--link-map", type=Path, help="the link map the build wrote for it")
    group.addoption("--shipping", action="store_true", help="it is the i686 file that goes on the disc")
    group.addoption("--link-time", type=int, help="its link time stamp, when the build was not given the pinned date")
    group.addoption("--cc", help="the MinGW C compiler, which preprocesses the resource scripts as windres does")
    group.addoption("--kit-program", type=Path, action="append", default=[], help="a program of the test kit")
    group.addoption("--constructor-fixture", type=Path, help="a program with a global constructor")
    group.addoption("--constructor-fixture-map", type=Path, help="its link map")


@pytest.fixture(scope="session")
def option(request):
    def value(name, needed=True):
        found = request.config.getoption(name)
        if found is None and needed:
            pytest.fail(f"--{name.replace('_', '-')} is needed (CMake passes it: ctest -R program_file)")
        return found
    return value

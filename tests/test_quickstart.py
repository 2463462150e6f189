"""The reference host in examples/ runs the store and search paths end to
end; its answers are checked here."""
import re
import subprocess
import sys
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parent.parent / "examples" / "quickstart.py"


@pytest.fixture(scope="module")
def output(tmp_path_factory):
    db = tmp_path_factory.mktemp("indexer") / "facts.sqlite"
    done = subprocess.run([sys.executable, str(SCRIPT), "--db", str(db)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


def answers(output):
    """question -> (route, [answer texts])"""
    found, current = {}, None
    for line in output.splitlines():
        m = re.match(r"Q: (.*?)  \[(.*)\]$", line)
        if m:
            current = m.group(1)
            found[current] = (m.group(2), [])
        elif current and line.startswith("   ") and not line.startswith("    "):
            found[current][1].append(line.split("  ", 2)[-1])
        elif not line.strip():
            current = None
    return found


def test_store_path(output):
    assert "signing account: 0x9858effd232b4033e47d90003d41ec34ecaeda94" in output
    assert "recovered signer: 0x9858effd232b4033e47d90003d41ec34ecaeda94 matches the account: yes" in output
    assert "indexed and active: True" in output
    assert re.search(r"deleted with a tombstone: [0-9a-f-]{36} still active: False", output)
    assert len(re.findall(r"^fact [0-9a-f]{8}-[0-9a-f]{4}-7", output, re.M)) == 6


@pytest.mark.parametrize(
    "question,route,top",
    [
        ("What coffee does the user drink?", "blind search", "dark roast coffee"),
        ("Where does the user live?", "blind search", "lives in Lisbon"),
        ("Any food allergies?", "blind search + 1 reformulation(s)", "allergic to peanuts"),
        ("Tell me something I should remember", "broadened fallback", None),
    ],
)
def test_search_answers(output, question, route, top):
    got_route, texts = answers(output)[question]
    assert got_route == route
    assert texts, "no memories recalled"
    if top:
        assert top in texts[0]
    assert not any("Porto" in t for t in texts)  # the deleted fact never comes back


def test_recall_block(output):
    block = output.split("== recall block for the agent's prompt", 1)[1].splitlines()[1:]
    assert block[0] == "## Relevant memories from Kelvane"
    assert re.fullmatch(r"The current date is \d{4}-\d\d-\d\d\. Each memory is tagged .*precisely\.", block[1])
    assert re.fullmatch(r"- \[user\] \(\d{4}-\d\d-\d\d\) The user prefers dark roast coffee.*", block[2])

"""Where the program started the demo installer, read from the proof that the
installer leaves beside itself (tools/demo-installer): in a launch folder made for
that launch in the prefix's Windows temp folder."""
import glob
import os

import winetest

LAUNCH_FOLDER_PREFIX = "OrivantaLaunch-"
PROOF_SUFFIX = ".launched.txt"


def _temp():
    return os.path.join(winetest.prefix(), "drive_c", "windows", "temp")


def launch_folders():
    """The launch folders that exist now; give them to proofs() to see only later launches."""
    return set(glob.glob(os.path.join(_temp(), LAUNCH_FOLDER_PREFIX + "*")))


def proofs(before=frozenset()):
    """The complete proofs in launch folders that are not in `before`, each a dict of the
    proof's fields, with "otherFiles" as a list and "installer" the Unix path of the copy
    that ran, and "expectedFolder" the Windows path of its folder."""
    found = []
    for folder in sorted(launch_folders() - set(before)):
        for name in os.listdir(folder):
            if not name.endswith(PROOF_SUFFIX):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as stream:
                fields = dict(line.split("=", 1) for line in stream.read().splitlines() if "=" in line)
            if "otherFiles" not in fields:
                continue  # still being written
            fields["otherFiles"] = [entry for entry in fields["otherFiles"].split("|") if entry]
            fields["installer"] = os.path.join(folder, name[:-len(PROOF_SUFFIX)])
            fields["expectedFolder"] = "C:\\windows\\temp\\" + os.path.basename(folder)
            found.append(fields)
    return found


def assert_started_alone(test, proof):
    """The installer ran from its launch folder, as its current folder, beside nothing."""
    test.assertEqual(proof["currentFolder"].lower(), proof["expectedFolder"].lower())
    test.assertEqual(proof["otherFiles"], [], "files beside the started installer")

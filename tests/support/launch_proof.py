"""Where the program started the demo installer, from the proof it leaves beside
itself (tools/demo-installer): in a launch folder in the prefix's Windows temp folder,
or, under a data root, in the root's launch folder."""
import glob
import os
import tempfile

import winetest


def launch_folders():
    """The launch folders that exist now; give them to proofs() to see only later launches."""
    patterns = (os.path.join(winetest.prefix(), "drive_c", "windows", "temp", "OrivantaLaunch-*"),
                # The tests make their data roots in the temporary folder.
                os.path.join(tempfile.gettempdir(), "*", "launch", "OrivantaLaunch-*"))
    return {folder for pattern in patterns for folder in glob.glob(pattern) if os.path.isdir(folder)}


def proofs(before=frozenset()):
    """The complete proofs in launch folders not in `before`: their fields, with
    "otherFiles" as a list and "installer" the Unix path of the copy that ran."""
    found = []
    for folder in sorted(launch_folders() - set(before)):
        for proof in glob.glob(os.path.join(folder, "*.launched.txt")):
            with open(proof, encoding="utf-8") as stream:
                fields = dict(line.split("=", 1) for line in stream.read().splitlines() if "=" in line)
            if "otherFiles" in fields:  # otherwise still being written
                fields["otherFiles"] = [name for name in fields["otherFiles"].split("|") if name]
                fields["installer"] = proof[:-len(".launched.txt")]
                found.append(fields)
    return found


def assert_started_alone(test, proof):
    """The installer ran from its launch folder, as its current folder, beside nothing."""
    folder = os.path.dirname(proof["installer"])
    drive_c = os.path.join(winetest.prefix(), "drive_c")
    if folder.startswith(drive_c + os.sep):
        folder = "C:\\" + os.path.relpath(folder, drive_c).replace(os.sep, "\\")
    else:
        folder = winetest.windows_path(folder)
    test.assertEqual(proof["currentFolder"].lower(), folder.lower())
    test.assertEqual(proof["otherFiles"], [], "files beside the started installer")

"""The program's images: formats and sizes as the resource script embeds them, a
support QR code that scans at every size the window shows it, and a generator
script that reproduces the committed images."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winetest  # noqa: E402

RESOURCES = os.path.join(winetest.SOURCE_DIR, "resources")
HOTLINE = "tel:400-100-200"
TOOLS = ("identify", "compare", "zbarimg", "qrencode", "icotool")


def convert_program():
    return "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"


def output(command):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=120, check=True).stdout


def describe(path):
    return output(["identify", "-format", "%m %wx%h %[channels] %z\n", path]).splitlines()[0]


def scan(path):
    return subprocess.run(["zbarimg", "-q", "--raw", path], stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=60, check=False).stdout.strip()


class Resources(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="orivanta-resources-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_logo_is_rgba_png_of_361_by_92_with_the_mark_in_the_top_64_rows(self):
        logo = os.path.join(RESOURCES, "logo.png")
        self.assertEqual(describe(logo), "PNG 361x92 srgba 8")
        # The window shows only the top 64 rows; everything visible must be there.
        box = output([convert_program(), logo, "-alpha", "extract", "-trim", "-format", "%@", "info:"])
        width, height, _, top = map(int, re.fullmatch(r"(\d+)x(\d+)\+(\d+)\+(\d+)", box.strip()).groups())
        self.assertLessEqual(top + height, 64, box)
        self.assertGreater(width, 250, "a wordmark, not a dot")

    def test_qr_bitmap_is_uncompressed_24_bit_and_scans_at_every_drawn_size(self):
        qr = os.path.join(RESOURCES, "support-qr.bmp")
        self.assertEqual(describe(qr), "BMP3 136x136 srgb 8")
        with open(qr, "rb") as stream:
            header = stream.read(54)
        self.assertEqual(os.path.getsize(qr), 14 + 40 + 136 * 136 * 3)
        self.assertEqual(int.from_bytes(header[28:30], "little"), 24)
        self.assertEqual(int.from_bytes(header[30:34], "little"), 0, "BI_RGB")
        self.assertEqual(scan(qr), HOTLINE)
        # 86 px: the GDI layout's StretchBlt; 158 px: the Direct2D help card.
        for size in (86, 158):
            scaled = os.path.join(self.work, "qr-%d.png" % size)
            output([convert_program(), qr, "-filter", "point", "-resize", "%dx%d" % (size, size), scaled])
            self.assertEqual(scan(scaled), HOTLINE, size)

    def test_icon_holds_seven_png_compressed_32_bit_images(self):
        listing = output(["icotool", "-l", os.path.join(RESOURCES, "OrivantaInstaller.ico")])
        sizes = [int(part.split("=")[1]) for part in listing.split() if part.startswith("--width=")]
        self.assertEqual(sizes, [16, 24, 32, 48, 64, 128, 256])
        self.assertEqual(listing.count("--bit-depth=32"), 7)
        with open(os.path.join(RESOURCES, "OrivantaInstaller.ico"), "rb") as stream:
            data = stream.read()
        for index in range(7):
            entry = data[6 + 16 * index:6 + 16 * (index + 1)]
            offset = int.from_bytes(entry[12:16], "little")
            self.assertEqual(data[offset:offset + 8], b"\x89PNG\r\n\x1a\n", sizes[index])

    def test_generator_reproduces_the_committed_images(self):
        script = os.path.join(winetest.SOURCE_DIR, "tools", "make-resources.sh")
        subprocess.run(["bash", script, self.work], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, timeout=300, check=True)
        for name in ("logo.png", "support-qr.bmp"):
            difference = subprocess.run(
                ["compare", "-metric", "AE", os.path.join(RESOURCES, name), os.path.join(self.work, name),
                 "null:"], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120, check=False)
            self.assertEqual(difference.stderr.strip(), "0", name)
        for index, size in enumerate((16, 24, 32, 48, 64, 128, 256), start=1):
            committed = os.path.join(self.work, "committed-%d.png" % size)
            regenerated = os.path.join(self.work, "regenerated-%d.png" % size)
            output(["icotool", "-x", "-i", str(index), "-o", committed,
                    os.path.join(RESOURCES, "OrivantaInstaller.ico")])
            output(["icotool", "-x", "-i", str(index), "-o", regenerated,
                    os.path.join(self.work, "OrivantaInstaller.ico")])
            difference = subprocess.run(["compare", "-metric", "AE", committed, regenerated, "null:"],
                                        stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60,
                                        check=False)
            self.assertEqual(difference.stderr.strip(), "0", size)


if __name__ == "__main__":
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("skipped: missing", " ".join(missing))
        sys.exit(77)
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(0 if result.wasSuccessful() else 1)

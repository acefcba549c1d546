"""Builds a demo installer package: a tiny real Windows program padded to a chosen size.

    python3 tools/devcenter/make_demo_package.py --size BYTES --out PATH [--label TEXT] [--signature KIND]

The program (tools/demo-installer/DemoInstaller.cpp) writes "<its path>.launched.txt"
with the UTC time and its process id when started, and exits 0. Padding bytes are
appended after its image and derive from the label, so two labels give two
packages of the same size with different SHA-256.

The package is then signed with the development publisher (dev-signing/, test
fixtures only) by osslsigncode, which puts the signature at the end of the file as
Wine requires; the padding is chosen so that the signed file has the size asked
for (exactly when it is a multiple of 8). Other KINDs make the faults the program
must refuse: unsigned, tampered (signed, then one byte changed), second-publisher
(another key under the same root), foreign-root (a publisher under another root),
padded (signed, then bytes appended inside the certificate table, which the
signature does not cover).
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

if __name__ == "__main__" and not __package__:
    # Run as a script: load this folder as the package "devcenter", not as loose modules.
    _here = os.path.dirname(os.path.abspath(__file__))
    sys.path[:] = [os.path.dirname(_here)] + [p for p in sys.path if os.path.abspath(p or os.curdir) != _here]
    from devcenter.make_demo_package import main as _main
    sys.exit(_main())

from .catalog import write_generated_file  # noqa: E402

TOOLS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCE = os.path.join(TOOLS_DIR, "demo-installer", "DemoInstaller.cpp")
COMPILER = os.environ.get("ORIVANTA_DEMO_CXX", "x86_64-w64-mingw32-g++-posix")
FLAGS = ["-std=c++17", "-Os", "-s", "-static", "-mwindows", "-municode"]
SIGNING_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "dev-signing")
# A fixed signing time inside the fixtures' validity makes a signed package the same bytes on every build.
SIGNING_TIME = "1796749200"
# Signature kind: (publisher certificate and key, its root), or None for no signature.
SIGNATURES = {
    "publisher": ("publisher", "root"),
    "unsigned": None,
    "tampered": ("publisher", "root"),
    "second-publisher": ("second-publisher", "root"),
    "foreign-root": ("foreign-publisher", "foreign-root"),
    "padded": ("publisher", "root"),
}
# What the padded kind hides in the certificate table: a multiple of 8 bytes, so that
# the table stays aligned and a check that only counts entries finds one.
HIDDEN_BYTES = (b"bytes that no signature covers " * 3)[:64]


class DemoBuildError(RuntimeError):
    pass


def _program_key():
    digest = hashlib.sha256()
    with open(SOURCE, "rb") as stream:
        digest.update(stream.read())
    digest.update(("\0".join([COMPILER] + FLAGS)).encode("utf-8"))
    return digest.hexdigest()[:16]


def _temporary_name(path):
    return "%s.%d.tmp" % (path, os.getpid())


def compile_program(cache_dir):
    """Path of the compiled demo program, built once per source and flags."""
    os.makedirs(cache_dir, exist_ok=True)
    program = os.path.join(cache_dir, "DemoInstaller-%s.exe" % _program_key())
    if os.path.isfile(program):
        return program
    if shutil.which(COMPILER) is None:
        raise DemoBuildError("%s is not installed; give the center a --package instead" % COMPILER)
    temporary = _temporary_name(program)
    result = subprocess.run([COMPILER, *FLAGS, "-o", temporary, SOURCE], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    if result.returncode != 0:
        raise DemoBuildError("demo installer build failed:\n" + result.stdout.decode("utf-8", errors="replace"))
    os.replace(temporary, program)
    return program


def write_demo_package(program, size, out, label):
    image_size = os.path.getsize(program)
    if size < image_size:
        raise DemoBuildError("size %d is smaller than the demo program itself (%d bytes)" % (size, image_size))
    directory = os.path.dirname(os.path.abspath(out))
    os.makedirs(directory, exist_ok=True)
    padding = _temporary_name(out) + ".padding"
    if size > image_size:
        write_generated_file(padding, size - image_size, "demo-padding-" + label)
    temporary = _temporary_name(out)
    try:
        with open(temporary, "wb") as target:
            with open(program, "rb") as source:
                shutil.copyfileobj(source, target)
            if size > image_size:
                with open(padding, "rb") as source:
                    shutil.copyfileobj(source, target)
        os.replace(temporary, out)
    finally:
        for leftover in (padding, temporary):
            if os.path.exists(leftover):
                os.remove(leftover)
    return out


def _hide_in_certificate_table(path, hidden):
    """Appends bytes to the signature's entry, which ends the file, and to the table's size."""
    with open(path, "r+b") as stream:
        headers = stream.read(4096)
        pe = struct.unpack_from("<I", headers, 0x3C)[0]
        optional = pe + 24
        directories = optional + (96 if struct.unpack_from("<H", headers, optional)[0] == 0x10B else 112)
        offset, size = struct.unpack_from("<II", headers, directories + 4 * 8)
        stream.seek(offset)
        length = struct.unpack("<I", stream.read(4))[0]
        stream.seek(offset)
        stream.write(struct.pack("<I", length + len(hidden)))
        stream.seek(directories + 4 * 8 + 4)
        stream.write(struct.pack("<I", size + len(hidden)))
        stream.seek(0, os.SEEK_END)
        stream.write(hidden)


def sign_package(path, signature):
    """Signs the file in place as the signature kind asks (see SIGNATURES)."""
    publisher, root = SIGNATURES[signature]
    if shutil.which("osslsigncode") is None:
        raise DemoBuildError("osslsigncode is not installed (tools/setup-debian.sh installs it)")
    chain = _temporary_name(path) + ".chain.pem"
    signed = _temporary_name(path) + ".signed"
    try:
        with open(chain, "wb") as target:
            for name in (publisher, root):
                with open(os.path.join(SIGNING_DIR, name + ".crt"), "rb") as source:
                    target.write(source.read())
        result = subprocess.run(["osslsigncode", "sign", "-certs", chain,
                                 "-key", os.path.join(SIGNING_DIR, publisher + ".key"), "-h", "sha256",
                                 "-n", "Orivanta development installer", "-time", SIGNING_TIME, "-in", path, "-out", signed],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                check=False)
        if result.returncode != 0:
            raise DemoBuildError("signing failed:\n" + result.stdout.decode("utf-8", errors="replace"))
        if signature == "tampered":
            # A byte the signature covers, changed after signing.
            with open(signed, "r+b") as stream:
                stream.seek(os.path.getsize(path) - 1)
                byte = stream.read(1)
                stream.seek(-1, os.SEEK_CUR)
                stream.write(bytes([byte[0] ^ 0xFF]))
        if signature == "padded":
            _hide_in_certificate_table(signed, HIDDEN_BYTES)
        os.replace(signed, path)
    finally:
        for leftover in (chain, signed):
            if os.path.exists(leftover):
                os.remove(leftover)


def write_signed_package(program, size, out, label, signature):
    write_demo_package(program, size, out, label)
    if SIGNATURES[signature] is None:
        return out
    sign_package(out, signature)
    # The signature follows the padding: pad less by what signing added.
    overhead = os.path.getsize(out) - size
    if 0 < overhead <= size - os.path.getsize(program):
        write_demo_package(program, size - overhead, out, label)
        sign_package(out, signature)
    return out


def build_demo_package(size, out=None, label="demo", cache_dir=None, signature="publisher"):
    """Builds (or finds in cache_dir) the demo package of about size bytes, signed as
    the kind asks; returns its path."""
    if signature not in SIGNATURES:
        raise DemoBuildError("unknown signature kind %r (use %s)" % (signature, ", ".join(SIGNATURES)))
    cache_dir = cache_dir or os.path.join(tempfile.gettempdir(), "orivanta-devcenter-cache")
    program = compile_program(cache_dir)
    if out is None:
        safe_label = "".join(c if c.isalnum() or c in "-_" else "_" for c in label)
        out = os.path.join(cache_dir, "demo-%s-%s-%s-%d.exe" % (_program_key(), safe_label, signature, size))
        if os.path.isfile(out):
            return out
    return write_signed_package(program, size, out, label, signature)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Build a padded demo installer package.")
    parser.add_argument("--size", type=int, required=True, help="package size in bytes")
    parser.add_argument("--out", required=True, help="where to write the package")
    parser.add_argument("--label", default="demo", help="varies the padding (and so the SHA-256)")
    parser.add_argument("--cache-dir", help="where the compiled program is kept between builds")
    parser.add_argument("--signature", choices=sorted(SIGNATURES), default="publisher",
                        help="how the package is signed (default: the development publisher)")
    arguments = parser.parse_args(argv)
    try:
        path = build_demo_package(arguments.size, arguments.out, arguments.label, arguments.cache_dir,
                                  arguments.signature)
    except DemoBuildError as error:
        print("make_demo_package: %s" % error, file=sys.stderr)
        return 1
    print(path, flush=True)
    return 0



if __name__ == "__main__":
    sys.exit(main())

"""Helpers shared by the Python-driven tests: the Wine prefix, paths and program runs."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

SOURCE_DIR = os.environ.get("ORIVANTA_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("ORIVANTA_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))


def prefix():
    return os.environ.get("WINEPREFIX") or os.path.join(BUILD_DIR, "wine-prefix")


def wine_env(extra=None):
    env = dict(os.environ)
    env["WINEPREFIX"] = prefix()
    env["WINEDEBUG"] = "-all"
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    if extra:
        env.update(extra)
    return env


def program_path():
    return os.environ.get("ORIVANTA_EXE") or os.path.join(BUILD_DIR, "OrivantaInstaller.exe")


def programs():
    """The program of each architecture, by the exit report's name for it (tests/CMakeLists.txt
    gives the 32-bit build's place)."""
    return {"x64": os.path.join(BUILD_DIR, "OrivantaInstaller.exe"),
            "x86": os.environ.get("ORIVANTA_I686_EXE") or os.path.join(SOURCE_DIR, "build-i686", "OrivantaInstaller.exe")}


def other_program():
    """The program of the other architecture when it is built, else the one under test."""
    other = programs()["x86" if architecture() == "x64" else "x64"]
    return other if os.path.exists(other) else program_path()


def program_build_dir():
    """The build of the program under test, whose tests/ folder holds the drivers
    and planted DLLs of its architecture."""
    return os.path.dirname(program_path())


# PE machine types, the loader that runs each and the report's name for it.
MACHINES = {0x8664: ("/usr/lib/wine/wine64", "x64"), 0x014C: ("/usr/lib/wine/wine", "x86")}
X64 = 0x8664


def machine_of(exe):
    """The PE header's machine type of a Windows program."""
    with open(exe, "rb") as stream:
        header = stream.read(4096)
    pe = struct.unpack_from("<I", header, 0x3C)[0]
    if header[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file: " + exe)
    return struct.unpack_from("<H", header, pe + 4)[0]


def architecture(exe=None):
    """"x64" or "x86": what the program's exit report must name."""
    return MACHINES[machine_of(exe or program_path())][1]


def registry_view(exe=None):
    """The reg.exe switch for the registry view a program sees (HKLM\Software is
    split in two for a 32-bit program, except keys Windows shares)."""
    return "/reg:64" if machine_of(exe or program_path()) == X64 else "/reg:32"


def wine_command(program, *args):
    """The command that runs a Windows program, or one of Wine's own tools named
    bare ("reg", "cmd", "wineboot"), under the loader of its own architecture.

    With the 32-bit loader installed, plain `wine` is that loader, and it starts a
    64-bit program as a child of a 32-bit process: the process started would not
    be the program (its pid, its end, its memory). Wine's tools run 64-bit, as
    System32's do, so that what they write is what a 64-bit program reads."""
    machine = machine_of(program) if os.path.isfile(program) else X64
    loader = MACHINES.get(machine, MACHINES[X64])[0]
    return [loader if os.path.exists(loader) else "wine", program, *args]


def clone_prefix(target, template=None):
    """A copy of the test prefix (template) at target, cheap to make: files are
    hard links, except the registry files, which Wine rewrites and which are real
    copies. False when the template does not exist yet."""
    template = template or prefix()
    if not os.path.exists(os.path.join(template, "system.reg")):
        return False
    subprocess.run(["cp", "-al", template, target], check=True)
    for name in os.listdir(target):
        if name.endswith(".reg"):
            path = os.path.join(target, name)
            os.unlink(path)
            shutil.copy2(os.path.join(template, name), path)
    return True


def windows_path(unix_path):
    """The prefix maps the Unix root to Z:."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def run_quiet(command, env, timeout):
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, check=False)


def run_program(exe, args=(), timeout=120, capture=True, env_extra=None, cwd=None):
    """Runs a Windows program to its end and returns the CompletedProcess."""
    command = wine_command(exe, *args)
    output = subprocess.PIPE if capture else None
    return subprocess.run(command, env=wine_env(env_extra), stdin=subprocess.DEVNULL,
                          stdout=output, stderr=output, timeout=timeout, cwd=cwd, check=False)


INTERNET_CONNECTIONS_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections"


def connection_settings(proxy="", bypass="", script="", detect=False):
    """The binary value DefaultConnectionSettings: direct, through a named proxy,
    with an auto-configuration script and/or with auto-detection.

    Layout: version, change counter, flags (1 direct, 2 named proxy, 4 script,
    8 auto-detect), then the proxy, its bypass list and the script's URL, each
    as a 32-bit length and that many ASCII bytes."""
    flags = 1 | (2 if proxy else 0) | (4 if script else 0) | (8 if detect else 0)
    value = struct.pack("<III", 0x46, 0, flags)
    for text in (proxy, bypass, script):
        value += struct.pack("<I", len(text)) + text.encode("ascii")
    return value + bytes(32)


def set_user_proxy(env, proxy="", bypass="", script=""):
    """Writes the Internet proxy settings of the prefix's user and reads them back.
    Auto-detection is always off: in a prefix without settings Wine reports it on,
    and the program would look for a proxy on the real network. A write that did
    not take would leave the previous test's settings in force, so it is repeated,
    and a lasting failure raises."""
    wanted = connection_settings(proxy, bypass, script).hex()
    for _ in range(3):
        run_quiet(wine_command("reg", "add", INTERNET_CONNECTIONS_KEY, "/v", "DefaultConnectionSettings",
                   "/t", "REG_BINARY", "/d", wanted, "/f"), env, timeout=120)
        query = subprocess.run(wine_command("reg", "query", INTERNET_CONNECTIONS_KEY, "/v", "DefaultConnectionSettings"),
                               env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=False)
        fields = query.stdout.decode("ascii", errors="replace").split()
        if "REG_BINARY" in fields and fields[fields.index("REG_BINARY") + 1:][:1] == [wanted.upper()]:
            return
    raise RuntimeError("the user's proxy settings could not be written to the prefix")


def start_program(exe, args=(), env_extra=None, cwd=None, launcher=()):
    """Starts a Windows program (through launcher, e.g. ("unshare", "-n")) and returns
    the Popen; its output is discarded."""
    return subprocess.Popen([*launcher, *wine_command(exe, *args)], env=wine_env(env_extra), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)


def empty_network_namespace():
    """The launcher of a program whose own process sees no network at all, or None
    when this machine cannot make one. Its name lookups fail at once, without a
    packet leaving; its connections still work, because Wine's sockets belong to
    the prefix's server, which runs outside."""
    try:
        ready = subprocess.run(["unshare", "-n", "true"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30, check=False).returncode == 0
    except OSError:
        ready = False
    return ("unshare", "-n") if ready else None


def windows_user_folder(name):
    """Unix path of a folder of the prefix's user profile, e.g. 'AppData/Local'."""
    users = os.path.join(prefix(), "drive_c", "users")
    user = os.environ.get("USER") or "root"
    candidate = os.path.join(users, user, *name.split("/"))
    if os.path.isdir(os.path.dirname(candidate)):
        return candidate
    for entry in sorted(os.listdir(users)):
        if entry != "Public":
            return os.path.join(users, entry, *name.split("/"))
    return candidate


def temp_dir(tag):
    return tempfile.mkdtemp(prefix="orivanta-" + tag + "-")


# The families the program asks for, made from a free CJK font so that screenshots
# under Wine show readable Chinese: (file in C:\windows\Fonts, family, zh-CN family).
CJK_SOURCE_FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
CJK_FONTS = (
    ("msyhui-wqy.ttf", "Microsoft YaHei UI", None),
    ("msyh-wqy.ttf", "Microsoft YaHei", "微软雅黑"),
)
FONTS_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts"


def _python_with_fonttools():
    """The interpreter running this file may lack the distribution's fontTools."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.path.exists(candidate) and subprocess.run(
                [candidate, "-c", "import fontTools.ttLib"], stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False).returncode == 0:
            return candidate
    return None


def _fonts_registered(prefix_path):
    try:
        with open(os.path.join(prefix_path, "system.reg"), encoding="utf-8", errors="replace") as stream:
            registry = stream.read()
    except OSError:
        return False
    return all('"%s (TrueType)"="%s"' % (family, file_name) in registry for file_name, family, _ in CJK_FONTS)


def install_fonts(prefix_path=None):
    """Copies the CJK font into the prefix under the program's family names and
    registers it. Returns False (and changes nothing) when the source font or
    fontTools is missing. Fast when already done."""
    prefix_path = prefix_path or prefix()
    fonts_dir = os.path.join(prefix_path, "drive_c", "windows", "Fonts")
    wanted = [os.path.join(fonts_dir, file_name) for file_name, _, _ in CJK_FONTS]
    if all(os.path.exists(path) for path in wanted) and _fonts_registered(prefix_path):
        return True
    if not os.path.exists(CJK_SOURCE_FONT):
        return False
    python = _python_with_fonttools()
    if python is None:
        return False
    os.makedirs(fonts_dir, exist_ok=True)
    renamer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fontnames.py")
    for (file_name, family, localized), path in zip(CJK_FONTS, wanted):
        if not os.path.exists(path):
            partial = path + ".partial"
            subprocess.run([python, renamer, CJK_SOURCE_FONT, "0", partial, family, *([localized] if localized else [])],
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=120, check=True)
            os.replace(partial, path)
    env = dict(wine_env(), WINEPREFIX=prefix_path)
    for file_name, family, _ in CJK_FONTS:
        run_quiet(wine_command("reg", "add", FONTS_KEY, "/v", family + " (TrueType)", "/t", "REG_SZ",
                  "/d", file_name, "/f"), env, timeout=120)
    return True

"""Helpers shared by the Python-driven tests: the Wine prefix, paths and program runs."""
import os
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


def windows_path(unix_path):
    """The prefix maps the Unix root to Z:."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def run_quiet(command, env, timeout):
    return subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=timeout, check=False)


def run_program(exe, args=(), timeout=120, capture=True, env_extra=None, cwd=None):
    """Runs a Windows program to its end and returns the CompletedProcess."""
    command = ["wine", exe, *args]
    output = subprocess.PIPE if capture else None
    return subprocess.run(command, env=wine_env(env_extra), stdin=subprocess.DEVNULL,
                          stdout=output, stderr=output, timeout=timeout, cwd=cwd, check=False)


def start_program(exe, args=(), env_extra=None, cwd=None):
    """Starts a Windows program and returns the Popen; its output is discarded."""
    return subprocess.Popen(["wine", exe, *args], env=wine_env(env_extra), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=cwd)


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
        run_quiet(["wine", "reg", "add", FONTS_KEY, "/v", family + " (TrueType)", "/t", "REG_SZ",
                   "/d", file_name, "/f"], env, timeout=120)
    return True

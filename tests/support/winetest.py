"""Helpers shared by the Python-driven tests: the Wine prefix, paths and program runs."""
import os
import subprocess
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

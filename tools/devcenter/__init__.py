"""Development center: a local stand-in for the vendor's center and its download node."""
from .catalog import CLIENT, SERVER, Package, generated_package
from .client import ControlClient
from .server import DevCenter

__all__ = ["CLIENT", "SERVER", "ControlClient", "DevCenter", "Package", "generated_package"]

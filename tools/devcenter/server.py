"""The development center: the center's API, its download node and a control API on one loopback port."""
import json
import os
import select
import socket
import socketserver
import sys
import tempfile
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import api, control, node
from . import faults as fault_settings
from .proxy import ForwardProxy
from .catalog import PACKAGE_TYPES, Package, generated_package, package_type_of
from .client import ControlClient
from .signing import UrlSigner
from .state import OPERATIONS, CenterState

CONTROL_PREFIX = "/__control"
DEFAULT_BASE_PATH = "/support-center"
MAX_REQUEST_BYTES = 16 << 20
_OPERATION_SUFFIXES = {"/api/installer-downloads/" + operation: operation for operation in OPERATIONS}
JSON_TYPE = "application/json; charset=utf-8"


def operation_of(path):
    """The operation a request path names under any base path, or None."""
    for suffix, operation in _OPERATION_SUFFIXES.items():
        if path.endswith(suffix):
            return operation
    return None


def default_cache_dir():
    return os.path.join(tempfile.gettempdir(), "orivanta-devcenter-cache")


class Exchange:
    """One request's answer channel; counts what it sends and notices dropped connections."""

    def __init__(self, handler, stopping):
        self._handler = handler
        self._stopping = stopping
        self._started = time.monotonic()
        self.path = handler.path
        self.headers = handler.headers

    def start_body(self, status, length, content_type, headers=None):
        transfer = node.Transfer(status)
        handler = self._handler
        try:
            handler.send_response(status)
            handler.send_header("Content-Type", content_type)
            handler.send_header("Content-Length", str(length))
            for name, value in (headers or {}).items():
                handler.send_header(name, value)
            handler.end_headers()
        except OSError:
            transfer.aborted = True
            handler.close_connection = True
        self._started = time.monotonic()
        return transfer

    def write(self, transfer, data):
        if transfer.aborted:
            return False
        try:
            self._handler.wfile.write(data)
        except OSError:
            transfer.aborted = True
            self._handler.close_connection = True
            return False
        transfer.bytes_sent += len(data)
        return True

    def send_file(self, transfer, stream, offset, count):
        """Sends count bytes of the open file from offset without copying them through
        Python; False when the client went away or the file ended early."""
        if transfer.aborted:
            return False
        try:
            sent = self._handler.connection.sendfile(stream, offset, count)
        except OSError:
            sent = 0
            transfer.aborted = True
            self._handler.close_connection = True
        transfer.bytes_sent += sent
        return sent == count

    def pace(self, seconds_since_start):
        """Waits until that long after the body began; False when the center is stopping."""
        delay = self._started + seconds_since_start - time.monotonic()
        if delay > 0:
            return not self._stopping.wait(delay)
        return not self._stopping.is_set()

    def fall_silent(self, longest=120):
        """Sends nothing more until the client gives up and closes the connection,
        the center stops or longest seconds pass."""
        connection = self._handler.connection
        deadline = time.monotonic() + longest
        while not self._stopping.is_set() and time.monotonic() < deadline:
            if select.select([connection], [], [], 0.2)[0]:
                try:
                    if not connection.recv(65536):
                        return
                except OSError:
                    return

    def cut(self):
        """Ends the connection abruptly, short of the announced Content-Length."""
        self._handler.close_connection = True
        try:
            self._handler.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def send_whole(self, status, body, content_type, headers=None, cut_after=None):
        transfer = self.start_body(status, len(body), content_type, headers)
        if self._handler.command == "HEAD":
            return transfer
        part = body if cut_after is None else body[:cut_after]
        if part:
            self.write(transfer, part)
        if transfer.bytes_sent < len(body):
            transfer.aborted = True
            self.cut()
        return transfer


def _headers_of(message):
    headers = {}
    for name, value in message.items():
        headers[name] = headers[name] + ", " + value if name in headers else value
    return headers


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrivantaDevCenter/1.0"
    sys_version = ""
    timeout = 60

    def log_message(self, format, *args):  # noqa: A002 - the base class names it so
        if self.server.center.verbose:
            sys.stderr.write("devcenter: %s %s\n" % (self.address_string(), format % args))

    def do_GET(self):
        self._dispatch()

    do_POST = do_HEAD = do_PUT = do_DELETE = do_GET

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            return None
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            return None
        if length < 0 or length > MAX_REQUEST_BYTES:
            return None
        return self.rfile.read(length) if length else b""

    def _dispatch(self):
        center = self.server.center
        exchange = Exchange(self, center.stopping)
        body = self._read_body()
        if body is None:
            self.close_connection = True
            exchange.send_whole(411, b'{"errorCode":"INVALID_REQUEST","message":"request needs a Content-Length"}',
                                JSON_TYPE)
            return
        path = urllib.parse.urlsplit(self.path).path
        if path == CONTROL_PREFIX or path.startswith(CONTROL_PREFIX + "/"):
            query = urllib.parse.urlsplit(self.path).query
            status, answer = control.handle(center, self.command, path[len(CONTROL_PREFIX):], query, body)
            exchange.send_whole(status, control.compact_json(answer).encode("utf-8"), JSON_TYPE)
            return

        operation = operation_of(path)
        kind = "api" if operation else ("node" if path.startswith(api.NODE_PREFIX) else "other")
        entry = center.state.begin_log(kind, operation, self.command, self.path, _headers_of(self.headers),
                                       body.decode("utf-8", errors="replace"))
        if kind == "api":
            transfer = self._answer_operation(center, exchange, operation, body)
        elif kind == "node" and self.command in ("GET", "HEAD"):
            transfer = node.serve(exchange, center.state, center.signer, self.command)
        else:
            status = 404 if kind == "other" else 405
            transfer = exchange.send_whole(status, control.compact_json(
                {"errorCode": "NOT_FOUND" if status == 404 else "METHOD_NOT_ALLOWED",
                 "message": "%s %s is not served here" % (self.command, path)}).encode("utf-8"), JSON_TYPE)
        center.state.finish_log(entry, transfer.status, transfer.bytes_sent, transfer.aborted)

    def _answer_operation(self, center, exchange, operation, body):
        if self.command != "POST":
            return exchange.send_whole(405, b'{"errorCode":"METHOD_NOT_ALLOWED","message":"POST only"}', JSON_TYPE)
        queued = center.state.take_queued(operation)
        if queued is not None:
            if queued["delayMs"] and center.stopping.wait(queued["delayMs"] / 1000.0):
                aborted = node.Transfer(0)
                aborted.aborted = True
                exchange.cut()
                return aborted
            return exchange.send_whole(queued["status"], queued["body"], queued["contentType"],
                                       cut_after=queued["cutAfterBytes"])
        try:
            request = json.loads(body.decode("utf-8"))
        except ValueError:
            status, answer = 400, {"errorCode": "INVALID_REQUEST", "message": "请求正文不是有效的 JSON"}
        else:
            status, answer = api.answer(center.state, operation, request, center)
        return exchange.send_whole(status, control.compact_json(answer).encode("utf-8"), JSON_TYPE)


class _Server(ThreadingHTTPServer):
    daemon_threads = False
    block_on_close = True
    # On Windows SO_REUSEADDR would let a second center share a fixed port.
    allow_reuse_address = os.name != "nt"

    def __init__(self, address, center):
        self.center = center
        self._open = set()
        self._open_lock = threading.Lock()
        super().__init__(address, _Handler)

    def server_bind(self):
        # HTTPServer would resolve the host name here, which can stall on a badly configured resolver.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def process_request(self, request, client_address):
        with self._open_lock:
            self._open.add(request)
        super().process_request(request, client_address)

    def handle_error(self, request, client_address):
        # A client that went away while its connection waited for the next request is no fault of the center.
        if not isinstance(sys.exc_info()[1], ConnectionResetError):
            super().handle_error(request, client_address)

    def shutdown_request(self, request):
        with self._open_lock:
            self._open.discard(request)
        super().shutdown_request(request)

    def drop_open_connections(self):
        with self._open_lock:
            connections = list(self._open)
        for connection in connections:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class DevCenter:
    """A local stand-in for the center and its download node.

    packages: {edition: Package or file path}; editions missing from it get a demo
    installer of demo_size bytes, signed as demo_signature says (see
    make_demo_package.SIGNATURES), or else plain generated bytes of generated_size.
    package_names: {edition: {"package_id", "version_name", "file_name"}} for packages
    the center makes or reads from a path.
    faults: the start-up fault set (see faults.py); POST /__control/reset returns to it.
    proxy: a ForwardProxy (see proxy.py), or "HOST:PORT" on the loopback network for
    one, that runs with the center and is steered through its control API.
    """

    def __init__(self, packages=None, port=0, base_path=DEFAULT_BASE_PATH, faults=None, demo_size=None,
                 generated_size=None, cache_dir=None, package_names=None, verbose=False, proxy=None,
                 demo_signature="publisher"):
        self.cache_dir = cache_dir or default_cache_dir()
        self.verbose = verbose
        self.demo_signature = demo_signature
        self.requested_port = port
        self.base_path = "/" + base_path.strip("/") if base_path.strip("/") else ""
        names = {package_type_of(edition): value for edition, value in (package_names or {}).items()}
        resolved = {}
        for edition, value in (packages or {}).items():
            package_type = package_type_of(edition)
            resolved[package_type] = value if isinstance(value, Package) else \
                Package.from_file(package_type, value, **names.get(package_type, {}))
        for package_type in PACKAGE_TYPES:
            if package_type in resolved:
                continue
            if demo_size:
                resolved[package_type] = self.demo_package(package_type, demo_size, **names.get(package_type, {}))
            elif generated_size:
                resolved[package_type] = generated_package(package_type, self.cache_dir, generated_size,
                                                           **names.get(package_type, {}))
        self.state = CenterState(resolved, fault_settings.merged(fault_settings.defaults(), faults or {}))
        self.signer = UrlSigner()
        self.proxy = ForwardProxy.at(proxy, verbose) if isinstance(proxy, str) else proxy
        self.stopping = threading.Event()
        self._server = None
        self._thread = None
        self.port = None

    def demo_package(self, edition, size, signature=None, **names):
        from .make_demo_package import build_demo_package
        package_type = package_type_of(edition)
        path = build_demo_package(size, label=package_type, cache_dir=self.cache_dir,
                                  signature=signature or self.demo_signature)
        return Package.from_file(package_type, path, **names)

    @property
    def origin(self):
        return "http://127.0.0.1:%d" % self.port

    node_origin = origin

    @property
    def base_url(self):
        return self.origin + self.base_path

    @property
    def control_url(self):
        return self.origin + CONTROL_PREFIX

    @property
    def control(self):
        return ControlClient(self.control_url)

    def start(self):
        if self._server is not None:
            return self
        self.stopping.clear()
        self._server = _Server(("127.0.0.1", self.requested_port), self)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                        name="devcenter-%d" % self.port, daemon=True)
        self._thread.start()
        if self.proxy:
            self.proxy.start()
        return self

    def stop(self):
        if self.proxy:
            self.proxy.stop()
        if self._server is None:
            return
        self.stopping.set()
        self._server.shutdown()
        self._server.drop_open_connections()
        self._server.server_close()
        self._thread.join()
        self._server = None
        self._thread = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc_info):
        self.stop()

"""A forward HTTP proxy on a loopback address that logs every request passing through it.

The program reaches the center and the download node through it when the
user's proxy settings name it. It forwards only to 127.0.0.0/8 (and
"localhost"); any other target is refused without a name lookup. It can
demand a proxy log-on: the next N requests, or every request, are answered
407 with the Negotiate and NTLM schemes offered. Asked for /proxy.pac itself,
it serves an auto-configuration script that names it for every host but
"localhost".
"""
import http.client
import ipaddress
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CHUNK_BYTES = 65536
LOG_LIMIT = 20000
_HOP_BY_HOP = {"connection", "keep-alive", "proxy-authenticate", "proxy-authorization", "proxy-connection", "te",
               "trailer", "transfer-encoding", "upgrade"}


def loopback_target(host):
    """The address to forward to, or None when host is not on the loopback network."""
    if host.lower() == "localhost":
        return "127.0.0.1"
    try:
        address = ipaddress.ip_address(host.strip("[]"))
    except ValueError:
        return None
    return str(address) if address.is_loopback else None


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "OrivantaDevProxy/1.0"
    sys_version = ""
    timeout = 60

    def log_message(self, format, *args):  # noqa: A002 - the base class names it so
        pass

    def do_GET(self):
        self._forward()

    do_POST = do_HEAD = do_PUT = do_DELETE = do_GET

    def do_CONNECT(self):
        entry = self.server.proxy.begin(self.command, self.path, self.headers)
        self._answer(entry, 405, b"tunnels are not offered by this proxy\n")

    def _answer(self, entry, status, body, headers=(), content_type="text/plain; charset=utf-8"):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.server.proxy.finish(entry, status, len(body), False)

    def _read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else None

    def _forward(self):
        proxy = self.server.proxy
        entry = proxy.begin(self.command, self.path, self.headers)
        body = self._read_body()
        if self.path.startswith("/"):
            if self.path == "/proxy.pac":
                self._answer(entry, 200, proxy.script().encode("ascii"),
                             content_type="application/x-ns-proxy-autoconfig")
            else:
                self._answer(entry, 404, b"only /proxy.pac is served here\n")
            return
        if proxy.take_logon_demand():
            self._answer(entry, 407, b"proxy log-on required\n",
                         (("Proxy-Authenticate", "Negotiate"), ("Proxy-Authenticate", "NTLM")))
            return
        parts = urllib.parse.urlsplit(self.path)
        target = loopback_target(parts.hostname or "") if parts.scheme == "http" else None
        if target is None:
            self.close_connection = True
            self._answer(entry, 403, b"this proxy forwards to loopback addresses only\n")
            return
        headers = {name: value for name, value in self.headers.items() if name.lower() not in _HOP_BY_HOP}
        upstream = http.client.HTTPConnection(target, parts.port or 80, timeout=60)
        try:
            upstream.request(self.command, urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, "")),
                             body=body, headers=headers)
            response = upstream.getresponse()
        except OSError:
            upstream.close()
            self.close_connection = True
            self._answer(entry, 502, b"the target did not answer\n")
            return
        try:
            self._relay(entry, response)
        finally:
            upstream.close()

    def _relay(self, entry, response):
        length = response.getheader("Content-Length")
        self.send_response(response.status, response.reason)
        for name, value in response.getheaders():
            if name.lower() not in _HOP_BY_HOP and name.lower() != "content-length":
                self.send_header(name, value)
        if length is None:
            self.close_connection = True
        else:
            self.send_header("Content-Length", length)
        self.end_headers()
        sent, aborted = 0, False
        try:
            while self.command != "HEAD":
                chunk = response.read(CHUNK_BYTES)
                if not chunk:
                    break
                self.wfile.write(chunk)
                sent += len(chunk)
        except (OSError, http.client.HTTPException):
            aborted = True
        if length is not None and self.command != "HEAD" and sent < int(length):
            aborted = True
        if aborted:
            # The target broke off: so does the proxy, short of the announced length.
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.server.proxy.finish(entry, response.status, sent, aborted)


class _Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, address, proxy):
        self.proxy = proxy
        super().__init__(address, _Handler)

    def server_bind(self):
        # HTTPServer would resolve the host name here.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]


class ForwardProxy:
    """A logging forward proxy on host (a loopback address) and port (0 picks a free one)."""

    def __init__(self, host="127.0.0.2", port=0, verbose=False):
        if loopback_target(host) is None:
            raise ValueError("the proxy listens on loopback addresses only, not %r" % host)
        self.host = host
        self.requested_port = port
        self.verbose = verbose
        self.port = None
        self._lock = threading.Lock()
        self._log = []
        self._sequence = 0
        self._logon_demands = 0  # -1: every request
        self._server = None
        self._thread = None

    @classmethod
    def at(cls, address, verbose=False):
        """A proxy for "HOST:PORT" (port 0 picks a free one)."""
        host, separator, port = address.rpartition(":")
        if not separator or not port.isdigit():
            raise ValueError("the proxy address must be HOST:PORT, not %r" % address)
        return cls(host, int(port), verbose)

    @property
    def address(self):
        """host:port, as the user's proxy settings name it."""
        return "%s:%d" % (self.host, self.port)

    def start(self):
        if self._server is None:
            self._server = _Server((self.host, self.requested_port), self)
            self.port = self._server.server_address[1]
            self._thread = threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.1},
                                            name="devproxy-%d" % self.port, daemon=True)
            self._thread.start()
        return self

    def stop(self):
        if self._server is None:
            return
        self._server.shutdown()
        self._server.server_close()
        self._thread.join()
        self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc_info):
        self.stop()

    def script(self):
        """The auto-configuration script that sends every host but localhost through this proxy."""
        return ('function FindProxyForURL(url, host) {\n'
                '    return host == "localhost" ? "DIRECT" : "PROXY %s";\n}\n' % self.address)

    def demand_logon(self, times):
        """Answers the next `times` requests with 407; -1 answers every request so, 0 none."""
        if not isinstance(times, int) or isinstance(times, bool) or times < -1:
            raise ValueError("logon demand must be -1, 0 or a positive count")
        with self._lock:
            self._logon_demands = times

    def take_logon_demand(self):
        with self._lock:
            if self._logon_demands == 0:
                return False
            if self._logon_demands > 0:
                self._logon_demands -= 1
            return True

    def reset(self):
        with self._lock:
            self._log = []
            self._logon_demands = 0

    def begin(self, method, url, headers):
        with self._lock:
            self._sequence += 1
            entry = {"seq": self._sequence, "timeUtc": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
                     "method": method, "url": url,
                     "proxyAuthorization": (headers.get("Proxy-Authorization") or "").split(" ")[0],
                     "authorization": (headers.get("Authorization") or "").split(" ")[0],
                     "status": None, "bytesSent": 0, "aborted": False}
            self._log.append(entry)
            del self._log[:-LOG_LIMIT]
            return entry

    def finish(self, entry, status, bytes_sent, aborted):
        with self._lock:
            entry.update(status=status, bytesSent=bytes_sent, aborted=aborted)
        if self.verbose:
            print("devproxy: %s %s -> %s (%d bytes%s)" % (entry["method"], entry["url"], status, bytes_sent,
                                                          ", broken off" if aborted else ""), file=sys.stderr, flush=True)

    def log(self):
        with self._lock:
            return [dict(entry) for entry in self._log]

"""A small client of the control API for Python tests (the C++ tests have DevCenterClient)."""
import json
import urllib.error
import urllib.parse
import urllib.request

# Loopback traffic must never be sent to a proxy named in the environment.
_OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class ControlError(RuntimeError):
    pass


class ControlClient:
    def __init__(self, control_url, timeout=30):
        self.control_url = control_url.rstrip("/")
        self.timeout = timeout

    def _call(self, method, route, payload=None, query=None):
        url = self.control_url + route + ("?" + urllib.parse.urlencode(query) if query else "")
        data = None if payload is None else json.dumps(payload).encode("utf-8")
        request = urllib.request.Request(url, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        try:
            with _OPENER.open(request, timeout=self.timeout) as response:
                return json.loads(response.read().decode("utf-8"))
        except urllib.error.HTTPError as error:
            raise ControlError("%s %s: %d %s" % (method, route, error.code, error.read().decode("utf-8"))) from None

    def info(self):
        return self._call("GET", "/")

    def reset(self):
        return self._call("POST", "/reset", {})

    def faults(self):
        return self._call("GET", "/faults")

    def set_faults(self, **changes):
        """Merges fault members, e.g. set_faults(deviceLimit=1, node={"cutAfterBytes": 1000})."""
        return self._call("POST", "/faults", changes)

    def queue(self, operation, status=200, body=None, **options):
        """Queues an answer: body (object), or bodyText=, bodySize=, cutAfterBytes=, delayMs=, times=."""
        wanted = {"operation": operation, "status": status}
        if body is not None:
            wanted["body"] = body
        wanted.update(options)
        return self._call("POST", "/queue", wanted)

    def log(self, **filters):
        """Log entries; filters kind=, operation=, since=, last=."""
        return self._call("GET", "/log", query={key: value for key, value in filters.items() if value is not None})[
            "entries"]

    def counters(self, device_id=None):
        return self._call("GET", "/counters", query={"deviceId": device_id} if device_id else None)

    def packages(self):
        return {package["packageType"]: package for package in self._call("GET", "/packages")["packages"]}

    def set_package(self, edition, **wanted):
        """Replaces or renames an edition's package: path=, generatedSize=, demoSize=, packageId=, ..."""
        wanted["packageType"] = edition
        return self._call("POST", "/packages", wanted)

    def proxy_log(self):
        """What passed through the center's forward proxy, oldest first."""
        return self._call("GET", "/proxy")["entries"]

    def demand_proxy_logon(self, times):
        """The proxy answers the next `times` requests 407 (-1: every request, 0: none)."""
        return self._call("POST", "/proxy", {"demandLogon": times})

    def seed_session(self, device_id, session_id, edition, **wanted):
        wanted.update({"deviceId": device_id, "sessionId": session_id, "packageType": edition})
        return self._call("POST", "/sessions", wanted)

"""The control API on the center's own port, for tests: faults, queued answers, log, counters.

Every route answers JSON. Paths are relative to /__control:
  GET  /                 where the center listens
  POST /reset            forget sessions, counters, log and queue; restore start-up faults and packages
  GET  /faults           the current faults
  POST /faults           merge a partial fault object (see faults.py), answer the result;
                         "nodeSequence" gives each of the next downloads its own node faults
  POST /queue            queue an answer for the next call of an operation
  GET  /queue            how many answers wait per operation
  GET  /log              request log; query: kind=api|node|other, operation=, since=SEQ, last=N
  GET  /counters         downloads and reuses per device, sessions, queue, requests;
                         ?deviceId=ID gives {"deviceId", "downloads", "reuses", "sessions"} of one device
  GET  /packages         the package of each edition (with its path on the center's disk);
                         ?packageType=Server gives that one package
  POST /packages         replace or rename the package of one edition (demoSize with
                         demoSignature: a demo installer signed, or not, as make_demo_package says)
  POST /sessions         make a download session known, as if it had been started earlier
  GET  /proxy            the forward proxy's address and its log (when the center runs one)
  POST /proxy            {"demandLogon": N}: answer the next N requests 407, -1 every request, 0 none
"""
import json
import urllib.parse

from .catalog import Package, generated_package, package_type_of
from .make_demo_package import SIGNATURES
from .state import OPERATIONS, Session


class ControlError(Exception):
    pass


def compact_json(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def _padded_body(body, size):
    """body (an object) with a "padding" member that makes its JSON exactly size bytes."""
    if not isinstance(body, dict):
        raise ControlError("bodySize needs body to be an object or absent")
    bare = len(compact_json(dict(body, padding="")).encode("utf-8"))
    if size < bare:
        raise ControlError("bodySize %d is smaller than the smallest padded body (%d bytes)" % (size, bare))
    return compact_json(dict(body, padding="x" * (size - bare))).encode("utf-8")


def queued_answer(wanted):
    """Validates a queue request and returns the answer it describes."""
    if not isinstance(wanted, dict):
        raise ControlError("queue request must be a JSON object")
    unknown = set(wanted) - {"operation", "status", "body", "bodyText", "bodySize", "cutAfterBytes", "delayMs",
                           "contentType", "times"}
    if unknown:
        raise ControlError("unknown queue member(s): " + ", ".join(sorted(unknown)))
    if wanted.get("operation") not in OPERATIONS:
        raise ControlError("operation must be one of " + ", ".join(OPERATIONS))
    status = wanted.get("status", 200)
    if not isinstance(status, int) or isinstance(status, bool) or not 100 <= status <= 599:
        raise ControlError("status must be an HTTP status code")
    if "bodyText" in wanted and ("body" in wanted or "bodySize" in wanted):
        raise ControlError("bodyText excludes body and bodySize")
    if "bodyText" in wanted:
        if not isinstance(wanted["bodyText"], str):
            raise ControlError("bodyText must be a string")
        body = wanted["bodyText"].encode("utf-8")
    elif "bodySize" in wanted:
        body = _padded_body(wanted.get("body", {}), _count(wanted, "bodySize"))
    else:
        body = compact_json(wanted.get("body", {})).encode("utf-8")
    return {"operation": wanted["operation"], "status": status, "body": body,
            "cutAfterBytes": _count(wanted, "cutAfterBytes"), "delayMs": _count(wanted, "delayMs"),
            "contentType": wanted.get("contentType", "application/json; charset=utf-8")}


def _count(wanted, name):
    value = wanted.get(name)
    if value is not None and (not isinstance(value, int) or isinstance(value, bool) or value < 0):
        raise ControlError("%s must be a non-negative integer" % name)
    return value


def _times(wanted):
    times = wanted.get("times", 1)
    if not isinstance(times, int) or isinstance(times, bool) or times < 1:
        raise ControlError("times must be a positive integer")
    return times


def _replacement_package(center, wanted, current):
    if not isinstance(wanted, dict):
        raise ControlError("package request must be a JSON object")
    names = {"package_id": wanted.get("packageId"), "version_name": wanted.get("versionName"),
             "file_name": wanted.get("fileName")}
    for value in names.values():
        if value is not None and not isinstance(value, str):
            raise ControlError("packageId, versionName and fileName must be strings")
    package_type = package_type_of(wanted.get("packageType") or wanted.get("edition") or "")
    sources = [key for key in ("path", "generatedSize", "demoSize") if key in wanted]
    if len(sources) > 1:
        raise ControlError("give at most one of path, generatedSize and demoSize")
    if not sources:
        if current is None:
            raise ControlError("the edition has no package yet: give path, generatedSize or demoSize")
        return current.renamed(**names)
    source = sources[0]
    if source == "path":
        return Package.from_file(package_type, wanted["path"], **names)
    size = _count(wanted, source)
    if not size:
        raise ControlError(source + " must be a positive integer")
    if source == "generatedSize":
        return generated_package(package_type, center.cache_dir, size, **names)
    signature = wanted.get("demoSignature")
    if signature is not None and signature not in SIGNATURES:
        raise ControlError("demoSignature must be one of " + ", ".join(SIGNATURES))
    return center.demo_package(package_type, size, signature, **names)


def _seed_session(state, wanted):
    if not isinstance(wanted, dict):
        raise ControlError("session request must be a JSON object")
    for name in ("deviceId", "sessionId"):
        if not isinstance(wanted.get(name), str) or not wanted[name]:
            raise ControlError(name + " must be a non-empty string")
    package_type = package_type_of(wanted.get("packageType") or wanted.get("edition") or "")
    with state.lock:
        package = state.packages.get(package_type)
        if package is None:
            raise ControlError("the edition has no package")
        package_id = wanted.get("packageId", package.package_id)
        served = _count(wanted, "servedEnd")
        session = Session(wanted["deviceId"], wanted["sessionId"], package_type, package_id,
                          served_end=package.size if served is None else served, starts=1)
        state.sessions[(session.device_id, session.session_id)] = session
        return session.describe()


def _proxy_route(proxy, method, request):
    if proxy is None:
        return 404, {"error": "this center runs no proxy (start it with --proxy HOST:PORT)"}
    if method == "POST":
        if not isinstance(request, dict) or set(request) != {"demandLogon"}:
            raise ControlError("the proxy takes {\"demandLogon\": N}")
        proxy.demand_logon(request["demandLogon"])
    elif method != "GET":
        return 405, {"error": "GET or POST"}
    return 200, {"address": proxy.address, "entries": proxy.log()}


def _log_filters(query):
    values = urllib.parse.parse_qs(query)

    def single(name):
        return values[name][-1] if name in values else None

    try:
        return {"kind": single("kind"), "operation": single("operation"),
                "since": int(single("since") or 0), "last": int(single("last") or 0) or None}
    except ValueError as error:
        raise ControlError("since and last must be integers") from error


def handle(center, method, route, query, body):
    """(status, JSON value) for one control request; route is the path after /__control."""
    state = center.state
    try:
        request = json.loads(body.decode("utf-8")) if body.strip() else {}
    except ValueError:
        return 400, {"error": "request body is not JSON"}
    key = (method, route.rstrip("/") or "/")
    try:
        if key == ("GET", "/"):
            return 200, {"baseUrl": center.base_url, "controlUrl": center.control_url,
                         "nodeOrigin": center.origin}
        if key == ("POST", "/reset"):
            state.reset()
            if center.proxy:
                center.proxy.reset()
            return 200, {"reset": True}
        if key[1] == "/proxy":
            return _proxy_route(center.proxy, method, request)
        if key == ("GET", "/faults"):
            return 200, state.faults_snapshot()
        if key == ("POST", "/faults"):
            try:
                return 200, state.update_faults(request)
            except ValueError as error:
                raise ControlError(str(error)) from error
        if key == ("POST", "/queue"):
            answer = queued_answer(request)
            with state.lock:
                state.queue[answer["operation"]].extend([answer] * _times(request))
            return 200, {"queued": state.counters()["queued"]}
        if key == ("GET", "/queue"):
            return 200, {"queued": state.counters()["queued"]}
        if key == ("GET", "/log"):
            return 200, {"entries": state.log_entries(**_log_filters(query))}
        if key == ("GET", "/counters"):
            device = urllib.parse.parse_qs(query).get("deviceId")
            return 200, state.device_counters(device[-1]) if device else state.counters()
        if key == ("GET", "/packages"):
            asked = urllib.parse.parse_qs(query).get("packageType")
            with state.lock:
                if not asked:
                    return 200, {"packages": [package.describe() for package in state.packages.values()]}
                package = state.packages.get(package_type_of(asked[-1]))
            if package is None:
                return 404, {"error": "the edition has no package"}
            return 200, package.describe()
        if key == ("POST", "/packages"):
            package_type = package_type_of(request.get("packageType") or request.get("edition") or "") \
                if isinstance(request, dict) else None
            with state.lock:
                current = state.packages.get(package_type)
            package = _replacement_package(center, request, current)
            with state.lock:
                state.packages[package.package_type] = package
            return 200, package.describe()
        if key == ("POST", "/sessions"):
            return 200, _seed_session(state, request)
    except (ControlError, ValueError, OSError) as error:
        return 400, {"error": str(error)}
    return 404, {"error": "no control route %s %s" % key}

"""Settings that tests change to make the center or its download node misbehave.

Faults are a JSON object; an update names only the members it changes and is
validated as a whole before anything is applied.
"""
import copy

NODE_DEFAULTS = {
    "ignoreRange": False,            # answer 200 with the whole object to a range request
    "cutAfterBytes": None,           # close the connection after this many body bytes
    "throttleBytesPerSecond": None,  # send the body no faster than this
    "corruptOffset": None,           # flip the byte at this offset of the package
    "status": None,                  # answer every download with this status and no package
    "retryAfter": None,              # the Retry-After header of that answer: seconds or an HTTP date
    "stallAfterBytes": None,         # fall silent after this many body bytes, until the client gives up
    "expireUrl": False,              # the URL expires at this download: refused 403 from now on
    "extraBytes": None,              # send this many bytes beyond the package's end (announced in the length)
    "rangeShift": None,              # a 206 starts this many bytes off the requested start (and says so)
    "times": None,                   # the node faults above last for this many downloads
}

DEFAULTS = {
    "deviceLimit": None,          # downloads counted per device before start is refused
    "refusePrepare": False,       # prepare answers isAllowed false
    "rejectionReason": None,      # rejectionReason of a refusal; None picks the center's text
    "limitMessage": None,         # message of a refused start; None picks the center's text
    "urlLifetimeSeconds": 300,    # validity of a download URL; negative gives expired URLs
    "node": NODE_DEFAULTS,
    "nodeSequence": [],           # node faults for the next downloads, one set each, before "node" again
}


def _optional_count(value):
    return value is None or (isinstance(value, int) and not isinstance(value, bool) and value >= 0)


def _optional_positive(value):
    return value is None or (isinstance(value, int) and not isinstance(value, bool) and value > 0)


def _integer(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _optional_text(value):
    return value is None or isinstance(value, str)


def _optional_status(value):
    return value is None or (_integer(value) and 100 <= value <= 599)


def _node_fault_sets(value):
    return isinstance(value, list) and all(
        isinstance(item, dict) and all(key in _NODE_CHECKS and key != "times" and _NODE_CHECKS[key](setting)
                                       for key, setting in item.items())
        for item in value)


_CHECKS = {
    "deviceLimit": _optional_count,
    "refusePrepare": lambda value: isinstance(value, bool),
    "rejectionReason": _optional_text,
    "limitMessage": _optional_text,
    "urlLifetimeSeconds": _integer,
    "nodeSequence": _node_fault_sets,
}

_NODE_CHECKS = {
    "ignoreRange": lambda value: isinstance(value, bool),
    "cutAfterBytes": _optional_count,
    "throttleBytesPerSecond": _optional_positive,
    "corruptOffset": _optional_count,
    "status": _optional_status,
    "retryAfter": _optional_text,
    "stallAfterBytes": _optional_count,
    "expireUrl": lambda value: isinstance(value, bool),
    "extraBytes": _optional_count,
    "rangeShift": lambda value: value is None or _integer(value),
    "times": _optional_positive,
}


def defaults():
    return copy.deepcopy(DEFAULTS)


def _merge_checked(current, update, checks, where):
    if not isinstance(update, dict):
        raise ValueError("%s must be a JSON object" % where)
    merged = dict(current)
    for key, value in update.items():
        check = checks.get(key)
        if check is None:
            raise ValueError("unknown fault %s%s" % (where + "." if where != "faults" else "", key))
        if not check(value):
            raise ValueError("invalid value for %s: %r" % (key, value))
        merged[key] = value
    return merged


def merged(current, update):
    """A new fault set: current with the members of update; ValueError when update is invalid."""
    top_level = {key: value for key, value in update.items() if key != "node"} if isinstance(update, dict) else update
    result = _merge_checked(current, top_level, _CHECKS, "faults")
    result["node"] = dict(current["node"])
    if isinstance(update, dict) and "node" in update:
        node_update = update["node"]
        if node_update is None:
            result["node"] = dict(NODE_DEFAULTS)
        else:
            result["node"] = _merge_checked(current["node"], node_update, _NODE_CHECKS, "node")
    return result


def node_faults_active(node):
    return any(node[key] != NODE_DEFAULTS[key] for key in NODE_DEFAULTS if key != "times")

"""Everything the center remembers while it runs, behind one lock."""
import collections
import copy
import threading
import time
from dataclasses import asdict, dataclass

from . import faults as fault_settings

OPERATIONS = ("prepare", "reuse", "start")
LOG_LIMIT = 20000


@dataclass
class Session:
    device_id: str
    session_id: str
    package_type: str
    package_id: str
    served_end: int = 0   # highest package offset the node has sent for this session
    starts: int = 0       # start calls that opened the session at offset 0
    resumes: int = 0      # start calls accepted with a positive offset

    def describe(self):
        described = asdict(self)
        return {"deviceId": described["device_id"], "sessionId": described["session_id"],
                "packageType": described["package_type"], "packageId": described["package_id"],
                "servedEnd": described["served_end"], "starts": described["starts"],
                "resumes": described["resumes"]}


@dataclass
class Grant:
    package: object       # the catalog.Package as it was when the URL was handed out
    device_id: str
    session_id: str
    expired: bool = False  # refused from now on, as a URL past its lifetime


class CenterState:
    def __init__(self, packages, faults):
        self.lock = threading.RLock()
        self._initial_packages = dict(packages)
        self._initial_faults = copy.deepcopy(faults)
        self.reset()

    def reset(self):
        with self.lock:
            self.packages = dict(self._initial_packages)
            self.faults = copy.deepcopy(self._initial_faults)
            self.sessions = {}
            self.grants = {}
            self.downloads = collections.Counter()
            self.reuses = collections.Counter()
            self.queue = {operation: collections.deque() for operation in OPERATIONS}
            self.log = collections.deque(maxlen=LOG_LIMIT)
            self.sequence = 0

    def update_faults(self, update):
        with self.lock:
            self.faults = fault_settings.merged(self.faults, update)
            return copy.deepcopy(self.faults)

    def faults_snapshot(self):
        with self.lock:
            return copy.deepcopy(self.faults)

    def take_node_faults(self):
        """The node faults for one download: the next set of the sequence, else the
        standing ones, counting down their "times" budget."""
        with self.lock:
            sequence = self.faults["nodeSequence"]
            if sequence:
                self.faults["nodeSequence"] = sequence[1:]
                return dict(fault_settings.NODE_DEFAULTS, **sequence[0])
            node = dict(self.faults["node"])
            if not fault_settings.node_faults_active(node):
                return None
            if node["times"] is not None:
                remaining = node["times"] - 1
                self.faults["node"] = dict(fault_settings.NODE_DEFAULTS) if remaining == 0 \
                    else dict(node, times=remaining)
            return node

    def take_queued(self, operation):
        with self.lock:
            queued = self.queue[operation]
            return queued.popleft() if queued else None

    def begin_log(self, kind, operation, method, path, headers, body):
        with self.lock:
            self.sequence += 1
            entry = {"seq": self.sequence, "timeUtc": _utc_now(), "kind": kind, "operation": operation,
                     "method": method, "path": path, "headers": headers, "body": body,
                     "status": None, "bytesSent": 0, "aborted": False}
            self.log.append(entry)
            return entry

    def finish_log(self, entry, status, bytes_sent, aborted=False):
        with self.lock:
            entry["status"] = status
            entry["bytesSent"] = bytes_sent
            entry["aborted"] = aborted

    def log_entries(self, kind=None, operation=None, since=0, last=None):
        with self.lock:
            entries = [copy.deepcopy(entry) for entry in self.log
                       if entry["seq"] > since and (kind is None or entry["kind"] == kind)
                       and (operation is None or entry["operation"] == operation)]
        return entries[-last:] if last else entries

    def counters(self):
        with self.lock:
            return {"downloads": dict(self.downloads), "reuses": dict(self.reuses),
                    "sessions": [session.describe() for session in self.sessions.values()],
                    "queued": {operation: len(items) for operation, items in self.queue.items()},
                    "requests": dict(collections.Counter(
                        entry["operation"] or entry["kind"] for entry in self.log))}

    def device_counters(self, device_id):
        with self.lock:
            return {"deviceId": device_id, "downloads": self.downloads[device_id], "reuses": self.reuses[device_id],
                    "sessions": sum(1 for session in self.sessions.values() if session.device_id == device_id)}

    def note_served(self, grant, end):
        with self.lock:
            session = self.sessions.get((grant.device_id, grant.session_id))
            if session is not None and session.package_id == grant.package.package_id:
                session.served_end = max(session.served_end, end)


def _utc_now():
    now = time.time()
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(now)) + ".%03dZ" % (int(now * 1000) % 1000)

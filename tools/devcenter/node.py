"""The download node: serves a package behind a signed, short-lived URL, like an object store.

Whole objects are answered 200, byte ranges "bytes=N-" (and "bytes=N-M") 206
with Content-Range, a range starting at or past the end 416. Node faults can
ignore the range, cut the connection, fall silent, throttle, corrupt one byte,
replace the answer by a fixed status (with a Retry-After), expire the URL, send
bytes beyond the package's end or start a 206 elsewhere than asked.
"""
import re
import urllib.parse

CHUNK_BYTES = 65536
PLAIN_PIECE_BYTES = 4 << 20
EXTRA_BYTE = b"\x5a"
_RANGE = re.compile(r"bytes=(\d+)-(\d*)")


class Transfer:
    """What one download answer sent: status, body bytes and whether it ended early."""

    def __init__(self, status):
        self.status = status
        self.bytes_sent = 0
        self.aborted = False


def _error_body(code, message):
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>%s</Code><Message>%s</Message></Error>\n"
            % (code, message)).encode("utf-8")


_REFUSALS = {
    "AccessDenied": "The download URL is not authorised.",
    "SignatureDoesNotMatch": "The signature of the download URL does not match.",
    "RequestExpired": "The download URL has expired.",
}


def requested_range(header, size):
    """(first, last) for a satisfiable range, "unsatisfiable", or None to send the whole object."""
    if not header:
        return None
    match = _RANGE.fullmatch(header.strip())
    if not match:
        return None  # a range the node does not understand is ignored, as HTTP allows
    first = int(match.group(1))
    if first >= size:
        return "unsatisfiable"
    if not match.group(2):
        return first, size - 1
    last = int(match.group(2))
    if last < first:
        return None
    return first, min(last, size - 1)


def serve(exchange, state, signer, method):
    """Answers one GET or HEAD of a download URL through exchange (see server.Exchange)."""
    parsed = urllib.parse.urlsplit(exchange.path)
    grant_id, problem = signer.verify(parsed.path, parsed.query)
    with state.lock:
        grant = state.grants.get(grant_id) if grant_id else None
    live = grant is not None and not grant.expired
    faults = (state.take_node_faults() or {}) if live else {}
    if faults.get("expireUrl"):
        with state.lock:
            grant.expired = True
    if grant is None or grant.expired:
        problem = problem or ("RequestExpired" if grant else "AccessDenied")
        return exchange.send_whole(403, _error_body(problem, _REFUSALS[problem]), "application/xml")

    if faults.get("status"):
        retry_after = {"Retry-After": faults["retryAfter"]} if faults.get("retryAfter") else None
        return exchange.send_whole(faults["status"], _error_body("InjectedFault", "Injected node status."),
                                   "application/xml", retry_after)

    package = grant.package
    size = package.size
    wanted = None if faults.get("ignoreRange") else requested_range(exchange.headers.get("Range"), size)
    if wanted == "unsatisfiable":
        return exchange.send_whole(416, _error_body("InvalidRange", "The requested range is not satisfiable."),
                                   "application/xml", {"Content-Range": "bytes */%d" % size})
    headers = {"Accept-Ranges": "bytes", "ETag": '"%s"' % package.sha256}
    if wanted is None:
        status, first, last = 200, 0, size - 1
    else:
        status, (first, last) = 206, wanted
        first = min(max(first + (faults.get("rangeShift") or 0), 0), last)
        headers["Content-Range"] = "bytes %d-%d/%d" % (first, last, size)

    length = last - first + 1 + (faults.get("extraBytes") or 0)
    transfer = exchange.start_body(status, length, "application/octet-stream", headers)
    if method == "HEAD":
        return transfer
    limit = length
    if faults.get("cutAfterBytes") is not None:
        limit = min(limit, faults["cutAfterBytes"])
    stall = faults.get("stallAfterBytes")
    if stall is not None:
        limit = min(limit, stall)
    corrupt = faults.get("corruptOffset")
    rate = faults.get("throttleBytesPerSecond")
    chunk_bytes = max(1, min(CHUNK_BYTES, rate // 10)) if rate else CHUNK_BYTES
    with open(package.path, "rb") as stream:
        stream.seek(first)
        position = first
        while transfer.bytes_sent < limit:
            wanted_bytes = min(chunk_bytes, limit - transfer.bytes_sent)
            if position <= last and corrupt is None and not rate:
                # Unaltered bytes go from the page cache to the socket, so that the node is never the limit.
                count = min(PLAIN_PIECE_BYTES, limit - transfer.bytes_sent, last + 1 - position)
                if not exchange.send_file(transfer, stream, position, count):
                    break
                position += count
                state.note_served(grant, position)
                continue
            # Past the range's end come the extra bytes of the fault, if any.
            stream.seek(position)
            chunk = stream.read(min(wanted_bytes, last + 1 - position)) if position <= last else \
                EXTRA_BYTE * wanted_bytes
            if not chunk:
                break
            if corrupt is not None and position <= corrupt < position + len(chunk):
                damaged = bytearray(chunk)
                damaged[corrupt - position] ^= 0xFF
                chunk = bytes(damaged)
            if not exchange.write(transfer, chunk):
                break
            position += len(chunk)
            state.note_served(grant, min(position, last + 1))
            if rate and not exchange.pace(transfer.bytes_sent / rate):
                transfer.aborted = True
                break
    if stall is not None and transfer.bytes_sent == stall and not transfer.aborted:
        exchange.fall_silent()
    if transfer.bytes_sent < length:
        transfer.aborted = True
        exchange.cut()
    return transfer

"""Short-lived download URLs signed with a secret that lives only as long as the center runs."""
import hashlib
import hmac
import secrets
import time
import urllib.parse


class UrlSigner:
    def __init__(self, clock=time.time):
        self._secret = secrets.token_bytes(32)
        self._clock = clock

    def _signature(self, path, expires, grant):
        # Signed unescaped, so a client that escapes the path differently still matches.
        message = "%s\n%d\n%s" % (urllib.parse.unquote(path), expires, grant)
        return hmac.new(self._secret, message.encode("utf-8"), hashlib.sha256).hexdigest()

    def sign(self, path, grant, lifetime_seconds):
        """Query string (without "?") that authorises GET of path for lifetime_seconds."""
        expires = int(self._clock() + lifetime_seconds)
        return urllib.parse.urlencode({"Expires": expires, "Grant": grant,
                                       "Signature": self._signature(path, expires, grant)}), expires

    def verify(self, path, query):
        """(grant, None) when the query authorises path now, else (None, reason)."""
        values = urllib.parse.parse_qs(query, keep_blank_values=True)
        try:
            expires = int(values["Expires"][0])
            grant = values["Grant"][0]
            signature = values["Signature"][0]
        except (KeyError, IndexError, ValueError):
            return None, "AccessDenied"
        if not hmac.compare_digest(signature, self._signature(path, expires, grant)):
            return None, "SignatureDoesNotMatch"
        if self._clock() > expires:
            return None, "RequestExpired"
        return grant, None

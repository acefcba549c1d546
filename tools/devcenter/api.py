"""The center's three operations: prepare, reuse and start.

Each takes the decoded request object and answers (status, JSON object). The
rules a real center follows are kept: downloads are counted per device, a
start that resumes a known session at a positive offset is not counted again,
and a resume offset is accepted only if it matches what the center knows.
"""
import secrets
import time
import urllib.parse

from .catalog import PACKAGE_TYPES
from .state import Grant, Session

DEFAULT_REJECTION_REASON = "这台电脑已达到下载次数上限，如需再次下载请联系欧瑞凡达客服。"
DEFAULT_LIMIT_MESSAGE = "这台电脑已达到下载次数上限。"
NO_LONGER_CURRENT_MESSAGE = "中心的最新安装包已更新，请重新检查最新版本。"
NODE_PREFIX = "/oss/"


class Refusal(Exception):
    def __init__(self, status, error_code, message):
        super().__init__(message)
        self.status = status
        self.error_code = error_code
        self.message = message

    def body(self):
        return {"errorCode": self.error_code, "message": self.message}


def _text_member(request, name):
    value = request.get(name)
    if not isinstance(value, str) or not value:
        raise Refusal(400, "INVALID_REQUEST", "请求缺少有效的 %s" % name)
    return value


def _current_package(state, request):
    package_type = _text_member(request, "packageType")
    if package_type not in PACKAGE_TYPES:
        raise Refusal(400, "PACKAGE_TYPE_INVALID", "未知的安装包类型：%s" % package_type)
    package = state.packages.get(package_type)
    if package is None:
        raise Refusal(404, "INSTALLER_PACKAGE_NOT_FOUND", "中心暂未发布该版本的安装包")
    return package


def _limit_reached(state, device_id):
    limit = state.faults["deviceLimit"]
    return limit is not None and state.downloads[device_id] >= limit


def prepare(state, request, context):
    device_id = _text_member(request, "deviceId")
    package = _current_package(state, request)
    refused = state.faults["refusePrepare"] or _limit_reached(state, device_id)
    reason = ""
    if refused:
        reason = state.faults["rejectionReason"]
        if reason is None:
            reason = DEFAULT_REJECTION_REASON
    answer = {"packageType": package.package_type}
    answer.update(package.metadata())
    answer.update({"isAllowed": not refused, "rejectionReason": reason,
                   "downloadsUsed": state.downloads[device_id], "downloadLimit": state.faults["deviceLimit"]})
    return 200, answer


def reuse(state, request, context):
    device_id = _text_member(request, "deviceId")
    package = _current_package(state, request)
    package_id = _text_member(request, "packageId")
    if package_id != package.package_id:
        raise Refusal(409, "INSTALLER_PACKAGE_NO_LONGER_CURRENT", NO_LONGER_CURRENT_MESSAGE)
    state.reuses[device_id] += 1
    return 200, {"recorded": True, "packageId": package.package_id}


def _check_resume(state, session, package, offset):
    if session is None:
        raise Refusal(409, "DOWNLOAD_OFFSET_INVALID", "中心没有这个下载会话，无法从第 %d 字节续传" % offset)
    if session.package_type != package.package_type or session.package_id != package.package_id:
        raise Refusal(409, "DOWNLOAD_OFFSET_INVALID", "下载会话对应的安装包已不是最新版本，请重新下载")
    if offset > package.size:
        raise Refusal(409, "DOWNLOAD_OFFSET_INVALID", "续传位置超出了安装包大小")
    if offset > session.served_end:
        raise Refusal(409, "DOWNLOAD_OFFSET_INVALID", "续传位置超出了本会话已下载的范围")


def start(state, request, context):
    device_id = _text_member(request, "deviceId")
    package = _current_package(state, request)
    session_id = _text_member(request, "sessionId")
    offset = request.get("resumeOffset")
    if not isinstance(offset, int) or isinstance(offset, bool):
        raise Refusal(400, "INVALID_REQUEST", "请求缺少有效的 resumeOffset")
    if offset < 0:
        raise Refusal(409, "DOWNLOAD_OFFSET_INVALID", "续传位置不能为负数")

    key = (device_id, session_id)
    session = state.sessions.get(key)
    counted = offset == 0
    if counted:
        if _limit_reached(state, device_id):
            message = state.faults["limitMessage"]
            raise Refusal(403, "DEVICE_DOWNLOAD_LIMIT_REACHED", DEFAULT_LIMIT_MESSAGE if message is None else message)
        state.downloads[device_id] += 1
        starts = session.starts if session is not None else 0
        session = Session(device_id, session_id, package.package_type, package.package_id, starts=starts + 1)
        state.sessions[key] = session
    else:
        _check_resume(state, session, package, offset)
        session.resumes += 1

    grant = secrets.token_hex(12)
    state.grants[grant] = Grant(package, device_id, session_id)
    path = NODE_PREFIX + urllib.parse.quote(package.package_id, safe="") + "/" + \
        urllib.parse.quote(package.file_name, safe="")
    query, expires = context.signer.sign(path, grant, state.faults["urlLifetimeSeconds"])
    answer = {"sessionId": session_id, "resumeOffset": offset, "counted": counted}
    answer.update(package.metadata())
    answer.update({"downloadUrl": context.node_origin + path + "?" + query,
                   "expiresAtUtc": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(expires))})
    return 200, answer


HANDLERS = {"prepare": prepare, "reuse": reuse, "start": start}


def answer(state, operation, request, context):
    """(status, JSON object) for one operation; the caller holds no lock."""
    if not isinstance(request, dict):
        return 400, {"errorCode": "INVALID_REQUEST", "message": "请求正文必须是 JSON 对象"}
    with state.lock:
        try:
            return HANDLERS[operation](state, request, context)
        except Refusal as refusal:
            return refusal.status, refusal.body()

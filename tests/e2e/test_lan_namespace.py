"""LAN discovery end to end: the real discovery under Wine in a client network
namespace, against clinic hosts in a second namespace on 192.168.77.0/24.

Needs root (network namespaces). Elsewhere it is skipped, except under CI
where the missing capability is a failure.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
import lan_netns  # noqa: E402
import winetest  # noqa: E402

CLIENT = "192.168.77.20/24"
HOST = "192.168.77.130"
REFUSER = "192.168.77.2"
SLOW_HOST = "192.168.77.3"

failures = []


def check(label, fields, expected):
    for key, value in expected.items():
        if fields.get(key) != value:
            failures.append("%s: %s is %r, expected %r" % (label, key, fields.get(key), value))
    print("%-36s %s" % (label, {k: fields.get(k) for k in ("lanState", "lanHostText", "edition", "neighbourTable",
                                                           "elapsedMs")}))


def scenarios(lab, wine):
    lab.listen(HOST)
    fields = lan_netns.discover(wine)
    check("host found, no choice yet", fields, {
        "lanState": "2", "lanHostText": HOST, "edition": "2",
        "statusText": "已根据局域网检测推荐仅客户端版",
        "detailText": "仅客户端版 · 已发现主机 " + HOST + ":9009"})
    # The gateway the client resolved is read back from the neighbour table.
    if "192.168.77.1" not in fields.get("neighbourTable", "").split(","):
        failures.append("neighbour table lacks the resolved gateway: %r" % fields.get("neighbourTable"))

    fields = lan_netns.discover(wine, ["--edition=1", "--user-chose"])
    check("host found, server edition chosen", fields, {
        "lanState": "2", "lanHostText": HOST, "edition": "0", "userChoseEdition": "0",
        "statusText": "已发现现有主机，服务端版需要客服协助",
        "detailText": "多主机安装请联系 400-100-200"})

    fields = lan_netns.discover(wine, ["--edition=2", "--user-chose"])
    check("host found, client edition chosen", fields, {
        "lanState": "2", "lanHostText": HOST, "edition": "2", "userChoseEdition": "1",
        "statusText": "准备就绪", "detailText": "请选择适合您的版本"})
    lab.stop_hosts()

    # A computer that refuses at once and, in the same batch, the clinic host
    # answering 100 ms after the last connect of that batch: the host must still be found.
    lab.slow_host(SLOW_HOST, delay_ms=100)
    lab.forget_neighbours()
    fields = lan_netns.discover(wine)
    check("late host behind a quick refusal", fields, {
        "lanState": "2", "lanHostText": SLOW_HOST, "edition": "2"})
    lab.stop_hosts()

    fields = lan_netns.discover(wine, ["--edition=1", "--user-chose"])
    check("no host", fields, {
        "lanState": "1", "lanHostText": "", "edition": "1", "userChoseEdition": "1",
        "statusText": "准备就绪", "detailText": "请选择适合您的版本"})


def main():
    if not os.path.exists(lan_netns.driver_path()):
        print("driver not built:", lan_netns.driver_path())
        return 1
    try:
        with lan_netns.LanLab(CLIENT, host_addresses=[HOST, REFUSER]) as lab:
            with lan_netns.NamespaceWine(lab, winetest.BUILD_DIR) as wine:
                scenarios(lab, wine)
    except lan_netns.LabUnavailable as reason:
        if os.environ.get("CI") == "true":
            print("FAIL: the LAN test needs network namespaces:", reason)
            return 1
        print("skipped:", reason)
        return lan_netns.SKIP
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

"""A private test LAN in network namespaces, and Wine running inside it.

Topology: a "client" namespace whose only link is one veth to a "host"
namespace. The client's address carries the subnet prefix the discovery scans
(e.g. 192.168.77.20/24), but every packet for that subnet goes to the host
namespace as its gateway, so the client resolves one neighbour only. The host
namespace owns the clinic-host addresses (a listener on one of them accepts,
the others refuse), can route an address to a late-accepting responder on a
TUN device, and silently discards everything else, as silent computers on a
real LAN do. Nothing routes out of either namespace.

Wine runs in a prefix of its own whose wineserver is started inside the
client namespace: Wine's sockets and adapter queries happen in the server and
its service processes, so they see only the test LAN.
"""
import ipaddress
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import winetest  # noqa: E402

NAME_TAG = "orvlan"
SKIP = 77


class LabUnavailable(Exception):
    """Namespaces cannot be created on this machine (not root, no iproute2, ...)."""


def _run(*command, check=True, namespace=None):
    if namespace:
        command = ("ip", "netns", "exec", namespace) + command
    return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, check=check)


def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False
    except PermissionError:
        return True


def _kill_namespace_processes(namespace):
    result = _run("ip", "netns", "pids", namespace, check=False)
    for pid in result.stdout.split():
        try:
            os.kill(int(pid), signal.SIGKILL)
        except (ProcessLookupError, ValueError):
            pass


def remove_stale_labs():
    """Deletes namespaces left by a lab whose process died without cleaning up."""
    result = _run("ip", "netns", "list", check=False)
    for line in result.stdout.splitlines():
        name = line.split()[0] if line.split() else ""
        parts = name.split("-")
        if len(parts) == 3 and parts[0] == NAME_TAG and parts[2].isdigit() and not _pid_alive(int(parts[2])):
            _kill_namespace_processes(name)
            _run("ip", "netns", "del", name, check=False)


def _terminate_on_signal():
    """ctest ends a test that runs too long with SIGTERM: turn it into an exception so cleanup runs."""
    def handler(signum, frame):
        raise SystemExit(128 + signum)
    signal.signal(signal.SIGTERM, handler)
    signal.signal(signal.SIGHUP, handler)


class LanLab:
    def __init__(self, client_interface, host_addresses=()):
        """client_interface: "192.168.77.20/24"; host_addresses: addresses the host namespace owns."""
        self.interface = ipaddress.ip_interface(client_interface)
        self.network = self.interface.network
        self.client_address = str(self.interface.ip)
        self.gateway = str(next(self.network.hosts()))
        if self.gateway == self.client_address:
            raise ValueError("the client must not take the network's first address")
        self.host_addresses = sorted({self.gateway, *host_addresses})
        pid = os.getpid()
        self.client_ns = "%s-c-%d" % (NAME_TAG, pid)
        self.host_ns = "%s-h-%d" % (NAME_TAG, pid)
        self.client_link = "olc%d" % pid
        self.host_link = "olh%d" % pid
        self._processes = []
        self._created = []

    # --- set-up and tear-down -------------------------------------------------

    def __enter__(self):
        _terminate_on_signal()
        try:
            self._create()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _create(self):
        if os.geteuid() != 0 or shutil.which("ip") is None:
            raise LabUnavailable("network namespaces need root and iproute2")
        remove_stale_labs()
        for namespace in (self.client_ns, self.host_ns):
            result = _run("ip", "netns", "add", namespace, check=False)
            if result.returncode != 0:
                raise LabUnavailable("ip netns add failed: " + result.stderr.strip())
            self._created.append(namespace)
        _run("ip", "link", "add", self.client_link, "netns", self.client_ns,
             "type", "veth", "peer", "name", self.host_link, "netns", self.host_ns)
        prefix = str(self.network.prefixlen)
        net = str(self.network)

        c = self.client_ns
        _run("ip", "link", "set", "lo", "up", namespace=c)
        _run("ip", "link", "set", self.client_link, "up", namespace=c)
        _run("ip", "addr", "add", self.client_address + "/" + prefix, "dev", self.client_link,
             "noprefixroute", namespace=c)
        _run("ip", "route", "add", self.gateway + "/32", "dev", self.client_link, namespace=c)
        _run("ip", "route", "add", net, "via", self.gateway, "dev", self.client_link, namespace=c)

        h = self.host_ns
        _run("ip", "link", "set", "lo", "up", namespace=h)
        _run("ip", "link", "set", self.host_link, "up", namespace=h)
        for address in self.host_addresses:
            _run("ip", "addr", "add", address + "/32", "dev", self.host_link, namespace=h)
        _run("ip", "route", "add", self.client_address + "/32", "dev", self.host_link, namespace=h)
        _run("ip", "route", "add", "blackhole", net, "metric", "100", namespace=h)
        _run("sysctl", "-qw", "net.ipv4.ip_forward=1", namespace=h)
        self.check_isolated()

    def check_isolated(self):
        """Refuses to go on unless the client can reach nothing but the test link."""
        links = _run("ip", "-o", "link", "show", namespace=self.client_ns).stdout
        names = sorted(line.split(":")[1].strip().split("@")[0] for line in links.splitlines())
        if names != sorted(["lo", self.client_link]):
            raise RuntimeError("client namespace has unexpected links: %s" % names)
        routes = _run("ip", "-4", "route", "show", "table", "all", namespace=self.client_ns).stdout
        for route in routes.splitlines():
            words = route.split()
            device = words[words.index("dev") + 1] if "dev" in words else ""
            if words[0] == "default" or device not in ("lo", self.client_link):
                raise RuntimeError("client namespace has a route out: " + route)
            if words[0] not in ("local", "broadcast", "multicast") and device == self.client_link:
                destination = ipaddress.ip_network(words[0] if "/" in words[0] else words[0] + "/32")
                if not destination.subnet_of(self.network):
                    raise RuntimeError("client namespace routes beyond the test LAN: " + route)

    def close(self):
        for process in self._processes:
            _stop_process(process)
        self._processes = []
        for namespace in reversed(self._created):
            _kill_namespace_processes(namespace)
            _run("ip", "netns", "del", namespace, check=False)
        self._created = []

    # --- hosts ----------------------------------------------------------------

    def listen(self, address, port=9009):
        """A clinic host: accepts connections on address:port in the host namespace."""
        code = ("import socket,sys\n"
                "s=socket.socket();s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)\n"
                "s.bind((sys.argv[1],int(sys.argv[2])));s.listen(64);print('ready',flush=True)\n"
                "while True:\n c,_=s.accept();c.close()\n")
        return self._start_host(["python3", "-c", code, address, str(port)])

    def slow_host(self, address, delay_ms, port=9009):
        """A clinic host among the silent addresses that completes the handshake
        delay_ms after the client has sent its SYN to every silent address of
        the subnet, i.e. while the client waits on its one batch."""
        if address in self.host_addresses or address == self.client_address:
            raise ValueError("a slow host needs an address of its own")
        silent = self.network.num_addresses - 2 - 1 - len(self.host_addresses)
        script = os.path.join(HERE, "lan_slow_host.py")
        return self._start_host(["python3", script, "oltun", str(self.network), address, str(port),
                                 str(silent), str(delay_ms)])

    def _start_host(self, command):
        process = subprocess.Popen(["ip", "netns", "exec", self.host_ns, *command],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, start_new_session=True, text=True)
        self._processes.append(process)
        if process.stdout.readline().strip() != "ready":
            raise RuntimeError("test host did not start: %s" % command[:2])
        return process

    def stop_hosts(self):
        for process in self._processes:
            _stop_process(process)
        self._processes = []

    def forget_neighbours(self):
        _run("ip", "neigh", "flush", "all", namespace=self.client_ns, check=False)


def _stop_process(process):
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.wait(timeout=30)
    for stream in (process.stdin, process.stdout):
        if stream:
            stream.close()


class NamespaceWine:
    """A Wine prefix of its own whose wineserver lives in the lab's client namespace."""

    def __init__(self, lab, root):
        self.lab = lab
        self.prefix = os.path.join(root, "lan-netns-prefix-%d" % os.getpid())
        self.env = winetest.wine_env({"WINEPREFIX": self.prefix})
        self._server = None

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start(self):
        root = os.path.dirname(self.prefix)
        for name in os.listdir(root):
            owner = name.rsplit("-", 1)[-1]
            if name.startswith("lan-netns-prefix-") and owner.isdigit() and not _pid_alive(int(owner)):
                shutil.rmtree(os.path.join(root, name), ignore_errors=True)
        shutil.rmtree(self.prefix, ignore_errors=True)
        winetest.clone_prefix(self.prefix)
        ns = self.lab.client_ns
        self._server = subprocess.Popen(["ip", "netns", "exec", ns, "wineserver", "-f", "-p"],
                                        env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        deadline = time.monotonic() + 30
        while not self._server_in_namespace():
            if self._server.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("wineserver did not start inside " + ns)
            time.sleep(0.05)
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            self.run_quiet(winetest.wine_command("wineboot", "-i"), timeout=600)
        self.run_quiet(winetest.wine_command("cmd", "/c", "exit"), timeout=300)

    def _server_in_namespace(self):
        try:
            server = os.stat("/proc/%d/ns/net" % self._server.pid)
            lab = os.stat("/run/netns/" + self.lab.client_ns)
        except FileNotFoundError:
            return False
        return (server.st_dev, server.st_ino) == (lab.st_dev, lab.st_ino) and \
            os.path.basename(os.readlink("/proc/%d/exe" % self._server.pid)).startswith("wineserver")

    def run_quiet(self, command, timeout):
        subprocess.run(["ip", "netns", "exec", self.lab.client_ns, *command], env=self.env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    def run(self, exe, args=(), timeout=300):
        """Runs a console program in the client namespace; returns the CompletedProcess."""
        if not self._server_in_namespace():
            raise RuntimeError("the prefix's wineserver is not inside the test namespace")
        return subprocess.run(["ip", "netns", "exec", self.lab.client_ns, *winetest.wine_command(exe, *args)],
                              env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout, check=False)

    def close(self):
        if self._server is not None:
            subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60,
                           check=False)
            if self._server.poll() is None:
                try:
                    os.killpg(self._server.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            self._server.wait(timeout=30)
            self._server = None
        _kill_namespace_processes(self.lab.client_ns)
        shutil.rmtree(self.prefix, ignore_errors=True)


def driver_path():
    return os.path.join(winetest.program_build_dir(), "tests", "lan_discovery_driver.exe")


def discover(wine, args=()):
    """Runs the discovery driver once; returns its published fields as a dict."""
    result = wine.run(driver_path(), args)
    text = result.stdout.decode("utf-8", "replace")
    if result.returncode != 0:
        raise RuntimeError("driver failed (%d): %s %s" % (result.returncode, text,
                                                          result.stderr.decode("utf-8", "replace")[-500:]))
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)

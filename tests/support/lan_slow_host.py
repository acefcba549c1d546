"""A clinic host that accepts late, behind silent computers.

Run inside a test network namespace:
    lan_slow_host.py DEVICE NETWORK ADDRESS PORT AFTER_SYNS DELAY_MS
It creates the TUN device DEVICE and routes NETWORK to it, ahead of the
namespace's blackhole route. Every SYN arriving there goes unanswered, except
those to ADDRESS:PORT, which get their SYN-ACK DELAY_MS after the AFTER_SYNS-th
SYN has arrived: once the prober has started every connect of its batch and
is waiting. Prints "ready" and serves until its standard input closes.
"""
import fcntl
import os
import random
import select
import socket
import struct
import subprocess
import sys
import threading

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def is_syn(packet):
    if len(packet) < 40 or packet[0] >> 4 != 4 or packet[9] != 6:
        return False
    return packet[(packet[0] & 0x0F) * 4 + 13] & 0x12 == 0x02  # SYN without ACK


def syn_ack(packet, address, port):
    """The SYN-ACK answering a SYN to address:port, or None for any other packet."""
    if not is_syn(packet) or packet[16:20] != address:
        return None
    header = (packet[0] & 0x0F) * 4
    source, destination = packet[12:16], packet[16:20]
    tcp = packet[header:]
    client_port, server_port, sequence = struct.unpack("!HHI", tcp[:8])
    if server_port != port:
        return None
    segment = struct.pack("!HHIIBBHHH", server_port, client_port, random.getrandbits(32),
                          (sequence + 1) & 0xFFFFFFFF, 5 << 4, 0x12, 65535, 0, 0)
    pseudo = destination + source + struct.pack("!BBH", 0, 6, len(segment))
    segment = segment[:16] + struct.pack("!H", checksum(pseudo + segment)) + segment[18:]
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(segment), 0, 0x4000, 64, 6, 0,
                     destination, source)
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    return ip + segment


def main(device, network, address, port, after_syns, delay_ms):
    tun = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(tun, TUNSETIFF, struct.pack("16sH22x", device.encode(), IFF_TUN | IFF_NO_PI))
    subprocess.run(["ip", "link", "set", "dev", device, "up"], check=True)
    subprocess.run(["ip", "route", "add", network, "dev", device, "metric", "10"], check=True)
    address = socket.inet_aton(address)
    syns = 0
    held = []
    print("ready", flush=True)
    while True:
        readable, _, _ = select.select([tun, sys.stdin], [], [])
        if sys.stdin in readable and not sys.stdin.buffer.read1(1):
            return
        if tun not in readable:
            continue
        packet = os.read(tun, 65535)
        syns += is_syn(packet)
        answer = syn_ack(packet, address, port)
        if answer:
            held.append(answer)
        if syns >= after_syns and held:
            for answer in held:
                threading.Timer(delay_ms / 1000.0, os.write, (tun, answer)).start()
            held = []


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), int(sys.argv[6]))

#!/usr/bin/env python3
"""Creates a blank simulated module: erased /dev/env, a default boot loader
environment, board type 3 with its identity and FRU EEPROMs on the I2C bus."""
import os
import sys
import zlib

root = sys.argv[1]
for d in ("dev", "etc/snmp", "ramdisk", "sim/i2c", "usr/sbin", "proc/sys/crypto"):
    os.makedirs(os.path.join(root, d), exist_ok=True)


def put(path, data, mode="wb"):
    with open(os.path.join(root, path), mode) as f:
        f.write(data)


put("dev/env", b"\xff" * 12495)
put("dev/i2c0", b"")
put("proc/sys/crypto/fips_enabled", b"0\n")
put("etc/gpio_states", b"ZELMARBOARDTYPE=3\n")

entries = [
    "bootcmd=bootm ff800000 ffb80000", "bootdelay=1", "baudrate=9600", "loads_echo=1",
    "ethaddr=DE:AD:BE:EF:01:01", "silent=1", "autoload=n", "stdin=serial", "stdout=serial",
    "stderr=serial", "bootargs=root=/dev/ram0 console=ttyS0,9600",
]
data = ("\0".join(entries) + "\0\0").encode().ljust(1020, b"\xff")
put("dev/uboot", zlib.crc32(data).to_bytes(4, "big") + data)


def checksum(b):
    return (-sum(b)) & 0xFF


# Identity EEPROM (board type 3: address 0x52, record at offset 0x10).
record = bytes(7) + bytes.fromhex("0050C2A1B2C3") + b"Adm1n!pw"
record += bytes([checksum(record)])
put("sim/i2c/52", bytes(16) + record + bytes(64))

# FRU EEPROM behind multiplexer 0x75: common header, then the chassis info area.
def text_field(s):
    return bytes([0xC0 | len(s)]) + s.encode()

area = bytes([1, 0, 0x17]) + text_field("PN-5521-07") + text_field("SN0042A7731") + b"\xc1"
area += bytes(-(len(area) + 1) % 8)
area = bytes([area[0], (len(area) + 1) // 8]) + area[2:]
area += bytes([checksum(area)])
header = bytes([1, 0, 1, 0, 0, 0, 0])
header += bytes([checksum(header)])
put("sim/i2c/56", (header + area).ljust(512, b"\0"))
put("sim/i2c/75", b"\0")

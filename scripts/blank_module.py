#!/usr/bin/env python3
"""Makes a simulated module in DIR (for CFGPULL_SIM_ROOT): board type 3 with
its identity and FRU EEPROMs on the I2C bus, a default boot loader
environment, FIPS mode off (--fips: on), cfgpush installed, and an erased
/dev/env, or with --image a copy of a module's /dev/env (the raw 12495 bytes).

usage: blank_module.py [--image ENV] [--fips] DIR"""
import argparse
import os
import shutil
import sys
import zlib

RAW_IMAGE_SIZE = 12495
HERE = os.path.dirname(os.path.abspath(__file__))

parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
parser.add_argument("--image", metavar="ENV", help="raw /dev/env image to put in place of an erased one")
parser.add_argument("--fips", action="store_true", help="the module runs in FIPS mode")
parser.add_argument("dir", metavar="DIR")
args = parser.parse_args()

if args.image:
    with open(args.image, "rb") as f:
        env = f.read()
    if len(env) != RAW_IMAGE_SIZE:
        sys.exit(f"{args.image}: {len(env)} bytes; a copy of /dev/env has {RAW_IMAGE_SIZE}")
else:
    env = b"\xff" * RAW_IMAGE_SIZE

root = args.dir
for d in ("dev", "etc/snmp", "ramdisk", "sim/i2c", "usr/sbin", "proc/sys/crypto"):
    os.makedirs(os.path.join(root, d), exist_ok=True)


def put(path, data, mode="wb"):
    with open(os.path.join(root, path), mode) as f:
        f.write(data)


put("dev/env", env)
put("dev/i2c0", b"")
put("proc/sys/crypto/fips_enabled", b"1\n" if args.fips else b"0\n")
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

# A factory restore for any option but -a runs the module's cfgpush: the one
# on the PATH, or the simulated build's.
cfgpush = shutil.which("cfgpush") or os.path.join(HERE, "..", "build", "sim", "bin", "cfgpush")
if os.path.exists(cfgpush):
    shutil.copy(cfgpush, os.path.join(root, "usr/sbin/cfgpush"))
else:
    print("blank_module.py: no cfgpush (cmake --build build/sim --target cfgpush); "
          "a factory restore other than cfgpull -a will fail", file=sys.stderr)

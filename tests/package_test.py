#!/usr/bin/env python3
"""What a user downloads: the zip of one architecture holds, in one folder
named like the zip, the program, its two tools, a commented settings file
and a read-me, with Windows line ends, and every executable in it is of the
zip's architecture.  usage: package_test.py ZIP ARCH"""
import os
import struct
import sys
import zipfile

MACHINES = {"x86": 0x014C, "x64": 0x8664}
EXPECTED = ["quorvix.exe", "quorvix-monitor.exe", "quorvix-check.exe", "quorvix.ini", "README.txt"]


def machine(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def main(path, arch):
    folder = os.path.basename(path)[:-len(".zip")]
    faults = []
    with zipfile.ZipFile(path) as z:
        files = sorted(n for n in z.namelist() if not n.endswith("/"))
        wanted = sorted(f"{folder}/{name}" for name in EXPECTED)
        if files != wanted:
            faults.append(f"holds {files}, not {wanted}")
        for name in files:
            data = z.read(name)
            if name.endswith(".exe"):
                if machine(data) != MACHINES[arch]:
                    faults.append(f"{name}: machine {machine(data)!r}, not {arch}")
            else:
                text = data.decode("ascii")
                if text.count("\n") != text.count("\r\n") or "\r\n" not in text:
                    faults.append(f"{name}: not every line ends with CR LF")
                if "@" in text:
                    faults.append(f"{name}: an unfilled placeholder")
        readme = z.read(f"{folder}/README.txt").decode("ascii") if f"{folder}/README.txt" in files else ""
        for must in ("COM port", "quorvix.ini", "shell:startup", arch):
            if must not in readme:
                faults.append(f"README.txt does not mention {must}")
        ini = z.read(f"{folder}/quorvix.ini").decode("ascii") if f"{folder}/quorvix.ini" in files else ""
        for must in ("[Settings]", "Port=", "[Commands]", "; "):
            if must not in ini:
                faults.append(f"quorvix.ini lacks {must!r}")
    for fault in faults:
        print(f"{path}: {fault}")
    print(f"{path}: {len(files)} files checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))

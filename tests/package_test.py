#!/usr/bin/env python3
"""What a user downloads: the zip of one architecture holds, in one folder
named like the zip, the program, its two tools, a commented settings file
and a read-me, with Windows line ends, and every executable in it is of the
zip's architecture and imports only DLLs that Windows loads from its own
folder whatever lies beside the program (its known DLLs).  With --setup, the
setup program of the same architecture is of that architecture and carries
exactly the zip's files (read with 7z, which opens NSIS setups).
usage: package_test.py ZIP ARCH | package_test.py --setup SETUP ZIP ARCH"""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

MACHINES = {"x86": 0x014C, "x64": 0x8664}
# Known DLLs on every Windows from 7 to 11: a file of the same name beside
# the program is never loaded in their place.
KNOWN_DLLS = {"advapi32", "clbcatq", "comdlg32", "difxapi", "gdi32", "imagehlp", "imm32",
              "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi",
              "rpcrt4", "sechost", "setupapi", "shell32", "shlwapi", "user32", "wldap32", "ws2_32"}
EXPECTED = ["quorvix.exe", "quorvix-monitor.exe", "quorvix-check.exe", "quorvix.ini", "README.txt"]


def machine(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def imports(data):
    """The DLL names of the import directory, as dumpbin /imports lists them."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<HxxxxxxxxxxxxH", data, pe + 6)
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    table = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, _, raw = struct.unpack_from("<IIII", data, at + 8)
        table.append((rva, size, raw))

    def offset(rva):
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} is in no section")

    names, at = [], offset(import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, at + 12)[0]
        if name_rva == 0:
            return names
        name = offset(name_rva)
        names.append(data[name:data.index(b"\0", name)].decode("ascii"))
        at += 20


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
                planted = [d for d in imports(data) if d.lower()[:-4] not in KNOWN_DLLS]
                if planted:
                    faults.append(f"{name}: imports {planted}, which a DLL beside it would replace")
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


def check_setup(setup, path, arch):
    faults = []
    with open(setup, "rb") as f:
        if machine(f.read(4096)) != MACHINES[arch]:
            faults.append(f"the setup program itself is not {arch}")
    folder = os.path.basename(path)[:-len(".zip")]
    with tempfile.TemporaryDirectory() as out, zipfile.ZipFile(path) as z:
        run = subprocess.run(["7z", "x", "-y", f"-o{out}", setup] + EXPECTED,
                             capture_output=True, text=True)
        if run.returncode != 0:
            faults.append(f"7z could not read it: {run.stdout[-300:]} {run.stderr[-300:]}")
        for name in EXPECTED:
            carried = os.path.join(out, name)
            if not os.path.exists(carried):
                faults.append(f"does not carry {name}")
                continue
            with open(carried, "rb") as f:
                data = f.read()
            if name.endswith(".exe") and machine(data) != MACHINES[arch]:
                faults.append(f"{name}: machine {machine(data)!r}, not {arch}")
            if data != z.read(f"{folder}/{name}"):
                faults.append(f"{name} differs from the zip's")
    for fault in faults:
        print(f"{setup}: {fault}")
    print(f"{setup}: {len(EXPECTED)} files checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    if sys.argv[1] == "--setup":
        sys.exit(check_setup(sys.argv[2], sys.argv[3], sys.argv[4]))
    sys.exit(main(sys.argv[1], sys.argv[2]))

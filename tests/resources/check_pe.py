#!/usr/bin/env python3
"""Reads a built Windows program and checks what can be known without running it.

  check_pe.py EXE --machine i386|amd64 --subsystem gui|console [--level requireAdministrator]
              [--images DIR] [--no-firmware]

Checks: the PE machine and format (PE32 for i386, PE32+ for amd64), the subsystem, that every
imported DLL ships with Windows (a static build), the manifest's execution level and
architecture, the version resource, the icon group, and the four "FW" firmware resources (names,
sizes, language 1028 and, with --images, their bytes). Exit 0 when all hold; otherwise 1 with
one line per failed check.
"""
import argparse
import os
import struct
import sys

SYSTEM_DLLS = {d.lower() for d in (
    "ADVAPI32.dll", "COMCTL32.dll", "COMDLG32.dll", "GDI32.dll", "KERNEL32.dll", "msvcrt.dll",
    "ole32.dll", "OLEAUT32.dll", "SETUPAPI.dll", "SHELL32.dll", "USER32.dll", "VERSION.dll",
    "WS2_32.dll")}
MACHINES = {"i386": (0x014C, 0x10B, "X86"), "amd64": (0x8664, 0x20B, "amd64")}
SUBSYSTEMS = {"gui": 2, "console": 3}
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100
FIRMWARE = ["QVB886_FW", "QVB886_FW_133_01_00_02", "QVB886_FW_133_01_00_03",
            "QVB886_FW_133_01_00_06"]
FIRMWARE_SIZE = 67072
FIRMWARE_LANGUAGE = 1028
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class PeError(Exception):
    pass


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise PeError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        self.subsystem = self.u16(opt + 68)
        self.dll_characteristics = self.u16(opt + 70)
        directories = opt + (96 if self.magic == 0x10B else 112)
        count = self.u32(directories - 4)
        self.dirs = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)]
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            _, vsize, va, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((va, max(vsize, raw_size), raw))

    def u16(self, off):
        return struct.unpack_from("<H", self.data, off)[0]

    def u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise PeError(f"RVA {rva:#x} is in no section")

    def cstring(self, rva):
        off = self.offset(rva)
        return self.data[off:self.data.index(b"\0", off)].decode("ascii")

    def imports(self):
        rva, size = self.dirs[1]
        if not rva:
            return []
        names, off = [], self.offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, off)
            if not any(entry):
                return names
            names.append(self.cstring(entry[3]))
            off += 20

    def resources(self):
        """{(type, name): {language: bytes}}; ids are ints, names are str."""
        rva, _ = self.dirs[2]
        if not rva:
            return {}
        base = self.offset(rva)

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, base + off + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + off + 16 + 8 * i)
                if key & 0x80000000:
                    at = base + (key & 0x7FFFFFFF)
                    length = self.u16(at)
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for rtype, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(n & 0x7FFFFFFF):
                    data_rva, size = struct.unpack_from("<II", self.data, base + leaf)
                    off = self.offset(data_rva)
                    found.setdefault((rtype, name), {})[lang] = self.data[off:off + size]
        return found


def check(args):
    with open(args.exe, "rb") as f:
        pe = Pe(f.read())
    failures = []

    def expect(ok, what):
        if not ok:
            failures.append(what)

    machine, magic, manifest_arch = MACHINES[args.machine]
    expect(pe.machine == machine, f"PE machine {pe.machine:#06x}, expected {machine:#06x} ({args.machine})")
    expect(pe.magic == magic, f"optional header magic {pe.magic:#x}, expected {magic:#x}")
    expect(pe.subsystem == SUBSYSTEMS[args.subsystem],
           f"subsystem {pe.subsystem}, expected {SUBSYSTEMS[args.subsystem]} ({args.subsystem})")

    # ASLR and DEP: a program that runs elevated keeps both.
    for flag, what in ((DYNAMIC_BASE, "DYNAMIC_BASE (ASLR)"), (NX_COMPAT, "NX_COMPAT (DEP)")):
        expect(pe.dll_characteristics & flag, f"DllCharacteristics {pe.dll_characteristics:#06x} lack {what}")
    if args.stripped:
        expect(pe.symbols == 0 and pe.symbol_table == 0,
               f"not stripped: {pe.symbols} COFF symbols at {pe.symbol_table:#x}")

    dlls = pe.imports()
    expect("kernel32.dll" in (d.lower() for d in dlls), f"imports no KERNEL32.dll: {dlls}")
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    expect(not foreign, f"imports DLLs Windows does not ship (not a static build): {foreign}")

    res = pe.resources()
    manifest = res.get((RT_MANIFEST, 1), {})
    expect(len(manifest) == 1, f"one manifest resource with id 1 expected, found {sorted(manifest)}")
    text = b"".join(manifest.values()).decode("utf-8", "replace")
    expect(f'level="{args.level}"' in text, f"manifest lacks requestedExecutionLevel {args.level}")
    expect(f'processorArchitecture="{manifest_arch}"' in text,
           f'manifest lacks processorArchitecture="{manifest_arch}"')

    version = b"".join(res.get((RT_VERSION, 1), {}).values())
    fixed = version.find(struct.pack("<I", 0xFEEF04BD))
    expect(fixed >= 0, "no version resource with VS_FIXEDFILEINFO")
    if fixed >= 0:
        ms, ls = struct.unpack_from("<II", version, fixed + 8)
        expect((ms, ls) == (0x00010000, 0), f"file version {ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}, expected 1.0.0.0")
    for key, value in (("FileDescription", "QVB886 FW Updater"), ("ProductVersion", "1.0.0.0")):
        expect((key + "\0").encode("utf-16-le") in version and value.encode("utf-16-le") in version,
               f"version resource lacks {key} = {value}")
    if args.build_kind:
        # A test build says so where Explorer shows the description; a release build does not.
        marked = "test build".encode("utf-16-le") in version
        expect(marked == (args.build_kind == "test"),
               f"the description {'lacks' if not marked else 'carries'} \"test build\" in a {args.build_kind} build")

    if args.subsystem == "gui":
        groups = [k for k in res if k[0] == RT_GROUP_ICON]
        expect(groups == [(RT_GROUP_ICON, "MAINICON")], f"icon groups {groups}, expected MAINICON")
        for group in groups:
            header = b"".join(res[group].values())
            count = struct.unpack_from("<H", header, 4)[0]
            sizes = []
            for i in range(count):
                width, _, _, _, _, _, _, icon_id = struct.unpack_from("<BBBBHHIH", header, 6 + 14 * i)
                sizes.append(width or 256)
                expect((RT_ICON, icon_id) in res, f"icon {icon_id} of the group is missing")
            expect(sorted(sizes) == [16, 32, 48, 128, 256], f"icon sizes {sorted(sizes)}, expected 16, 32, 48, 128, 256")

    if not args.no_firmware:
        images = {name: langs for (rtype, name), langs in res.items() if rtype == "FW"}
        expect(sorted(images) == sorted(FIRMWARE), f'"FW" resources {sorted(images)}, expected {FIRMWARE}')
        for name, langs in sorted(images.items()):
            expect(list(langs) == [FIRMWARE_LANGUAGE], f"{name}: languages {list(langs)}, expected [{FIRMWARE_LANGUAGE}]")
            for data in langs.values():
                expect(len(data) == FIRMWARE_SIZE, f"{name}: {len(data)} bytes, expected {FIRMWARE_SIZE}")
                if args.images:
                    with open(os.path.join(args.images, name + ".bin"), "rb") as f:
                        expect(data == f.read(), f"{name}: the carried bytes differ from the built image")
    return failures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--subsystem", choices=sorted(SUBSYSTEMS), required=True)
    parser.add_argument("--level", default="requireAdministrator")
    parser.add_argument("--images")
    parser.add_argument("--no-firmware", action="store_true")
    parser.add_argument("--build-kind", choices=["test", "release"])
    parser.add_argument("--stripped", action="store_true", help="no COFF symbol table (a release)")
    args = parser.parse_args()
    try:
        failures = check(args)
    except (PeError, struct.error, ValueError, IndexError) as e:
        failures = [f"unreadable PE file: {e}"]
    for line in failures:
        print(f"{args.exe}: {line}")
    if not failures:
        print(f"{args.exe}: {args.machine} PE, {args.subsystem}, system DLLs only, resources as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

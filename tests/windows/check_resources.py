#!/usr/bin/env python3
"""Reads the resource section of a Windows executable and checks that it
carries the launcher's resources: the icon group IDI_MAINICON (with its
icons), a version record with file version 0.0.0.1, and an application
manifest that requests the execution level asInvoker.

usage: check_resources.py EXECUTABLE"""
import struct
import sys

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resources(image):
    """{(type, name): data} for every resource of a PE image; type and name
    are numbers or strings, the first language of each is taken."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, directories + 2 * 8)
    if rsrc_size == 0:
        return {}
    table = optional + optional_size
    section_list = [struct.unpack_from("<8sIIII", image, table + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, virtual_size, address, raw_size, raw_pointer in section_list:
            if address <= rva < address + max(virtual_size, raw_size):
                return rva - address + raw_pointer
        raise ValueError("RVA outside every section")

    base = offset(rsrc_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<12xHH", image, base + directory)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", image, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                name = image[start:start + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for type_id, type_target in entries(0):
        for name, name_target in entries(type_target & 0x7FFFFFFF):
            languages = list(entries(name_target & 0x7FFFFFFF))
            leaf = languages[0][1]
            data_rva, size = struct.unpack_from("<II", image, base + leaf)
            found[(type_id, name)] = image[offset(data_rva):offset(data_rva) + size]
    return found


def check(path):
    with open(path, "rb") as source:
        found = resources(source.read())
    problems = []

    group = found.get((RT_GROUP_ICON, "IDI_MAINICON"))
    if group is None:
        problems.append("no icon group named IDI_MAINICON")
    else:
        count = struct.unpack_from("<H", group, 4)[0]
        icon_ids = [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]
        missing = [i for i in icon_ids if (RT_ICON, i) not in found]
        if count == 0 or missing:
            problems.append("icon group IDI_MAINICON lacks its icons %s" % missing)

    versions = [data for (kind, _), data in found.items() if kind == RT_VERSION]
    if not versions:
        problems.append("no version record")
    else:
        record = versions[0]
        fixed = record.find(struct.pack("<I", 0xFEEF04BD))
        if fixed < 0 or struct.unpack_from("<II", record, fixed + 8) != (0, 1):
            problems.append("fixed file version is not 0.0.0.1")
        if "FileVersion\0\0" not in record.decode("utf-16-le", "replace") or \
                "0.0.0.1".encode("utf-16-le") not in record:
            problems.append("no FileVersion string 0.0.0.1")

    manifest = found.get((RT_MANIFEST, 1), b"")
    if b'level="asInvoker"' not in manifest:
        problems.append("no application manifest requesting asInvoker")

    for problem in problems:
        print("%s: %s" % (path, problem))
    if not problems:
        print("%s: icon group IDI_MAINICON (%d icons), file version 0.0.0.1, manifest asInvoker" % (path, count))
    return not problems


if __name__ == "__main__":
    sys.exit(0 if check(sys.argv[1]) else 1)

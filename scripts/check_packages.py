#!/usr/bin/env python3
"""Checks the release packages that `cmake --build --preset P --target package`
makes, as a player would get them:

  windows  build/windows/packages/wyprawy-VERSION-win64.zip: exactly
           wyprawy.exe, CZYTAJ.txt and LICENSE.txt; the .exe stripped,
           importing only system DLLs, with the project's version in its
           version resource and manifest; the guide as Notepad shows it
           (UTF-8 with a byte-order mark, CR LF).
  linux    build/linux/packages/wyprawy_VERSION_amd64.deb and
           wyprawy-VERSION-linux-x86_64.tar.gz: the program, its launcher,
           the desktop entry and the guide; the dependencies found from the
           binary.
  guide    CZYTAJ.txt (as packaged) and README.md explain every message of
           the program (src/model/texts.cpp).

    scripts/check_packages.py [windows|linux|guide ...]    (default: all)

The version is read from CMakeLists.txt. Only the standard library is used,
plus dpkg-deb and readelf. Exits non-zero on the first failed check.
"""

import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# DLLs that every Windows from 7 on has in its system folder. Anything else
# (libstdc++-6.dll, libwinpthread-1.dll, ...) would have to ship beside the .exe.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "ws2_32.dll", "msvcrt.dll",
    "advapi32.dll", "secur32.dll", "crypt32.dll", "bcrypt.dll", "ncrypt.dll", "shell32.dll",
    "ole32.dll", "shlwapi.dll",
}

# Functions that came with Windows 8.1 or 10: imported, they would keep the
# program from starting on Windows 7, so they are looked up at run time.
LATER_FUNCTIONS = {
    "GetDpiForWindow", "GetDpiForSystem", "AdjustWindowRectExForDpi", "GetSystemMetricsForDpi",
    "SystemParametersInfoForDpi", "SetProcessDpiAwarenessContext", "SetThreadDpiAwarenessContext",
    "GetDpiForMonitor", "EnableNonClientDpiScaling",
}

SUPPORTED_OS = {
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


class CheckFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    found = re.search(r"project\(\s*wyprawy\s+VERSION\s+(\d+\.\d+\.\d+)", text)
    check(found is not None, "no project(wyprawy VERSION x.y.z) in CMakeLists.txt")
    return found.group(1)


# ---------------------------------------------------------------------------
# PE files: imports, symbols, resources
# ---------------------------------------------------------------------------


class PeFile:
    def __init__(self, data):
        self.data = data
        check(data[:2] == b"MZ", "not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", "no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbol_count, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        check(magic == 0x20B, "not a 64-bit (PE32+) executable")
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directory_count = struct.unpack_from("<I", data, optional + 108)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(directory_count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), raw))

    def offset(self, rva):
        for _, vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise CheckFailed(f"address {rva:#x} in no section")

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{DLL name: [function names]} of the import table."""
        rva, size = self.directories[1]
        found = {}
        if size == 0:
            return found
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == name == thunks == 0:
                return found
            functions = found.setdefault(self.cstring(name), [])
            entry = self.offset(lookup or thunks)
            while (value := struct.unpack_from("<Q", self.data, entry)[0]) != 0:
                functions.append(f"#{value & 0xFFFF}" if value >> 63 else self.cstring((value & 0x7FFFFFFF) + 2))
                entry += 8
            at += 20

    def resources(self):
        """{(type, name, language): bytes} of the resource tree."""
        rva, size = self.directories[2]
        check(size > 0, "no resources")
        base = self.offset(rva)
        found = {}

        def walk(directory, path):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                key = path + (ident if not ident & 0x80000000 else f"name@{ident & 0x7FFFFFFF:#x}",)
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, key)
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[key] = self.data[start:start + data_size]

        walk(0, ())
        return found


def parse_version_info(block):
    """(fixed file version, fixed product version, {translation: {key: value}},
    translations) of a VS_VERSIONINFO resource."""

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        key_start = at + 6
        key_end = key_start
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[key_start:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        return length, value_length, kind, key, value_at

    def children(start, end):
        at = (start + 3) & ~3
        while at < end:
            length = struct.unpack_from("<H", block, at)[0]
            if length == 0:
                break
            yield at
            at = (at + length + 3) & ~3

    length, value_length, _, key, value_at = node(0)
    check(key == "VS_VERSION_INFO", f"version resource key {key!r}")
    signature, _, fv_ms, fv_ls, pv_ms, pv_ls = struct.unpack_from("<IIIIII", block, value_at)
    check(signature == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    split = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)  # noqa: E731
    strings, translations = {}, []
    for child in children(value_at + value_length, length):
        c_length, _, _, c_key, c_value = node(child)
        if c_key == "StringFileInfo":
            for table in children(c_value, child + c_length):
                t_length, _, _, t_key, t_value = node(table)
                values = strings.setdefault(t_key.upper(), {})
                for entry in children(t_value, table + t_length):
                    e_length, e_value_length, _, e_key, e_value = node(entry)
                    text = block[e_value:e_value + 2 * e_value_length].decode("utf-16-le")
                    values[e_key] = text.rstrip("\0")
        elif c_key == "VarFileInfo":
            for var in children(c_value, child + c_length):
                v_length, v_value_length, _, v_key, v_value = node(var)
                if v_key == "Translation":
                    for i in range(0, v_value_length, 4):
                        translations.append(struct.unpack_from("<HH", block, v_value + i))
    return split(fv_ms, fv_ls), split(pv_ms, pv_ls), strings, translations


def check_exe(data, version):
    pe = PeFile(data)
    check(pe.machine == 0x8664, f"machine {pe.machine:#x}, not x86-64")
    check(pe.subsystem == 2, f"subsystem {pe.subsystem}, not a GUI program (2)")
    check(pe.symbol_table == 0 and pe.symbol_count == 0, "wyprawy.exe is not stripped (COFF symbols)")
    check(not any(name.startswith(".debug") for name, *_ in pe.sections), "wyprawy.exe holds debug sections")
    imports = pe.imports()
    dlls = list(imports)
    foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
    check(not foreign, f"wyprawy.exe imports DLLs that are not Windows' own: {foreign}")
    later = sorted(LATER_FUNCTIONS.intersection(f for functions in imports.values() for f in functions))
    check(not later, f"wyprawy.exe imports functions that Windows 7 lacks: {later}")

    resources = pe.resources()
    versions = [v for k, v in resources.items() if k[0] == 16]
    check(len(versions) == 1, f"{len(versions)} version resources")
    numbers = tuple(int(n) for n in version.split(".")) + (0,)
    file_version, product_version, strings, translations = parse_version_info(versions[0])
    check(file_version == numbers, f"fixed file version {file_version}, project {numbers}")
    check(product_version == numbers, f"fixed product version {product_version}, project {numbers}")
    check(translations == [(0x0415, 1200)], f"translations {translations}, expected Polish + Unicode")
    table = strings.get("041504B0")
    check(table is not None, f"no Polish Unicode string table (have {list(strings)})")
    expected = {"ProductName": "Wyprawy", "FileVersion": version, "ProductVersion": version,
                "OriginalFilename": "wyprawy.exe"}
    for key, value in expected.items():
        check(table.get(key) == value, f"version resource {key}: {table.get(key)!r}, expected {value!r}")
    description = table.get("FileDescription", "")
    check(re.search("[ąćęłńóśźż]", description), f"FileDescription {description!r} is not Polish")

    manifests = [v for k, v in resources.items() if k[0] == 24]
    check(len(manifests) == 1, f"{len(manifests)} manifests")
    manifest = manifests[0].decode("utf-8")
    own = re.search(r'<assemblyIdentity[^>]*name="Wyprawy"[^>]*version="([\d.]+)"', manifest)
    check(own and own.group(1) == version + ".0", f"manifest version {own and own.group(1)}, project {version}")
    check('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in manifest, "no common controls 6")
    for system, guid in SUPPORTED_OS.items():
        check(f'Id="{guid}"' in manifest, f"manifest does not name {system} as supported")
    check(">true/pm</dpiAware>" in manifest, "manifest: dpiAware is not true/pm")
    check(re.search(r">PerMonitorV2\b[^<]*</dpiAwareness>", manifest), "manifest: no PerMonitorV2 dpiAwareness")
    return dlls, description


def check_notepad_text(data, name):
    """UTF-8 with a byte-order mark and CR LF line ends: what Notepad shows
    right on every Windows, back to 7."""
    check(data.startswith(b"\xef\xbb\xbf"), f"{name} has no UTF-8 byte-order mark")
    check(data.count(b"\n") > 0 and data.count(b"\n") == data.count(b"\r\n"), f"{name}: not every line ends in CR LF")
    check(data.count(b"\r") == data.count(b"\r\n"), f"{name}: a CR without LF")
    return data[3:].decode("utf-8").replace("\r\n", "\n")


def check_windows(version):
    path = ROOT / "build" / "windows" / "packages" / f"wyprawy-{version}-win64.zip"
    check(path.is_file(), f"missing {path} (cmake --build --preset windows-cross --target package)")
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        check(names == ["CZYTAJ.txt", "LICENSE.txt", "wyprawy.exe"], f"the zip holds {names}")
        exe = archive.read("wyprawy.exe")
        guide = check_notepad_text(archive.read("CZYTAJ.txt"), "CZYTAJ.txt")
        licence = check_notepad_text(b"\xef\xbb\xbf" + archive.read("LICENSE.txt"), "LICENSE.txt")
    check("MIT License" in licence, "LICENSE.txt is not the licence")
    check(f"Wyprawy {version}" in guide, f"CZYTAJ.txt does not name version {version}")
    check(f"wyprawy-{version}-win64.zip" in guide, "CZYTAJ.txt does not name the zip")
    dlls, description = check_exe(exe, version)
    print(f"windows: {path.name}, {path.stat().st_size} bytes: {', '.join(names)}")
    print(f"         wyprawy.exe {len(exe)} bytes, imports {', '.join(dlls)}; \"{description}\" {version}")
    return guide


# ---------------------------------------------------------------------------
# Linux packages
# ---------------------------------------------------------------------------

LINUX_FILES = ["bin/wyprawy", "bin/wyprawy-start", "share/applications/wyprawy.desktop",
               "share/doc/wyprawy/CZYTAJ.txt", "share/doc/wyprawy/copyright"]


def run(args):
    result = subprocess.run(args, capture_output=True, text=True)
    check(result.returncode == 0, f"{' '.join(map(str, args))} failed: {result.stderr.strip()}")
    return result.stdout


def check_elf_stripped(path):
    sections = run(["readelf", "-S", "-W", str(path)])
    check(".symtab" not in sections and ".debug_info" not in sections, f"{path.name} is not stripped")


def check_desktop_entry(text):
    lines = text.splitlines()
    check(lines[0] == "[Desktop Entry]", "the desktop entry does not start with [Desktop Entry]")
    entry = dict(line.split("=", 1) for line in lines[1:] if "=" in line)
    check(entry.get("Type") == "Application", "desktop entry Type")
    check(entry.get("Exec") == "wyprawy-start", f"desktop entry Exec={entry.get('Exec')!r}, expected the launcher")
    check(entry.get("Terminal") == "false", "desktop entry Terminal")
    check(re.search("[ąćęłńóśźż]", entry.get("Comment", "")), "desktop entry Comment is not Polish")


def check_launcher(text):
    check(text.startswith("#!/bin/sh\n"), "the launcher is no sh script")
    check('"$HOME/Wyprawy"' in text.replace("${HOME:?}", "$HOME"), "the launcher does not use ~/Wyprawy")
    check("mkdir -p" in text and "cd " in text and "exec " in text, "the launcher does not make, enter and exec")


def check_linux(version):
    folder = ROOT / "build" / "linux" / "packages"
    deb = folder / f"wyprawy_{version}_amd64.deb"
    tgz = folder / f"wyprawy-{version}-linux-x86_64.tar.gz"
    for path in (deb, tgz):
        check(path.is_file(), f"missing {path} (cmake --build --preset linux --target package)")

    listing = run(["dpkg-deb", "-c", str(deb)])
    deb_files = sorted(line.split()[-1].removeprefix("./usr/") for line in listing.splitlines()
                       if not line.startswith("d"))
    check(deb_files == sorted(LINUX_FILES), f"the .deb holds {deb_files}")
    check(re.search(r"^-rwxr-xr-x .* \./usr/bin/wyprawy-start$", listing, re.M), "launcher not executable in the .deb")
    fields = {name: run(["dpkg-deb", "-f", str(deb), name]).strip() for name in ("Package", "Version", "Depends")}
    check(fields["Package"] == "wyprawy" and fields["Version"] == version, f"package fields {fields}")
    depends = fields["Depends"]
    for library in ("libc6", "libgtk-3-0", "libstdc++6"):
        check(re.search(rf"\b{re.escape(library)}\b", depends), f".deb Depends lacks {library}: {depends}")

    with tempfile.TemporaryDirectory() as unpacked:
        run(["dpkg-deb", "-x", str(deb), unpacked])
        usr = Path(unpacked) / "usr"
        check_elf_stripped(usr / "bin" / "wyprawy")
        check_desktop_entry((usr / "share/applications/wyprawy.desktop").read_text())
        check_launcher((usr / "bin/wyprawy-start").read_text())
        validate = subprocess.run(["desktop-file-validate", str(usr / "share/applications/wyprawy.desktop")],
                                  capture_output=True, text=True)
        check(validate.returncode == 0 and not validate.stdout.strip(),
              f"desktop-file-validate: {validate.stdout.strip()} {validate.stderr.strip()}")
        guide = (usr / "share/doc/wyprawy/CZYTAJ.txt").read_text(encoding="utf-8")

    top = f"wyprawy-{version}-linux-x86_64"
    with tarfile.open(tgz) as archive:
        members = {m.name: m for m in archive.getmembers() if not m.isdir()}
        check(sorted(members) == sorted(f"{top}/{f}" for f in LINUX_FILES), f"the .tar.gz holds {sorted(members)}")
        for program in ("bin/wyprawy", "bin/wyprawy-start"):
            check(members[f"{top}/{program}"].mode & 0o111, f"{program} not executable in the .tar.gz")
        tar_program = archive.extractfile(f"{top}/bin/wyprawy").read()
    check(tar_program.startswith(b"\x7fELF"), "the .tar.gz program is no ELF file")
    print(f"linux:   {deb.name}, {deb.stat().st_size} bytes; {tgz.name}, {tgz.stat().st_size} bytes: "
          f"{', '.join(LINUX_FILES)}")
    print(f"         Depends: {depends}")
    return guide


# ---------------------------------------------------------------------------
# The guide
# ---------------------------------------------------------------------------


def program_messages():
    """The texts of message boxes and ResultLabel from texts.cpp, as the
    pieces a reader sees (the summary's fixed parts, line by line)."""
    source = (ROOT / "src" / "model" / "texts.cpp").read_text(encoding="utf-8")
    entries = re.findall(r'const std::string (\w+) = w\("((?:[^"\\]|\\.)*)"\);', source)
    names = [name for name, _ in entries]
    check("FatalTitle" in names, "texts.cpp: no FatalTitle")
    pieces = []
    for name, text in entries[names.index("FatalTitle"):]:
        for part in text.split("\\n"):
            part = part.strip(" ,%")
            if part:
                pieces.append((name, part))
    return pieces


def check_guide(guides):
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    version = project_version()
    quoted = set(re.findall(r"VERSION (\d+\.\d+\.\d+)", readme))
    check(quoted == {version}, f"README quotes version {quoted}, CMakeLists.txt says {version}")
    named = set(re.findall(r"wyprawy[-_](\d+\.\d+\.\d+)[-_]", readme))
    check(named <= {version}, f"README names packages of version {named - {version}}, CMakeLists.txt says {version}")
    polish = readme.split("\n# wyprawy\n", 1)[0]
    check("konta.txt" in polish and "https" in polish, "README's Polish part lacks konta.txt or the https note")
    sources = {"README.md": readme, **guides}
    pieces = program_messages()
    for doc, text in sources.items():
        missing = sorted({part for _, part in pieces if part not in text})
        check(not missing, f"{doc} does not explain: {missing}")
    print(f"guide:   {len(pieces)} message texts explained in {', '.join(sources)}")


def main(argv):
    wanted = argv[1:] or ["windows", "linux", "guide"]
    version = project_version()
    guides = {}
    try:
        if "windows" in wanted:
            guides["CZYTAJ.txt (zip)"] = check_windows(version)
        if "linux" in wanted:
            guides["CZYTAJ.txt (.deb)"] = check_linux(version)
        if "guide" in wanted:
            if not guides:
                guides["packaging/CZYTAJ.txt"] = (ROOT / "packaging" / "CZYTAJ.txt").read_text(encoding="utf-8")
            check_guide(guides)
    except CheckFailed as failure:
        print(f"package check failed: {failure}")
        return 1
    print("packages: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

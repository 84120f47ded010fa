#!/usr/bin/python3
"""Reads the built Kavoni.exe back and checks what Windows shows of it: the version record,
the icon, the application manifest, that it starts on Windows 7 SP1 (its header, and every
import reviewed in windows7_imports.txt beside this script), that it needs no DLL beyond
Windows' own, and its hardening. Either architecture's program.

usage: check_exe.py VERSION NUMERIC_VERSION KAVONI.EXE
       check_exe.py --installer VERSION NUMERIC_VERSION SETUP.EXE   the installer's record and icon

VERSION is the one users see (1.01), NUMERIC_VERSION the four numbers of the record (1.1.0.0).
"""
import os
import sys
import xml.etree.ElementTree as ElementTree

import pefile

faults = []


def expect(condition, fault):
    if not condition:
        faults.append(fault)


def resources(pe, kind):
    """The data of every resource of the given type, in the order the file lists them."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if entry.id != kind:
            continue
        for name in entry.directory.entries:
            for language in name.directory.entries:
                rva, size = language.data.struct.OffsetToData, language.data.struct.Size
                yield name, pe.get_data(rva, size)


def version_strings(pe):
    """The version record's strings, and the language and code page of each of its tables."""
    strings = {}
    languages = []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            for table in info.StringTable:
                languages.append(table.LangID)
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings, languages


def numbers_of(ms, ls):
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_installer(pe, version, numeric):
    """The installer names the product and its version, and shows the program's icon."""
    if not hasattr(pe, "FileInfo"):
        faults.append("no version record")
        return
    strings, _ = version_strings(pe)
    for key, value in (("ProductName", "Kavoni"), ("ProductVersion", version),
                       ("FileVersion", version)):
        expect(strings.get(key) == value, f"installer field {key} is {strings.get(key)!r}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = numbers_of(fixed.ProductVersionMS, fixed.ProductVersionLS)
    expect(numbers == numeric, f"numeric product version {numbers}")
    # One installer for both programs, which runs on 32-bit Windows too.
    expect(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"],
           "not a 32-bit installer")
    expect(any(True for _ in resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"])), "no icon")


def check_version(pe, version, numeric):
    if not hasattr(pe, "FileInfo") or not hasattr(pe, "VS_FIXEDFILEINFO"):
        faults.append("no version record")
        return
    strings, languages = version_strings(pe)
    for language in languages:
        expect(language == b"040904B0", f"string table {language}")
    translations = [value for info in pe.FileInfo[0] if info.Key == b"VarFileInfo"
                    for var in info.Var for value in var.entry.values()]
    wanted = {
        "Comments": "A program that designs sprites for ION for the TI-83 and the TI-83+. "
        "Click the checkboxes, enter a name, click Make Sprite, Save as a .txt file, "
        "important into Asm program",
        "FileDescription": "A WIN-32 .EXE",
        "FileVersion": version,
        "ProductVersion": version,
        "ProductName": "Kavoni",
        "InternalName": "Kavoni",
        "OriginalFilename": "Kavoni.exe",
    }
    for key, value in wanted.items():
        expect(strings.get(key) == value, f"version field {key} is {strings.get(key)!r}")
    expect(translations == ["0x0409 0x04b0"], f"translations {translations}")
    fixed = pe.VS_FIXEDFILEINFO[0]
    for what, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                         ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        numbers = numbers_of(ms, ls)
        expect(numbers == numeric, f"numeric {what} version {numbers}")
    expect(fixed.FileOS == 0x4 and fixed.FileType == 0x1, "not a Win32 application record")


def check_icon(pe):
    groups = list(resources(pe, pefile.RESOURCE_TYPE["RT_GROUP_ICON"]))
    expect(len(groups) >= 1, "no icon")
    if not groups:
        return
    data = groups[0][1]
    count = int.from_bytes(data[4:6], "little")
    images = []
    for i in range(count):
        entry = data[6 + 14 * i: 6 + 14 * (i + 1)]
        images.append((entry[0], entry[1], entry[2], int.from_bytes(entry[6:8], "little")))
    # 32 x 32 and 16 x 16 in 16 colours, 32 x 32 in 2 colours.
    expect(images == [(32, 32, 16, 4), (16, 16, 16, 4), (32, 32, 2, 1)],
           f"the first icon holds {images}")
    expect(len(list(resources(pe, pefile.RESOURCE_TYPE["RT_ICON"]))) == count,
           "an icon image is missing")


# The manifest's name for each machine of the PE header.
ARCHITECTURES = {
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]: "amd64",
    pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]: "x86",
}

# Windows 7, 8, 8.1 and 10 (which 11 shares), as the compatibility section names them.
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}


def check_manifest(pe):
    manifests = [(name.id, data) for name, data in resources(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"])]
    expect([i for i, _ in manifests] == [1], f"manifests {[i for i, _ in manifests]}")
    if not manifests:
        return
    root = ElementTree.fromstring(manifests[0][1])
    elements = list(root.iter())

    def named(tag):
        return [element for element in elements if element.tag.split("}")[-1] == tag]

    def text(tag):
        found = named(tag)
        return (found[0].text or "").strip() if found else ""

    identity = [element.attrib for element in root if element.tag.endswith("assemblyIdentity")]
    wanted = ARCHITECTURES.get(pe.FILE_HEADER.Machine)
    expect(identity and identity[0].get("processorArchitecture") == wanted,
           f"the manifest names architecture {identity and identity[0].get('processorArchitecture')}"
           f" for a program built for {wanted}")
    # Windows 10 1703 and later read dpiAwareness, whose first entry they know; 1607 the next;
    # 8.1 and earlier dpiAware, where true/pm is per-monitor on 8.1 and system-aware before.
    awareness = [entry.strip() for entry in text("dpiAwareness").split(",")]
    expect(awareness[:2] == ["PerMonitorV2", "PerMonitor"],
           f"dpiAwareness is {awareness}, not PerMonitorV2 then PerMonitor")
    expect(text("dpiAware").lower() == "true/pm", f"dpiAware is {text('dpiAware')!r}, not true/pm")
    expect(text("longPathAware").lower() == "true", "not long-path aware")
    supported = {element.attrib.get("Id", "").lower() for element in named("supportedOS")}
    expect(supported == SUPPORTED_OS, f"supportedOS lists {sorted(supported)}")
    expect(not named("activeCodePage"), "the process is opted into another code page")
    levels = [element.attrib for element in named("requestedExecutionLevel")]
    expect(levels == [{"level": "asInvoker", "uiAccess": "false"}], f"execution level {levels}")
    controls = [
        element.attrib for element in named("assemblyIdentity")
        if element.attrib.get("name") == "Microsoft.Windows.Common-Controls"
    ]
    expect(controls and controls[0].get("version") == "6.0.0.0", "no Common Controls 6")


# The minimum supported clients that windows7_imports.txt may give: Windows 7 and older, and
# msvcrt for the C runtime's entries, which Microsoft documents as a whole.
MINIMUMS = {"2000", "XP", "Vista", "7"}


def read_allowed(path):
    """The reviewed imports: {(dll, function)}; a line that gives a newer Windows, or none, is a
    fault of its own."""
    allowed = set()
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            fields = line.split("#")[0].split()
            if not fields:
                continue
            if len(fields) < 3:
                faults.append(f"{os.path.basename(path)}:{number}: not DLL, function, minimum")
                continue
            dll, function, minimum = fields[0].lower(), fields[1], fields[2]
            if not (minimum in MINIMUMS or (minimum == "msvcrt" and dll == "msvcrt.dll")):
                faults.append(f"{os.path.basename(path)}:{number}: {dll} {function} needs {minimum}")
                continue
            allowed.add((dll, function))
    return allowed


def check_imports(pe, allowed):
    system = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll", "advapi32.dll"}
    tables = list(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    # Delay-loaded imports are bound at their first call, and a missing one fails there.
    tables += list(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    imported = {entry.dll.decode().lower() for entry in tables}
    expect(imported <= system, f"imports beyond Windows' own: {sorted(imported - system)}")
    # The save dialog's libraries are loaded on the first press, and the accessibility ones on
    # a screen reader's first request, not at start-up.
    late = {"comdlg32.dll", "shell32.dll", "ole32.dll", "oleacc.dll", "oleaut32.dll"} & imported
    expect(not late, f"loaded at start-up: {sorted(late)}")
    for entry in tables:
        dll = entry.dll.decode().lower()
        for function in entry.imports:
            if function.name is None:
                faults.append(f"{dll} imported by ordinal {function.ordinal}, which nobody reviewed")
            elif (dll, function.name.decode()) not in allowed:
                faults.append(f"{dll} {function.name.decode()} is not among the imports reviewed "
                              "for Windows 7 SP1 (windows7_imports.txt)")
    expect(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
           "not a windowed program")
    # Windows 7 is 6.1: a header asking for more is refused by its loader.
    header = pe.OPTIONAL_HEADER
    for what, major, minor in (
            ("subsystem", header.MajorSubsystemVersion, header.MinorSubsystemVersion),
            ("operating system", header.MajorOperatingSystemVersion,
             header.MinorOperatingSystemVersion)):
        expect((major, minor) <= (6, 1), f"the header asks for {what} version {major}.{minor}")
    return sorted(imported)


def check_hardening(pe):
    """ASLR and DEP in the header (and 64-bit addresses for the 64-bit program), and the stack
    protector: libssp's report of a smashed stack is linked in only when a function compiled
    with the protector calls it."""
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    names = ["DYNAMIC_BASE", "NX_COMPAT"]
    if pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]:
        names.append("HIGH_ENTROPY_VA")
    for name in names:
        expect(flags & pefile.DLL_CHARACTERISTICS[f"IMAGE_DLLCHARACTERISTICS_{name}"],
               f"no {name} in the header")
    expect(pe.__data__.find(b"*** stack smashing detected ***") >= 0, "no stack protector")


def main():
    arguments = sys.argv[1:]
    installer = arguments[:1] == ["--installer"]
    if installer:
        arguments = arguments[1:]
    if len(arguments) != 3:
        sys.exit(__doc__)
    version, numeric, path = arguments
    numeric = tuple(int(number) for number in numeric.split("."))
    numeric += (0,) * (4 - len(numeric))
    if installer:
        check_installer(pefile.PE(path), version, numeric)
        for fault in faults:
            print("FAIL:", fault)
        sys.exit(1 if faults else 0)
    pe = pefile.PE(path)
    expect(pe.FILE_HEADER.Machine in ARCHITECTURES, f"built for machine {pe.FILE_HEADER.Machine:#x}")
    check_version(pe, version, numeric)
    check_icon(pe)
    check_manifest(pe)
    allowed = read_allowed(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                        "windows7_imports.txt"))
    imported = check_imports(pe, allowed)
    check_hardening(pe)
    for fault in faults:
        print("FAIL:", fault)
    if faults:
        sys.exit(1)
    print(f"{ARCHITECTURES[pe.FILE_HEADER.Machine]}: version record, icon, manifest and hardening "
          f"in place, header for Windows 7; every import reviewed, from {', '.join(imported)}")


if __name__ == "__main__":
    main()

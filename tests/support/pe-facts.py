#!/usr/bin/python3
# What the PE checks and the demo need to know of a Windows image, read with
# Debian's python3-pefile (never from a disassembler's text, whose wording
# changes between versions), one fact a line:
#   machine 0x01c0
#   subsystem <number> <major>.<minor>        the subsystem and its version
#   flags <name>...                           the DLL characteristics set
#   symbols <count>                           COFF symbols; sections .debug*
#   debug <section>                           count as symbols too
#   resource <type id>                        each top-level resource type
#   version <file version> <product version>     the version resource's fixed part
#   manifest <identity version> <level> <uiAccess>   the manifest resource
#   directory <name> <address> <size> inside|outside  each data directory in use
#   unlisted <library>   an import address table outside the IAT directory
#   import <library> <name or #ordinal>
#   exportname <the name the export table gives the library>
#   export <ordinal> <name, or - for a slot without one>
# The security directory holds a file offset, not an address: it is left out.
#   pe-facts.py <file>
import sys
import xml.etree.ElementTree as ElementTree

import pefile

pe = pefile.PE(sys.argv[1])
header = pe.OPTIONAL_HEADER
print("machine 0x%04x" % pe.FILE_HEADER.Machine)
print("subsystem %d %d.%d" % (header.Subsystem, header.MajorSubsystemVersion,
                              header.MinorSubsystemVersion))
print(" ".join(["flags"] + sorted(name.replace("IMAGE_DLLCHARACTERISTICS_", "")
                                  for name, value in pefile.dll_characteristics
                                  if header.DllCharacteristics & value)))
print("symbols %d" % pe.FILE_HEADER.NumberOfSymbols)
for section in pe.sections:
    name = section.Name.rstrip(b"\0").decode(errors="replace")
    if name.startswith(".debug"):
        print("debug", name)

def dotted(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

for info in getattr(pe, "VS_FIXEDFILEINFO", []):
    print("version", dotted(info.FileVersionMS, info.FileVersionLS),
          dotted(info.ProductVersionMS, info.ProductVersionLS))

asm = "{urn:schemas-microsoft-com:asm.v1}"
trust = "{urn:schemas-microsoft-com:asm.v3}"
resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
for kind in resources:
    print("resource", kind.id)
    if kind.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
        continue
    for name in kind.directory.entries:
        for language in name.directory.entries:
            data = language.data.struct
            root = ElementTree.fromstring(pe.get_data(data.OffsetToData, data.Size))
            identity = root.find(asm + "assemblyIdentity")
            level = root.find(".//" + trust + "requestedExecutionLevel")
            print("manifest",
                  identity.get("version") if identity is not None else "-",
                  level.get("level") if level is not None else "-",
                  level.get("uiAccess") if level is not None else "-")

size = header.SizeOfImage
iat = None
for entry in header.DATA_DIRECTORY:
    name = entry.name.replace("IMAGE_DIRECTORY_ENTRY_", "")
    if name == "SECURITY" or (entry.VirtualAddress == 0 and entry.Size == 0):
        continue
    inside = 0 < entry.VirtualAddress and entry.VirtualAddress + entry.Size <= size
    print("directory %s 0x%x 0x%x %s" % (name, entry.VirtualAddress, entry.Size,
                                         "inside" if inside else "outside"))
    if name == "IAT":
        iat = entry

# Each library's address table: one pointer an import and a null one.
width = 8 if header.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
    dll = library.dll.decode()
    for function in library.imports:
        print("import", dll, function.name.decode() if function.name else "#%d" % function.ordinal)
    start = library.struct.FirstThunk
    end = start + width * (len(library.imports) + 1)
    if iat is not None and (start < iat.VirtualAddress or end > iat.VirtualAddress + iat.Size):
        print("unlisted", dll)

if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
    exports = pe.DIRECTORY_ENTRY_EXPORT
    print("exportname", pe.get_string_at_rva(exports.struct.Name).decode())
    # Every slot of the address table that holds an address, by ordinal.
    for symbol in sorted(exports.symbols, key=lambda symbol: symbol.ordinal):
        print("export", symbol.ordinal, symbol.name.decode() if symbol.name else "-")

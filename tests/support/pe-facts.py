#!/usr/bin/python3
# What the PE checks need and objdump does not say, read with Debian's
# python3-pefile, one fact a line:
#   machine 0x01c0
#   version <file version> <product version>     the version resource's fixed part
#   manifest <identity version> <level> <uiAccess>   the manifest resource
#   directory <name> <address> <size> inside|outside  each data directory in use
#   unlisted <library>   an import address table outside the IAT directory
# The security directory holds a file offset, not an address: it is left out.
#   pe-facts.py <file>
import sys
import xml.etree.ElementTree as ElementTree

import pefile

pe = pefile.PE(sys.argv[1])
print("machine 0x%04x" % pe.FILE_HEADER.Machine)

def dotted(ms, ls):
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

for info in getattr(pe, "VS_FIXEDFILEINFO", []):
    print("version", dotted(info.FileVersionMS, info.FileVersionLS),
          dotted(info.ProductVersionMS, info.ProductVersionLS))

asm = "{urn:schemas-microsoft-com:asm.v1}"
trust = "{urn:schemas-microsoft-com:asm.v3}"
resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
for kind in resources:
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

size = pe.OPTIONAL_HEADER.SizeOfImage
iat = None
for entry in pe.OPTIONAL_HEADER.DATA_DIRECTORY:
    name = entry.name.replace("IMAGE_DIRECTORY_ENTRY_", "")
    if name == "SECURITY" or (entry.VirtualAddress == 0 and entry.Size == 0):
        continue
    inside = 0 < entry.VirtualAddress and entry.VirtualAddress + entry.Size <= size
    print("directory %s 0x%x 0x%x %s" % (name, entry.VirtualAddress, entry.Size,
                                         "inside" if inside else "outside"))
    if name == "IAT":
        iat = entry

# Each library's address table: one pointer an import and a null one.
width = 8 if pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS else 4
if iat is not None:
    for library in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        start = library.struct.FirstThunk
        end = start + width * (len(library.imports) + 1)
        if start < iat.VirtualAddress or end > iat.VirtualAddress + iat.Size:
            print("unlisted", library.dll.decode())

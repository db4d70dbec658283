#!/usr/bin/env python3
"""Generates dicom/model/VUXDicomLibCoreDictionary.cpp, the standard data dictionary compiled into
the DICOM library, from pydicom's data dictionary (pydicom/_dicom_dict.py, MIT licensed).

    python3 tools/gen_dicom_dictionary.py [--dict PATH/_dicom_dict.py] [--out PATH.cpp]

The generated file is committed, so that builds need no Python. Rules applied to pydicom's rows:

- Names are the attributes' names with the blanks taken out ("Patient's Name" -> "Patient'sName",
  "Samples per Pixel" -> "SamplesperPixel"), the library's long-standing keyword style.
- Every group gets its group length (gggg,0000) UL "1" when pydicom has none, so that a raw
  ACR-NEMA stream that starts with a group length is recognised. The items' group FFFE and the
  top-level groups FFFA and FFFC get none.
- The tags whose VR depends on the data around them (MULTI_VR below) leave the main table and
  form the multi-VR table, with their names only. Other tags that pydicom gives two VRs get one:
  "US or SS" -> US, "OB or OW" -> OW (the implicit-VR reading of such data).
- Rows the standard leaves without a name (retired, blank in the standard) keep an empty name.
- Items and delimiters (pydicom's VR "NONE") take the pseudo-VR "na".
- Repeating groups: the overlay (60xx), curve (50xx) and variable pixel data (7Fxx) groups are
  written out for each of their 16 even groups (xx = 00 to 1E). Repeaters whose element carries
  the pattern (1000,xxxY), (1010,xxxx), (0020,31xx), (0028,04xY), (0028,08xY), all retired
  ACR-NEMA compression attributes, are left out; such elements read as UN and keep their bytes.
"""

import argparse
import os
import sys

DEFAULT_DICT = "/usr/lib/python3/dist-packages/pydicom/_dicom_dict.py"
HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_OUT = os.path.join(HERE, "..", "dicom", "model", "VUXDicomLibCoreDictionary.cpp")

# The value representations the library knows: the classic 27, the pseudo-VR of items, and the
# seven later ones.
KNOWN_VRS = set(
    "AE AS AT CS DA DS DT FL FD IS LO LT PN SH SL SS ST TM UI UL US UT OB OW OF SQ UN na "
    "UC UR UV SV OD OL OV".split()
)

SINGLE_VR = {"US or SS": "US", "OB or OW": "OW", "NONE": "na"}

# Tags whose VR depends on context, with the names the library has always given them.
MULTI_VR = {
    0x00280071: "PerimeterValue",
    0x00280104: "SmallestValidPixelValue",
    0x00280105: "LargestValidPixelValue",
    0x00280106: "SmallestImagePixelValue",
    0x00280107: "LargestImagePixelValue",
    0x00280108: "SmallestPixelValueinSeries",
    0x00280109: "LargestPixelValueinSeries",
    0x00280110: "SmallestImagePixelValueinPlane",
    0x00280111: "LargestImagePixelValueinPlane",
    0x00280120: "PixelPaddingValue",
    0x00280121: "PixelPaddingRangeLimit",
    0x00281100: "GrayLookupTableDescriptor",
    0x00281101: "RedPaletteColorLUTDescriptor",
    0x00281102: "GreenPaletteColorLUTDescriptor",
    0x00281103: "BluePaletteColorLUTDescriptor",
    0x00281111: "LargeRedPaletteColorLookupTableDescriptor",
    0x00281112: "LargeGreenPaletteColorLookupTableDescriptor",
    0x00281113: "LargeBluePaletteColorLookupTableDescriptor",
    0x00281200: "GrayLookupTableData",
    0x00283006: "LUTData",
    0x00409211: "RealWorldValueLastValueMapped",
    0x00409216: "RealWorldValueFirstValueMapped",
    0x00603004: "HistogramFirstBinValue",
    0x00603006: "HistogramLastBinValue",
    0x54000110: "ChannelMinValue",
    0x54000112: "ChannelMaxValue",
    0x5400100A: "WaveformPaddingValue",
    0x54001010: "WaveformData",
    0x7FE00010: "PixelData",
}

# Names that differ from the attribute names.
NAME_OVERRIDES = {
    0x00020000: "MetaElementGroupLength",
    0x7FE00000: "PixelDataGroupLength",
}

REPEATING_GROUPS = {"50xx": 0x5000, "60xx": 0x6000, "7Fxx": 0x7F00}
NO_GROUP_LENGTH = {0xFFFA, 0xFFFC, 0xFFFE}

LICENSE = """\
// The rows below are derived from pydicom's data dictionary (pydicom/_dicom_dict.py, pydicom
// {version}), which carries this notice:
//
// Copyright (c) 2008-2018 Darcy Mason and pydicom contributors
//
// Permission is hereby granted, free of charge, to any person obtaining a copy of this software
// and associated documentation files (the "Software"), to deal in the Software without
// restriction, including without limitation the rights to use, copy, modify, merge, publish,
// distribute, sublicense, and/or sell copies of the Software, and to permit persons to whom the
// Software is furnished to do so, subject to the following conditions:
//
// The above copyright notice and this permission notice shall be included in all copies or
// substantial portions of the Software.
//
// THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING
// BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND
// NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM,
// DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,
// OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE.
"""


def load(path):
    namespace = {}
    with open(path, encoding="utf-8") as f:
        exec(compile(f.read(), path, "exec"), namespace)
    version = "unknown version"
    version_file = os.path.join(os.path.dirname(path), "_version.py")
    if os.path.exists(version_file):
        vns = {}
        with open(version_file, encoding="utf-8") as f:
            exec(compile(f.read(), version_file, "exec"), vns)
        version = vns.get("__version__", version)
    return namespace["DicomDictionary"], namespace["RepeatersDictionary"], version


def entry_name(tag, name):
    if tag in NAME_OVERRIDES:
        return NAME_OVERRIDES[tag]
    return name.replace(" ", "")


def single_vr(tag, vr):
    vr = SINGLE_VR.get(vr, vr)
    if vr not in KNOWN_VRS:
        sys.exit("%08X: VR %r has no single form; add it to SINGLE_VR or MULTI_VR" % (tag, vr))
    return vr


def build(dictionary, repeaters):
    rows = {}  # tag -> (name, vr, vm)
    for tag, (vr, vm, name, _retired, _keyword) in dictionary.items():
        if tag in MULTI_VR:
            continue
        if (tag >> 16) & 1:
            sys.exit("%08X: private tag in the standard dictionary" % tag)
        rows[tag] = (entry_name(tag, name), single_vr(tag, vr), vm)

    for mask, (vr, vm, name, _retired, _keyword) in repeaters.items():
        group_mask, element_mask = mask[:4], mask[4:]
        if group_mask not in REPEATING_GROUPS or "x" in element_mask:
            continue  # element-pattern repeaters stay out (see above)
        element = int(element_mask, 16)
        for offset in range(0, 0x20, 2):
            tag = ((REPEATING_GROUPS[group_mask] + offset) << 16) | element
            if tag in rows:
                sys.exit("%08X: repeating group overlaps a plain row" % tag)
            rows[tag] = (entry_name(tag, name), single_vr(tag, vr), vm)

    for group in sorted({tag >> 16 for tag in rows} | {tag >> 16 for tag in MULTI_VR}):
        tag = group << 16
        if group not in NO_GROUP_LENGTH and tag not in rows:
            rows[tag] = (NAME_OVERRIDES.get(tag, "GroupLength"), "UL", "1")

    for tag in MULTI_VR:
        if tag not in dictionary:
            sys.exit("%08X: multi-VR tag unknown to pydicom" % tag)
    return rows


def literal(text):
    if any(ord(c) < 0x20 or ord(c) > 0x7E for c in text):
        sys.exit("unexpected character in %r" % text)
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def by_group(tags):
    groups = {}
    for tag in sorted(tags):
        groups.setdefault(tag >> 16, []).append(tag)
    return groups


def render(rows, version):
    out = []
    out.append("// Generated by tools/gen_dicom_dictionary.py: do not edit; regenerate instead.")
    out.append("//")
    out.append("// The standard data dictionary of the DICOM library: one table of rows per group in element")
    out.append("// order, the index of the groups, and the tags whose VR depends on context.")
    out.append("//")
    out.append(LICENSE.format(version=version).rstrip("\n"))
    out.append("")
    out.append('#include "VUXDicomLibCoreDictionary.h"')
    out.append("")
    out.append("// clang-format off")
    out.append("namespace VUX::VUXDCM::CoreDictionary {")
    out.append("")
    out.append("namespace {")
    out.append("")
    groups = by_group(rows)
    for group, tags in groups.items():
        out.append("const dicmDictEntry G%04X[] = {" % group)
        for tag in tags:
            name, vr, vm = rows[tag]
            out.append("    {0x%04X, %s, %s, %s}," % (tag & 0xFFFF, literal(name), literal(vr), literal(vm)))
        out.append("};")
        out.append("")
    multi = by_group(MULTI_VR)
    for group, tags in multi.items():
        out.append("const dicmDictEntry M%04X[] = {" % group)
        for tag in tags:
            out.append('    {0x%04X, %s, "", nullptr},' % (tag & 0xFFFF, literal(MULTI_VR[tag])))
        out.append("};")
        out.append("")
    out.append("} // namespace")
    out.append("")
    out.append("const dicmDictEntryIndex entriesIndexes[] = {")
    for group, tags in groups.items():
        out.append("    {0x%04X, G%04X, %d}," % (group, group, len(tags)))
    out.append("};")
    out.append("const uint32_t entriesIndexesCount = %d;" % len(groups))
    out.append("const uint32_t entriesCount = %d;" % len(rows))
    out.append("")
    out.append("const dicmDictEntryIndex multiVRTagRefs[] = {")
    for group, tags in multi.items():
        out.append("    {0x%04X, M%04X, %d}," % (group, group, len(tags)))
    out.append("};")
    out.append("const uint32_t multiVRTagRefsCount = %d;" % len(multi))
    out.append("")
    out.append("} // namespace VUX::VUXDCM::CoreDictionary")
    out.append("// clang-format on")
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dict", default=DEFAULT_DICT, help="pydicom's _dicom_dict.py")
    parser.add_argument("--out", default=DEFAULT_OUT, help="the C++ file to write")
    args = parser.parse_args()
    dictionary, repeaters, version = load(args.dict)
    rows = build(dictionary, repeaters)
    text = render(rows, version)
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    print("%d rows in %d groups, %d multi-VR tags -> %s"
          % (len(rows), len({t >> 16 for t in rows}), len(MULTI_VR), os.path.normpath(args.out)))


if __name__ == "__main__":
    main()

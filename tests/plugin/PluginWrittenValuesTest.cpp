// Values written through the host into DICOM files and read back by pydicom: date-times of every
// precision set in both of their text forms, and the binary numbers of every representation
// written in each encoding. Every script ends with nothing left alive, which the host program
// checks itself.
#include "PluginScript.h"
#include "PythonPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// A small secondary capture made by DCMTK's dump2dcm from `dump` (its header included), under
// `name` in the derived fixtures; with `bigEndian` turned into explicit VR big endian by dcmconv.
std::string dcmtkFile(const std::string& name, const std::string& dump, bool bigEndian) {
    const std::string folder = testsupport::derivedFixtures("plugin-written-values");
    const std::string file = folder + "/" + name;
    if (std::filesystem::exists(file)) return file;
    const std::string dumpFile = testsupport::draftOf(folder + "/" + name + ".dump");
    const std::string little = testsupport::draftOf(folder + "/" + name + ".le");
    testsupport::writeFile(dumpFile, dump);
    int status = -1;
    std::string said = testsupport::run("dump2dcm " + dumpFile + " " + little + " 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    std::string made = little;
    if (bigEndian) {
        made = testsupport::draftOf(file);
        said = testsupport::run("dcmconv +tb " + little + " " + made + " 2>&1", &status);
        EXPECT_EQ(status, 0) << said;
        std::filesystem::remove(little);
    }
    EXPECT_TRUE(testsupport::publish(made, file));
    std::filesystem::remove(dumpFile);
    return file;
}

const char* const kHeader = R"((0002,0001) OB 00\01
(0002,0002) UI [1.2.840.10008.5.1.4.1.1.7]
(0002,0003) UI [1.2.826.0.1.3680043.2.1143.42.1]
(0002,0010) UI [1.2.840.10008.1.2.1]
(0002,0012) UI [1.2.826.0.1.3680043.2.1143.1]
(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [1.2.826.0.1.3680043.2.1143.42.1]
)";

class WrittenValues : public ::testing::Test {
  protected:
    WrittenValues() : dir("plugin-written-values") {}
    std::string output(std::string text) const {
        plugintest::replaceAll(text, "@OUT@", dir.path().string());
        return plugintest::successfulOutput(plugintest::runScript(dir, std::move(text)));
    }
    std::string file(const std::string& name) const { return dir.file(name); }
    // What the peer prints for `arguments`, which must succeed.
    std::string peer(const char* source, const std::string& arguments) const {
        const std::string script = testsupport::writePeerScript(dir, source);
        int status = -1;
        std::string said = testsupport::run(
            "/usr/bin/python3 " + script + " " + arguments + " 2>" + file("peer-err"), &status);
        EXPECT_EQ(status, 0) << testsupport::readFile(file("peer-err"));
        return said;
    }
    testsupport::ScratchDir dir;
};

// For each file: the Acquisition DateTime as written, then the date-time pydicom reads from it
// (ISO form), or what pydicom said when it could not read one.
const char* const kDateTimePeer = R"PY(
import sys
import pydicom
from pydicom.valuerep import DT

for path in sys.argv[1:]:
    text = pydicom.dcmread(path).AcquisitionDateTime
    try:
        print("%s %s" % (text, DT(text).isoformat()))
    except Exception as e:
        print("%s unreadable: %s" % (text, e))
)PY";

// Date-times of every precision, with and without offsets, set through the text of a new value in
// the DICOM form and in the SQL-like form, stored in a file and read back by pydicom: the text is
// the one set (the SQL-like form as its DICOM text) and the date-time pydicom makes of it is the
// one the text names.
TEST_F(WrittenValues, DateTimesOfEveryPrecisionReadBackInPydicom) {
    struct Case {
        const char* text;
        const char* dicom;
        const char* iso;
    };
    const Case cases[] = {
        {"20240229235959.999999+1400", "20240229235959.999999+1400", "2024-02-29T23:59:59.999999+14:00"},
        {"19700101000000+0000", "19700101000000+0000", "1970-01-01T00:00:00+00:00"},
        {"20240229235959.5-1200", "20240229235959.5-1200", "2024-02-29T23:59:59.500000-12:00"},
        {"20240229235959.123", "20240229235959.123", "2024-02-29T23:59:59.123000"},
        {"20240229235959.000001", "20240229235959.000001", "2024-02-29T23:59:59.000001"},
        {"20240229235959", "20240229235959", "2024-02-29T23:59:59"},
        {"202402292359", "202402292359", "2024-02-29T23:59:00"},
        {"2024022923", "2024022923", "2024-02-29T23:00:00"},
        {"20240229", "20240229", "2024-02-29T00:00:00"},
        {"202402", "202402", "2024-02-01T00:00:00"},
        {"2024", "2024", "2024-01-01T00:00:00"},
        {"2024+0530", "2024+0530", "2024-01-01T00:00:00+05:30"},
        {"202402-0030", "202402-0030", "2024-02-01T00:00:00-00:30"},
        {"20240229+0100", "20240229+0100", "2024-02-29T00:00:00+01:00"},
        {"2024022923-0500", "2024022923-0500", "2024-02-29T23:00:00-05:00"},
        {"202402292359+0545", "202402292359+0545", "2024-02-29T23:59:00+05:45"},
        {"99991231235959.999999", "99991231235959.999999", "9999-12-31T23:59:59.999999"},
        {"00010101", "00010101", "0001-01-01T00:00:00"},
        {"2024-02-29 23:59:59", "20240229235959", "2024-02-29T23:59:59"},
        {"2024-02-29 23:59:59.25", "20240229235959.250000", "2024-02-29T23:59:59.250000"},
        {"2024.02.29 235959", "20240229235959", "2024-02-29T23:59:59"},
        {"2024-02-29", "20240229", "2024-02-29T00:00:00"},
        {"1999-12-31 00:00:00", "19991231000000", "1999-12-31T00:00:00"},
    };
    const std::string source =
        dcmtkFile("datetime.dcm", std::string(kHeader) + "(0008,002a) DT [19700101]\n", false);
    std::string script = "t = FenraDicomSystem.openFile(\"" + source + "\")\n";
    std::string expected, files, read;
    int i = 0;
    for (const Case& c : cases) {
        const std::string name = "dt" + std::to_string(i++) + ".dcm";
        script += std::string("v = FenraDicomSystem.createDataElementValue(\"DT\")\n") +
                  "v.stringValue = \"" + c.text +
                  "\"\nprint v.stringValue\nprint v.errorCode()\ns = t.study\ns.value(42) = v\n" +
                  "t.study = s\nt.toDicomFile(\"@OUT@/" + name + "\")\n";
        expected += std::string(c.dicom) + "\n0\n";
        files += " " + file(name);
        read += std::string(c.dicom) + " " + c.iso + "\n";
    }
    // A text of neither form, or naming no date-time, is refused and the value stays as it was.
    script += "v = FenraDicomDateTime.Constructor(\"2024-02-29 10:15:30\")\n";
    for (const char* refused : {"20230229", "2024022924", "20240229+1500", "202402.5", "not a date"}) {
        script +=
            std::string("v.stringValue = \"") + refused + "\"\nprint v.stringValue\nprint v.errorCode()\n";
        expected += "20240229101530\n-50\n";
    }
    EXPECT_EQ(output(script), expected);
    EXPECT_EQ(peer(kDateTimePeer, files), read);
}

// For each file: its transfer syntax, then every element of group 0072 with its VR and its values
// as numbers, the raw ones (OW, OF, OL, OD, OV) decoded in the file's byte order.
const char* const kNumbersPeer = R"PY(
import struct
import sys
import pydicom

RAW = {"OW": "H", "OF": "f", "OL": "I", "OD": "d", "OV": "Q"}

for path in sys.argv[1:]:
    ds = pydicom.dcmread(path)
    print(ds.file_meta.TransferSyntaxUID)
    for e in ds:
        if e.tag.group != 0x0072:
            continue
        v = e.value
        if e.VR in RAW:
            code = RAW[e.VR]
            n = len(v) // struct.calcsize(code)
            v = list(struct.unpack(("<" if ds.is_little_endian else ">") + code * n, v))
        elif isinstance(v, (list, pydicom.multival.MultiValue)):
            v = list(v)
        else:
            v = [v]
        print("%s %s %s" % (e.tag, e.VR, " ".join(repr(x) for x in v)))
)PY";

// One source of every binary representation, little and big endian, written by the host in each
// encoding: pydicom reads from every copy the values of the source.
TEST_F(WrittenValues, BinaryNumbersOfEveryRepresentationInEveryEncoding) {
    const std::string numbers = R"((0072,0069) OW 0001\fffe\1234
(0072,0073) OD 1.5\-2.25\1e+300
(0072,0074) FD 2.5\-0.125\1e-300
(0072,0075) OL 1\4294967295\305419896
(0072,0076) FL 1.5\-2.25\3.4e+38
(0072,0078) UL 1\4000000000\305419896
(0072,007a) US 1\65535\4660
(0072,007c) SL -1\2147483647\-2147483648
(0072,007e) SS -1\32767\-32768
(0072,0081) OV 2\18446744073709551615\72623859790382856
(0072,0082) SV -2\9223372036854775807\-9223372036854775808
(0072,0083) UV 2\18446744073709551615\72623859790382856
)";
    const std::string little = dcmtkFile("numbers-le.dcm", kHeader + numbers, false);
    const std::string big = dcmtkFile("numbers-be.dcm", kHeader + numbers, true);
    const char* encodings[] = {"1.2.840.10008.1.2", "1.2.840.10008.1.2.1", "1.2.840.10008.1.2.2"};
    std::string script;
    std::vector<std::pair<std::string, std::string>> written; // file, syntax
    for (const std::string& source : {little, big}) {
        script += "t = FenraDicomSystem.openFile(\"" + source + "\")\nh = t.header\n";
        for (const char* encoding : encodings) {
            const std::string name =
                (source == little ? "le-as-" : "be-as-") + std::string(encoding) + ".dcm";
            script += std::string("h.encoding = \"") + encoding + "\"\nt.header = h\nt.toDicomFile(\"@OUT@/" +
                      name + "\")\n";
            written.emplace_back(file(name), encoding);
        }
    }
    EXPECT_EQ(output(script), "");

    // The values the source holds, as pydicom reads them from the little-endian source.
    std::string fromSource = peer(kNumbersPeer, little);
    const std::string values = fromSource.substr(fromSource.find('\n') + 1);
    ASSERT_EQ(std::count(values.begin(), values.end(), '\n'), 12) << fromSource;
    EXPECT_NE(values.find("(0072, 0083) UV 2 18446744073709551615 72623859790382856"), std::string::npos)
        << values;
    EXPECT_EQ(peer(kNumbersPeer, big), "1.2.840.10008.1.2.2\n" + values);
    for (const auto& [path, syntax] : written) {
        SCOPED_TRACE(path);
        EXPECT_EQ(peer(kNumbersPeer, path), syntax + "\n" + values);
    }
}

} // namespace

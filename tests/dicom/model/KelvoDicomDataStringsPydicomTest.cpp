// Cross-check with pydicom: the texts of a table are read as an element's value, and pydicom
// must find the same dates, times, numbers and names in those texts as we do, and again in the
// bytes we write back.
#include "KelvoDicomDataStringsDates.h"
#include "KelvoDicomDataStringsNames.h"
#include "KelvoDicomDataStringsNumbers.h"
#include "KelvoDicomDataStringsTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

std::string hex(const std::string& bytes) {
    std::string out;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        out += digits;
    }
    return out.empty() ? "-" : out;
}

// One value as the checking script describes it.
std::string describe(KelvoDicomDataElementValue& value) {
    char text[160];
    const std::string vr = value.vr();
    if (vr == "DA") {
        auto& date = static_cast<KelvoDicomDataDate&>(value);
        if (date.isEmpty()) return "-";
        std::snprintf(text, sizeof text, "%u-%u-%u", unsigned(date.year()), unsigned(date.month()),
                      unsigned(date.day()));
    } else if (vr == "TM") {
        auto& time = static_cast<KelvoDicomDataTime&>(value);
        if (time.isEmpty()) return "-";
        std::snprintf(text, sizeof text, "%u:%u:%u.%u", unsigned(time.hours()), unsigned(time.minutes()),
                      unsigned(time.seconds()), unsigned(time.microseconds()));
    } else if (vr == "DT") {
        auto& dt = static_cast<KelvoDicomDataDateTime&>(value);
        if (std::string(dt.stringValue()).empty()) return "-";
        const auto& d = dt.date();
        const auto& t = dt.time();
        std::string offset = "none";
        if (dt.utcOffsetHours() != 0 ||
            std::string(dt.stringValue()).find_first_of("+-") != std::string::npos) {
            const int sign = (dt.utcOffsetHours() < 0 || dt.utcOffsetNegative()) ? -1 : 1;
            const int magnitude =
                (dt.utcOffsetHours() < 0 ? -dt.utcOffsetHours() : dt.utcOffsetHours()) * 60 +
                int(dt.utcOffsetMinutes());
            offset = std::to_string(sign * magnitude);
        }
        std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u.%u %s", unsigned(d.year()), unsigned(d.month()),
                      unsigned(d.day()), unsigned(t.hours()), unsigned(t.minutes()), unsigned(t.seconds()),
                      unsigned(t.microseconds()), offset.c_str());
    } else if (vr == "DS") {
        std::snprintf(text, sizeof text, "%.17g", static_cast<KelvoDicomDecimalString&>(value).doubleValue());
    } else if (vr == "IS") {
        std::snprintf(text, sizeof text, "%d",
                      int(static_cast<KelvoDicomIntegerString&>(value).integerValue()));
    } else if (vr == "PN") {
        auto& name = static_cast<KelvoDicomDataPersonName&>(value);
        return std::string(name.lastName()) + "|" + name.firstName() + "|" + name.middleName() + "|" +
               name.namePrefix() + "|" + name.nameSuffix() + "|" + name.ideographicName() + "|" +
               name.phoneticName();
    }
    return text;
}

std::string describeAll(KelvoDicomDataElementValue& value) {
    std::string out = describe(value);
    for (uint32_t i = 0; i + 1 < value.valuesCount(); ++i)
        out += "," + describe(*value.getValue(i));
    return out;
}

const char* kScript = R"(import sys, pydicom, datetime
from pydicom.dataelem import DataElement
pydicom.config.datetime_conversion = True
def one(vr, v):
    if v is None or v == '':
        return '-' if vr != 'PN' else '||||||'
    if vr == 'DA':
        return '%d-%d-%d' % (v.year, v.month, v.day)
    if vr == 'TM':
        return '%d:%d:%d.%d' % (v.hour, v.minute, v.second, v.microsecond)
    if vr == 'DT':
        off = v.utcoffset()
        off = 'none' if off is None else str(int(off.total_seconds() // 60))
        return '%d-%d-%d %d:%d:%d.%d %s' % (v.year, v.month, v.day, v.hour, v.minute, v.second, v.microsecond, off)
    if vr == 'DS':
        return '%.17g' % float(v)
    if vr == 'IS':
        return '%d' % int(v)
    if vr == 'PN':
        return '|'.join([v.family_name, v.given_name, v.middle_name, v.name_prefix, v.name_suffix, v.ideographic, v.phonetic])
def describe(vr, hexed):
    raw = bytes.fromhex(hexed) if hexed != '-' else b''
    text = raw.decode('utf-8').rstrip(' ')
    value = DataElement(0x00111001, vr, text).value
    values = list(value) if isinstance(value, pydicom.multival.MultiValue) else [value]
    return ','.join(one(vr, v) for v in values)
for line in open(sys.argv[1], encoding='utf-8'):
    vr, original, ours = line.rstrip('\n').split('\t')
    print(describe(vr, original) + '\t' + describe(vr, ours))
)";

TEST(PydicomCrossCheck, ValuesAgreeWithPydicom) {
    struct Case {
        const char* vr;
        const char* text;
    };
    const Case cases[] = {
        {"DA", "20240229"},
        {"DA", "19000101"},
        {"DA", "20240307\\20240308"},
        {"DA", "2024.02.29"},
        {"DA", ""},
        {"TM", "101530.25"},
        {"TM", "101530.250000"},
        {"TM", "1015"},
        {"TM", "10"},
        {"TM", "235959.999999"},
        {"TM", "000000"},
        {"TM", "101530.000001\\1200"},
        {"TM", ""},
        {"DT", "20240307101530.000001+0100"},
        {"DT", "20240307101530.25-0030"},
        {"DT", "20240307101530-0500"},
        {"DT", "20240307101530+0000"},
        {"DT", "20240307101530+0545"},
        {"DT", "20240307101530"},
        {"DT", "20240307"},
        {"DT", "20240307101530-1000\\19991231235959.5"},
        {"DS", "1e-5"},
        {"DS", "123456789.123"},
        {"DS", " 3.25"},
        {"DS", "-0.5"},
        {"DS", "+2.5"},
        {"DS", "6.02214076e23"},
        {"DS", "0.1\\0.2\\0.3"},
        {"DS", "-1.25e-7"},
        {"DS", "4.9e-324"},
        {"DS", "0.6666666666666"},
        {"IS", "0042"},
        {"IS", " 42"},
        {"IS", "+7"},
        {"IS", "-2147483648"},
        {"IS", "2147483647"},
        {"IS", "1\\-2\\3"},
        {"PN", "Doe^John"},
        {"PN", "Doe^^^Dr"},
        {"PN", "A^B^C^D^E"},
        {"PN", "Yamada^Tarou=山田^太郎=やまだ^たろう"},
        {"PN", "=ideo=phon"},
        {"PN", "Doe^John\\Roe^Jane"},
    };
    testsupport::ScratchDir scratch("strings-pydicom");
    std::string table;
    std::vector<std::string> ours;
    for (const Case& c : cases) {
        std::string bytes = c.text;
        if (bytes.size() % 2) bytes += ' ';
        auto node = nodeFromFile(c.vr, bytes);
        std::unique_ptr<KelvoDicomDataElementValue> value(
            KelvoDicomDataElementValueString::createWithVR(c.vr, nullptr));
        ASSERT_TRUE(value->value(node.get())) << c.vr << " " << c.text;
        ours.push_back(describeAll(*value));
        // The value bytes we write: the element without its 4-byte header.
        const std::string written = encoded(*value).substr(4);
        table += std::string(c.vr) + "\t" + hex(bytes) + "\t" + hex(written) + "\n";
    }
    testsupport::writeFile(scratch.file("cases.tsv"), table);
    testsupport::writeFile(scratch.file("check.py"), kScript);
    int status = 0;
    const std::string output = testsupport::run("/usr/bin/python3 -W ignore " + scratch.file("check.py") +
                                                    " " + scratch.file("cases.tsv") + " 2>&1",
                                                &status);
    ASSERT_EQ(status, 0) << output;
    std::istringstream lines(output);
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string line;
        ASSERT_TRUE(std::getline(lines, line)) << output;
        const size_t tab = line.find('\t');
        SCOPED_TRACE(std::string(cases[i].vr) + " [" + cases[i].text + "]");
        EXPECT_EQ(ours[i], line.substr(0, tab)) << "what we read differs from what pydicom reads";
        EXPECT_EQ(line.substr(tab + 1), line.substr(0, tab))
            << "pydicom reads something else in what we write";
    }
}

} // namespace

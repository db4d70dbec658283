#include "KelvoDicomDataStringsNames.h"
#include "KelvoDicomDataStringsTestSupport.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace stringstest;

namespace {

std::vector<std::string> parts(const KelvoDicomDataPersonName& name) {
    return {name.lastName(),   name.firstName(),       name.middleName(),  name.namePrefix(),
            name.nameSuffix(), name.ideographicName(), name.phoneticName()};
}

TEST(PersonNames, TextsParseIntoComponentsAndGroups) {
    struct Case {
        std::string text;
        std::vector<std::string> parts; // five components, ideographic and phonetic groups
        std::string joined;
    };
    const std::string jap = "\x1b$B$d$^$@\x1b(B"; // its '^' byte is half of a character
    const Case cases[] = {
        {"Doe^John", {"Doe", "John", "", "", "", "", ""}, "Doe^John"},
        {"Doe^^^Dr", {"Doe", "", "", "Dr", "", "", ""}, "Doe^^^Dr"},
        {"A^B^C^D^E^F", {"A", "B", "C", "D", "E", "", ""}, "A^B^C^D^E"},
        {"A^B^C^D^E^F=G", {"A", "B", "C", "D", "E", "G", ""}, "A^B^C^D^E=G"},
        {"Yamada^Tarou=Yamada^Tarou",
         {"Yamada", "Tarou", "", "", "", "Yamada^Tarou", ""},
         "Yamada^Tarou=Yamada^Tarou"},
        {"Yamada^Tarou=山田^太郎=やまだ^たろう",
         {"Yamada", "Tarou", "", "", "", "山田^太郎", "やまだ^たろう"},
         "Yamada^Tarou=山田^太郎=やまだ^たろう"},
        {"Wang^XiaoDong=王^小東=", {"Wang", "XiaoDong", "", "", "", "王^小東", ""}, "Wang^XiaoDong=王^小東"},
        {"=ideo=phon", {"", "", "", "", "", "ideo", "phon"}, "=ideo=phon"},
        {"Doe\\Smith", {"Doe", "", "", "", "", "", ""}, "Doe"},
        {"^^^^", {"", "", "", "", "", "", ""}, ""},
        {"", {"", "", "", "", "", "", ""}, ""},
        {jap + "^x", {jap, "x", "", "", "", "", ""}, jap + "^x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        KelvoDicomDataPersonName name;
        name.stringValue(c.text.c_str());
        EXPECT_EQ(parts(name), c.parts);
        EXPECT_EQ(std::string(name.stringValue()), c.joined);
        std::unique_ptr<KelvoDicomDataElementValue> made(
            KelvoDicomDataElementValueString::createWithVR("PN", c.text.c_str()));
        EXPECT_EQ(std::string(made->stringValue()), c.joined);
    }
}

TEST(PersonNames, ComponentSetters) {
    KelvoDicomDataPersonName name;
    name.firstName("John");
    EXPECT_STREQ(name.stringValue(), "^John");
    name.lastName("Doe");
    name.nameSuffix("Jr");
    EXPECT_STREQ(name.stringValue(), "Doe^John^^^Jr");
    name.firstName("a\\b\nc");
    EXPECT_STREQ(name.firstName(), "a_b_c");
    name.firstName(nullptr);
    EXPECT_STREQ(name.firstName(), "");
    KelvoDicomDataPersonName made("John", "Doe");
    EXPECT_STREQ(made.stringValue(), "Doe^John");
    EXPECT_EQ(made.maxSizeAllowed(), 64u);
    EXPECT_EQ(made.paddingByte(), ' ');

    // Components are cut at 64 characters, the joined alphabetic group too.
    const std::string seventy(70, 'n');
    KelvoDicomDataPersonName longName;
    using Setter = void (KelvoDicomDataPersonName::*)(const char*);
    const Setter setters[] = {&KelvoDicomDataPersonName::lastName, &KelvoDicomDataPersonName::firstName,
                              &KelvoDicomDataPersonName::middleName, &KelvoDicomDataPersonName::namePrefix,
                              &KelvoDicomDataPersonName::nameSuffix};
    for (Setter set : setters)
        (longName.*set)(seventy.c_str());
    EXPECT_EQ(std::string(longName.lastName()), std::string(64, 'n'));
    EXPECT_EQ(std::string(longName.stringValue()), std::string(64, 'n'));

    // The setters keep the further values and the other groups; parsing drops both.
    auto node = nodeFromFile("PN", "Doe^John=D^J\\Roe^Jane");
    KelvoDicomDataPersonName two(node.get());
    ASSERT_EQ(two.valuesCount(), 2u);
    two.middleName("Q");
    EXPECT_EQ(joined(two), "Doe^John^Q=D^J\\Roe^Jane");
    two.stringValue("Poe");
    EXPECT_EQ(joined(two), "Poe");
}

TEST(PersonNames, CopiesKeepAllGroups) {
    KelvoDicomDataPersonName name;
    name.stringValue("Yamada^Tarou=山田^太郎=やまだ^たろう");
    KelvoDicomDataPersonName copy(name);
    EXPECT_EQ(parts(copy), parts(name));
    std::unique_ptr<Kelvo_QTObj> clone(name.clone());
    EXPECT_STREQ(static_cast<KelvoDicomDataPersonName*>(clone.get())->stringValue(),
                 "Yamada^Tarou=山田^太郎=やまだ^たろう");
    KelvoDicomDataPersonName other;
    other.copy(name);
    EXPECT_EQ(parts(other), parts(name));
    EXPECT_EQ(encoded(other), element("PN", "Yamada^Tarou=山田^太郎=やまだ^たろう"));
}

// The person names of pydicom's character-set files, read from their bytes and written back:
// pydicom finds the same names in what we write.
TEST(PersonNames, CharacterSetFilesRoundTrip) {
    const std::filesystem::path folder = "/usr/lib/python3/dist-packages/pydicom/data/charset_files";
    if (!std::filesystem::exists(folder)) GTEST_SKIP() << "pydicom's character-set files are not installed";
    testsupport::ScratchDir scratch("pn-charsets");
    const std::string dump = scratch.file("dump.py"), check = scratch.file("check.py");
    testsupport::writeFile(dump, R"(import sys, glob, os, pydicom
from pydicom.dataelem import RawDataElement
from pydicom.datadict import dictionary_has_tag, dictionary_VR
def walk(ds, charset, name):
    if 'SpecificCharacterSet' in ds:
        value = ds.SpecificCharacterSet
        charset = value if isinstance(value, str) else '\\'.join(value)
    for tag in list(ds._dict.keys()):
        raw = ds._dict[tag]
        if isinstance(raw, RawDataElement):
            vr = raw.VR or (dictionary_VR(tag) if dictionary_has_tag(tag) else None)
            if vr == 'PN':
                print(name, '%08x' % tag, charset.replace(' ', '|'), raw.value.hex() or '-', sep='\t')
                continue
        elem = ds[tag]
        if elem.VR == 'SQ':
            for item in elem.value:
                walk(item, charset, name)
for path in sorted(glob.glob(os.path.join(sys.argv[1], '*.dcm'))):
    walk(pydicom.dcmread(path), 'ISO_IR 6', os.path.basename(path))
)");
    testsupport::writeFile(check, R"(import sys, pydicom
from pydicom.dataelem import DataElement
from pydicom.charset import decode_element
def names(raw, charset):
    # Trailing spaces are padding.
    elem = DataElement(0x00100010, 'PN', raw.rstrip(b' '))
    decode_element(elem, charset.replace('|', ' ').split('\\'))
    values = elem.value if elem.VM > 1 else [elem.value]
    return [(v.family_name, v.given_name, v.middle_name, v.name_prefix, v.name_suffix, v.ideographic, v.phonetic) for v in values if v is not None]
bad = 0
for line in open(sys.argv[1], encoding='ascii'):
    name, tag, charset, ours, theirs = line.rstrip('\n').split('\t')
    a = names(bytes.fromhex(theirs if theirs != '-' else ''), charset)
    b = names(bytes.fromhex(ours if ours != '-' else ''), charset)
    if a != b:
        bad += 1
        print('MISMATCH', name, tag, a, b)
print('checked', bad)
)");
    int status = 0;
    const std::string listing =
        testsupport::run("/usr/bin/python3 -W ignore " + dump + " " + folder.string() + " 2>&1", &status);
    ASSERT_EQ(status, 0) << listing;
    std::istringstream lines(listing);
    std::string line, results;
    int count = 0;
    bool sawGroups = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string file, tag, charset, hex;
        std::getline(fields, file, '\t');
        std::getline(fields, tag, '\t');
        std::getline(fields, charset, '\t');
        std::getline(fields, hex, '\t');
        std::string raw;
        for (size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2)
            raw += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        auto node = nodeFromFile("PN", raw);
        KelvoDicomDataPersonName name(node.get());
        if (name.ideographicName()[0]) sawGroups = true;
        std::string ours = joined(name);
        if (ours == "(null)") ours.clear();
        std::string ourHex;
        char digits[3];
        for (unsigned char c : ours) {
            std::snprintf(digits, sizeof digits, "%02x", c);
            ourHex += digits;
        }
        results +=
            file + "\t" + tag + "\t" + charset + "\t" + (ourHex.empty() ? "-" : ourHex) + "\t" + hex + "\n";
        ++count;
    }
    EXPECT_GT(count, 20);
    EXPECT_TRUE(sawGroups);
    testsupport::writeFile(scratch.file("results.txt"), results);
    const std::string verdict = testsupport::run(
        "/usr/bin/python3 -W ignore " + check + " " + scratch.file("results.txt") + " 2>&1", &status);
    EXPECT_EQ(status, 0) << verdict;
    EXPECT_EQ(verdict, "checked 0\n");
}

} // namespace

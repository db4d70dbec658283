// The value host classes used as a host program uses them: scripts run by the host program with
// the plug-in under test, on files of the pydicom corpus. Every script ends with nothing left
// alive, which the host program checks itself (a leak fails the run).
#include "PluginHost.h"
#include "PluginScript.h"

#include <gtest/gtest.h>

using plugintest::ScriptRun;

namespace {

ScriptRun script(const std::string& text) {
    testsupport::ScratchDir dir("plugin-values");
    return plugintest::runScript(dir, text);
}

std::string output(const std::string& text) {
    return plugintest::successfulOutput(script(text));
}

} // namespace

// An element of every value representation the corpus holds, read from its file and typed by the
// module: the raw value's format, the typed value's text and a member of its own class.
TEST(PluginValues, ReadsValuesOfEveryRepresentationFromCorpusFiles) {
    struct Case {
        const char* file;
        int group;
        int element;
        const char* vr;
        const char* text;
        const char* member;
        const char* shown;
    };
    const Case cases[] = {
        {"J2K_pixelrep_mismatch.dcm", 0x0010, 0x1010, "AS", "076Y", "years", "76"},
        {"JPEG-lossy.dcm", 0x0028, 0x0009, "AT", "0x0054,0x0010", "element", "16"},
        {"CT_small.dcm", 0x0008, 0x0060, "CS", "CT", "maxSize", "16"},
        {"CT_small.dcm", 0x0008, 0x0020, "DA", "20040119", "sqlDate", "2004-01-19"},
        {"693_J2KI.dcm", 0x0018, 0x0050, "DS", "5", "doubleValue", "5"},
        {"waveform_ecg.dcm", 0x0008, 0x002A, "DT", "20130125105919", "sqlDateTime", "2013-01-25 10:59:19"},
        {"693_J2KI.dcm", 0x0018, 0x9306, "FD", "0.625000", "doubleValue", "0.625"},
        {"CT_small.dcm", 0x0027, 0x1041, "FL", "-77.204063", "singleValue", "-77.20406341552734"},
        {"693_J2KI.dcm", 0x0018, 0x1151, "IS", "170", "integerValue", "170"},
        {"693_J2KI.dcm", 0x0010, 0x0020, "LO", "CQ500-CT-310", "maxSize", "64"},
        {"CT_small.dcm", 0x0020, 0x4000, "LT", "Uncompressed", "maxSize", "10240"},
        {"CT_small.dcm", 0x0043, 0x102A, "OB", nullptr, "valuesCount", "1"},
        {"CT_small.dcm", 0x0010, 0x0010, "PN", "CompressedSamples^CT1", "familyName", "CompressedSamples"},
        {"CT_small.dcm", 0x0008, 0x0201, "SH", "-0500", "maxSize", "16"},
        {"CT_small.dcm", 0x0009, 0x1027, "SL", "862399669", "integerValue", "862399669"},
        {"CT_small.dcm", 0x0028, 0x0120, "SS", "-2000", "shortValue", "-2000"},
        {"693_J2KI.dcm", 0x0008, 0x2111, "ST", "lossy conversion", "maxSize", "1024"},
        {"CT_small.dcm", 0x0008, 0x0030, "TM", "072730", "sqlTime", "07:27:30"},
        {"CT_small.dcm", 0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.2", "maxSize", "64"},
        {"693_J2KI.dcm", 0x0008, 0x0000, "UL", "328", "UInt32Value", "328"},
        {"J2K_pixelrep_mismatch.dcm", 0x0019, 0x1000, "UN", nullptr, "valuesCount", "1"},
        {"CT_small.dcm", 0x0028, 0x0010, "US", "128", "UInt16Value", "128"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vr);
        std::string text = "t = FenraDicomSystem.openFile(\"@CORPUS@/" + std::string(c.file) + "\")\n" +
                           "g = t.value(" + std::to_string(c.group) + ")\n" + "raw = g.value(" +
                           std::to_string(c.element) + ")\n" +
                           "print raw.valueFormat\n"
                           "v = FenraDicomSystem.createDataElementValue(raw)\n"
                           "print v.vr\n"
                           "print v." +
                           c.member + "\n";
        if (c.text) text += "print v.stringValue\n";
        std::string expected = std::string(c.vr) + "\n" + c.vr + "\n" + c.shown + "\n";
        if (c.text) expected += std::string(c.text) + "\n";
        EXPECT_EQ(output(text), expected);
    }
    // The meta header's application entity, and its two version bytes as a memory block.
    EXPECT_EQ(output("h = FenraDicomSystem.metaInformationsFromFile(\"@CORPUS@/CT_small.dcm\")\n"
                     "raw = h.value(22)\n"
                     "ae = FenraDicomSystem.createDataElementValue(raw)\n"
                     "print ae.vr\n"
                     "print ae.stringValue\n"
                     "version = h.value(1)\n"
                     "print version.valueType\n"
                     "print FenraDicomValue.ktype_pointer\n"
                     "bytes = version.pointerValue(0)\n"
                     "print bytes.Size\n"
                     "ob = FenraDicomSystem.createDataElementValue(version)\n"
                     "print ob.stringValue\n"),
              "AE\nCLUNIE1\n4\n4\n2\n0001...\n");
}

// Values of every class made by their constructors and shared methods, changed through their
// properties, and carried through their raw form into a value of the same kind again.
TEST(PluginValues, CreatesValuesOfEveryRepresentation) {
    EXPECT_EQ(output(R"(ae = FenraDicomApplicationEntity.Constructor("STORESCP")
print ae.stringValue
cs = FenraDicomCodeString.Constructor("ORIGINAL")
print cs.stringValue
lo = FenraDicomLongString.Constructor("a long string")
print lo.stringValue
sh = FenraDicomShortString.Constructor("short")
print sh.stringValue
ui = FenraDicomUID.Constructor("1.2.3.4")
print ui.stringValue
made = FenraDicomUID.create("1.2.826.0.1")
print made.vr
lt = FenraDicomText.createWithLongText("long text")
print lt.vr
st = FenraDicomText.createWithShortText("short text")
print st.vr
ut = FenraDicomText.createWithUnlimitedText("unlimited\text")
print ut.vr
print ut.stringValue
age = FenraDicomAge.Constructor("045Y")
age.months = 7
print age.stringValue
print age.months
pn = FenraDicomPersonName.Constructor("John", "Smith")
pn.middleName = "Q"
pn.prefix = "Dr"
print pn.stringValue
da = FenraDicomDate.Constructor(2024, 3, 7)
print da.stringValue
da.day = 31
print da.sqlDate
tm = FenraDicomTime.Constructor("10:15:30")
tm.microseconds = 250000
print tm.stringValue
dt = FenraDicomDateTime.Constructor("2024-03-07 10:15:30")
dt.utcOffsetHours = -5
print dt.stringValue
is = FenraDicomIntegerString.Constructor(-42)
print is.stringValue
is.integerValue = 7
print is.Operator_Convert()
ds = FenraDicomDecimalString.Constructor(0.1)
print ds.doubleValue
ds.exponentialNotation = true
print ds.stringValue
fl = FenraDicomNumber.createWithSingle(1.5)
print fl.vr
fd = FenraDicomNumber.createWithDouble(0.1)
print fd.doubleValue
sl = FenraDicomNumber.createWithInteger(-70000)
print sl.vr
print sl.integerValue
ul = FenraDicomNumber.createWithUInt32(4000000000)
print ul.UInt32Value
ss = FenraDicomNumber.createWithShort(-3)
print ss.shortValue
us = FenraDicomNumber.createWithUnsignedShort(65535)
print us.UInt16Value
tag = FenraDicomAttributeTag.Constructor(40, 9)
tag.element = 16
print tag.stringValue
)"),
              "STORESCP\nORIGINAL\na long string\nshort\n1.2.3.4\nUI\nLT\nST\nUT\nunlimited\\text\n"
              "007M\n7\nSmith^John^Q^Dr\n20240307\n2024-03-31\n101530.250000\n20240307101530-0500\n-42\n7\n"
              "0.1\n1E-01\nFL\n0.1\nSL\n-70000\n4000000000\n-3\n65535\n0x0028,0x0010\n");
}

// The raw value: its typed accessors by format, and raw bytes in and out through memory blocks,
// which carry binary values and attribute tags.
TEST(PluginValues, RawValuesAndBinaryValues) {
    EXPECT_EQ(output(R"(us = FenraDicomValue.Constructor("US")
us.integerValue(-1) = 258
us.integerValue(-1) = 772
us.integerValue(0) = 259
print us.integerValue(0)
print us.integerValue(1)
print us.valueType
print us.stringValue()
ss = FenraDicomValue.Constructor("SS")
ss.integerValue(-1) = 65535
print ss.integerValue(0)
fl = FenraDicomValue.Constructor("FL")
fl.doubleValue(-1) = 0.1
print fl.doubleValue(0)
print fl.valueType
words = us.pointerValue(0)
print words.Size
ow = FenraDicomBinaryValue.createWithWords(words)
print ow.vr
of = FenraDicomBinaryValue.createWithFloats(words)
print of.vr
un = FenraDicomBinaryValue.createWithUnknownData(words)
print un.vr
ob = FenraDicomBinaryValue.createWithBytes(nil)
print ob.vr
ob.data = words
copy = ob.data
print copy.Size
raw = ob.value
print raw.valueFormat
print raw.valueType
back = FenraDicomSystem.createDataElementValue(raw)
print back.stringValue
ul = FenraDicomValue.Constructor("UL")
ul.integerValue(-1) = 1048616
four = ul.pointerValue(0)
at = FenraDicomValue.Constructor("AT")
three = MemoryBlock.Constructor(3)
at.pointerValue(-1) = three
print at.pointerValue(0)
at.pointerValue(-1) = four
tag = FenraDicomSystem.createDataElementValue(at)
print tag.stringValue
da = FenraDicomValue.Constructor("DA")
da.stringValue() = "20240102"
print da.stringValue()
print da.integerValue(0)
name = FenraDicomValue.Constructor(16, 16)
print name.valueFormat
)"),
              "259\n772\n2\n\n-1\n0.10000000149011612\n3\n2\nOW\nOF\nUN\nOB\n2\nOB\n4\n0301...\nnil\n"
              "0x0028,0x0010\n20240102\n0\nPN\n");
}

// Getters hand out copies: a change reaches the data set, the value or the element it came from
// only when it is stored back.
TEST(PluginValues, GettersHandOutCopies) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
study = t.value(8)
raw = study.value(32)
raw.stringValue() = "19990101"
again = study.value(32)
print again.stringValue()
study.value(32) = raw
stored = study.value(32)
print stored.stringValue()
print study.valueByRef(32)
day = FenraDicomSystem.createDataElementValue(stored)
node = day.value
node.stringValue() = "20000202"
print day.stringValue
day.value = node
print day.stringValue
dt = FenraDicomDateTime.Constructor("2024-03-07 10:15:30")
part = dt.date
part.year = 1999
print dt.sqlDateTime
dt.date = part
clock = dt.time
clock.hours = 23
print dt.sqlDateTime
dt.time = clock
print dt.sqlDateTime
tag = FenraDicomAttributeTag.Constructor(16, 16)
element = FenraDicomDataElement.Constructor(tag)
pn = FenraDicomPersonName.Constructor("John", "Smith")
element.value = pn
pn.givenName = "Jane"
held = element.value
print held.stringValue
held.familyName = "Jones"
kept = element.value
print kept.stringValue
)"),
              "20040119\n19990101\nnil\n19990101\n20000202\n2024-03-07 10:15:30\n1999-03-07 10:15:30\n"
              "1999-03-07 23:15:30\nSmith^John\nSmith^John\n");
}

// An empty host object reads empty and ignores writes; so do parameters out of range.
TEST(PluginValues, EmptyObjectsAndOutOfRangeParametersGiveEmptyResults) {
    EXPECT_EQ(output(R"(empty = FenraDicomDate.Constructor(nil)
print empty.year
print empty.sqlDate
print empty.stringValue
print empty.vr
print empty.valuesCount
print empty.allowsMultipleValues
print empty.value
print empty.item(1)
print empty.Operator_Convert()
empty.year = 2000
empty.stringValue = "20000101"
print empty.year
none = FenraDicomValue.Constructor(nil)
print none.valueType
print none.valueFormat
print none.pointerValue(0)
wide = FenraDicomValue.Constructor(70000, 16)
print wide.valueFormat
unknown = FenraDicomValue.Constructor("QQ")
print unknown.valueFormat
element = FenraDicomDataElement.Constructor(nil)
print element.vr
print element.elementTag
print element.multeplicity
us = FenraDicomValue.Constructor("US")
us.integerValue(-1) = 5
us.integerValue(3) = 9
print us.integerValue(3)
print us.integerValue(-2)
print us.pointerValue(1)
print FenraDicomNumber.createWithShort(40000)
print FenraDicomNumber.createWithUnsignedShort(-1)
print FenraDicomNumber.createWithSingle(1e300)
n = FenraDicomNumber.createWithShort(12)
n.shortValue = 40000
print n.shortValue
age = FenraDicomAge.Constructor("045Y")
age.years = 1000
print age.stringValue
)"),
              "0\n\n\n\n0\nfalse\nnil\nnil\nnil\n0\n0\n\nnil\n\n\n\nnil\nnil\n0\n0\nnil\nnil\nnil\nnil\n12\n0"
              "45Y\n");
}

// A nil argument is ignored (except where it clears a value); an object of another class is
// refused by the host or, where the declaration lets it through, by the plug-in.
TEST(PluginValues, NilArgumentsAndObjectsOfAnotherClass) {
    EXPECT_EQ(output(R"(pn = FenraDicomPersonName.Constructor("John", nil)
print pn.stringValue
pn.familyName = nil
pn.givenName = nil
print pn.stringValue
day = FenraDicomDate.Constructor("2024-01-02")
day.sqlDate = nil
print day.sqlDate
print day.append(nil)
raw = FenraDicomValue.Constructor("LO")
raw.stringValue() = "kept"
raw.stringValue() = nil
print raw.stringValue()
ob = FenraDicomBinaryValue.createWithBytes(nil)
print ob.data
uid = FenraDicomUID.create(nil)
print uid.vr
clock = FenraDicomTime.Constructor(10, 15, 30)
print day.append(clock)
print day.valuesCount
tag = FenraDicomAttributeTag.Constructor(8, 32)
element = FenraDicomDataElement.Constructor(tag, day)
print element.vr
element.value = clock
held = element.value
print held.stringValue
element.value = nil
cleared = element.value
print cleared.stringValue
lo = FenraDicomLongString.Constructor("text")
lo.value = nil
print lo.stringValue
)"),
              "^John\n^John\n2024-01-02\nfalse\nkept\nnil\nUI\nfalse\n1\nDA\n20240102\n\n\n");
    // The declarations let the host refuse other classes before the plug-in sees them.
    ScriptRun refused = script(R"(day = FenraDicomDate.Constructor("2024-01-02")
clock = FenraDicomTime.Constructor(10, 15, 30)
day.value = clock
)");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(
        refused.err.find("line 3: day.value = clock: FenraDicomDate.value expects a FenraDicomValue, not a "
                         "FenraDicomTime"),
        std::string::npos)
        << refused.err;
}

// What cannot be made is refused with a status, never handed out as something else: a UID root
// that is not digits and dots (or too long to leave room for the unique part) makes no UID, and
// a day the calendar does not have makes no date.
TEST(PluginValues, RefusedRootsAndImpossibleDates) {
    EXPECT_EQ(output(R"(made = FenraDicomUID.create("abc.def")
print made
made = FenraDicomUID.create("1.2.3.")
print made
made = FenraDicomUID.create("1.2.826.0.1")
print made.vr
print FenraDicomSystem.createUID("abc.def")
print FenraDicomSystem.createUID("1.2.3.")
da = FenraDicomDate.Constructor(2100, 2, 29)
print da.stringValue
print da.errorCode()
da = FenraDicomDate.Constructor(2024, 3, 7)
da.stringValue = "21000229"
print da.stringValue
print da.errorCode()
da.sqlDate = "2023-02-29"
print da.sqlDate
print da.errorCode()
da.day = 31
da.month = 4
print da.stringValue
print da.errorCode()
da.stringValue = "20240229"
print da.stringValue
print da.errorCode()
)"),
              "nil\nnil\nUI\n\n\n\n-50\n20240307\n-50\n2024-03-07\n-50\n20240331\n-50\n20240229\n0\n");
}

// Values count from 1: item(1) is the first value, item(n) the n-th; item(0) and indexes past
// the last ask for none. Replacing or removing the first value keeps the others in their order.
TEST(PluginValues, HostIndexesCountFromOne) {
    EXPECT_EQ(
        output(R"(t = FenraDicomSystem.openFile("@CORPUS@/JPEG-lossy.dcm")
pixel = t.value(40)
raw = pixel.value(9)
pointers = FenraDicomSystem.createDataElementValue(raw)
print pointers.valuesCount
first = pointers.item(1)
print first.stringValue
print first.valuesCount
second = pointers.item(2)
print second.stringValue
print pointers.item(0)
print pointers.item(3)
other = FenraDicomAttributeTag.Constructor(24, 4176)
pointers.item(1) = other
a = pointers.item(1)
b = pointers.item(2)
print a.stringValue
print b.stringValue
pointers.item(3) = other
pointers.item(0) = other
print pointers.valuesCount
print pointers.append(first)
last = pointers.item(3)
print last.element
print pointers.remove(0)
print pointers.remove(4)
print pointers.remove(1)
a = pointers.item(1)
b = pointers.item(2)
print a.stringValue
print b.stringValue
print pointers.remove(2)
print pointers.remove(1)
print pointers.valuesCount
print pointers.hasMultipleValues
print pointers.stringValue
)"),
        "2\n0x0054,0x0010\n1\n0x0054,0x0020\nnil\nnil\n0x0018,0x1050\n0x0054,0x0020\n2\ntrue\n16\nfalse\n"
        "false\ntrue\n0x0054,0x0020\n0x0054,0x0010\ntrue\nfalse\n1\nfalse\n0x0054,0x0020\n");
    // An item is a copy like every other value handed out: it outlives its parent, and changes
    // reach the parent only when stored back; a value of several values stored as one item gives
    // its first value alone.
    EXPECT_EQ(
        output(R"(t = FenraDicomSystem.openFile("@CORPUS@/JPEG-lossy.dcm")
pixel = t.value(40)
raw = pixel.value(9)
pointers = FenraDicomSystem.createDataElementValue(raw)
first = pointers.item(1)
first.element = 64
second = pointers.item(2)
second.element = 48
a = pointers.item(1)
b = pointers.item(2)
print a.stringValue
print b.stringValue
pointers.item(2) = second
b = pointers.item(2)
print b.stringValue
pointers.item(1) = first
a = pointers.item(1)
b = pointers.item(2)
print a.stringValue
print b.stringValue
pair = FenraDicomSystem.createDataElementValue(raw)
pointers.item(2) = pair
print pointers.valuesCount
b = pointers.item(2)
print b.valuesCount
print b.stringValue
pointers = 0
print second.stringValue
)"),
        "0x0054,0x0010\n0x0054,0x0020\n0x0054,0x0030\n0x0054,0x0040\n0x0054,0x0030\n2\n1\n0x0054,0x0010\n"
        "0x0054,0x0030\n");
}

// Data elements of the dictionary and private ones, and dates handed to the host as its Date.
TEST(PluginValues, DataElementsAndHostDates) {
    EXPECT_EQ(output(R"(tag = FenraDicomAttributeTag.Constructor(16, 16)
name = FenraDicomPersonName.Constructor("John", "Smith")
element = FenraDicomDataElement.Constructor(tag, name)
print element.vr
print element.description
range = element.multeplicity
print range
which = element.elementTag
print which.element
held = element.value
print held.familyName
private = FenraDicomAttributeTag.Constructor(9, 4128)
text = FenraDicomLongString.Constructor("private text")
own = FenraDicomDataElement.Constructor(private, "LO", "1-2", text)
print own.vr
print own.description
kept = own.value
print kept.stringValue
bare = FenraDicomDataElement.Constructor(private, "LO")
print bare.vr
nothing = bare.value
print nothing.stringValue
wrong = FenraDicomDataElement.Constructor(private, "LOX")
print wrong.vr
print wrong.value
even = FenraDicomDataElement.Constructor(tag, "LO")
print even.vr
day = FenraDicomDate.Constructor("2024-01-02")
print day.Operator_Convert()
moment = FenraDicomDateTime.Constructor("2024-03-07 10:15:30")
moment.utcOffsetHours = 2
print moment.Operator_Convert()
empty = FenraDicomDate.Constructor(0, 0, 0)
print empty.Operator_Convert()
)"),
              "PN\nPatient'sName\nFenraNumericalRange\n  start = 1\n  end = 1\n16\nSmith\nLO\n"
              "Private Data Element\nprivate "
              "text\nLO\n\n\nnil\n"
              "\nDate\n  SQLDate = 2024-01-02\n  SQLDateTime = 2024-01-02 00:00:00\n  GMTOffset = 0\nDate\n"
              "  SQLDate = 2024-03-07\n  SQLDateTime = 2024-03-07 10:15:30\n  GMTOffset = 2\nnil\n");
}

// The classes carry their constants and overloads as a console host sees them.
TEST(PluginValues, ClassesCarryTheirMembers) {
    EXPECT_EQ(output(R"(print FenraDicomValue.ktype_unknown
print FenraDicomValue.ktype_string
print FenraDicomValue.ktype_integer
print FenraDicomValue.ktype_double
print FenraDicomValue.ktype_pointer
is = FenraDicomIntegerString.Constructor("17")
print is.integerValue
empty = FenraDicomIntegerString.Constructor()
print empty.integerValue
ds = FenraDicomDecimalString.Constructor("2.5")
print ds.Operator_Convert()
n = FenraDicomNumber.createWithDouble(2.25)
print n.Operator_Convert()
lo = FenraDicomLongString.Constructor("a\b")
print lo.stringValue
print lo.multipleValuesSeparator
print lo.paddingByte
)"),
              "0\n1\n2\n3\n4\n17\n0\n2.5\n2.25\na_b\n\\\n \n");
}

// A string element of several values read from a file: its values one by one from 1, joined with
// their separator, and written back into its raw form.
TEST(PluginValues, StringElementsOfSeveralValues) {
    EXPECT_EQ(
        output(R"(t = FenraDicomSystem.openFile("@CORPUS@/693_J2KI.dcm")
study = t.value(8)
raw = study.value(8)
print raw.stringValue()
kind = FenraDicomSystem.createDataElementValue(raw)
print kind.valuesCount
print kind.stringValue
print kind.concatStringValues
one = kind.item(2)
print one.stringValue
print kind.remove(2)
print kind.concatStringValues
back = kind.value
print back.stringValue()
ds = FenraDicomDecimalString.Constructor()
ds.stringValue = "3.25"
print ds.doubleValue
)"),
        "DERIVED \\PRIMARY\\AXIAL\n3\nDERIVED \nDERIVED \\PRIMARY\\AXIAL\nPRIMARY\ntrue\nDERIVED \\AXIAL\n"
        "DERIVED \\AXIAL\n3.25\n");
    std::string now = output("clock = FenraDicomTime.Constructor(0, 0, 0)\nclock.useCurrentTime()\n"
                             "print clock.sqlTime\n");
    ASSERT_EQ(now.size(), 9u) << now;
    EXPECT_EQ(now[2], ':');
    EXPECT_EQ(now[5], ':');
}

// Items, item sequences, data sets and their named group views used as a host program uses them:
// scripts run by the host program with the plug-in under test, on files of the pydicom corpus
// (what they read is what DCMTK's dcmdump shows of the same files). Every script ends with
// nothing left alive, which the host program checks itself (a leak fails the run).
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataTree.h"
#include "PluginHost.h"
#include "PluginScript.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sylhost;
using plugintest::host;
using plugintest::ScriptRun;

namespace {

// Runs the script; "@SCRATCH@" in it stands for a scratch folder that holds "plain.txt", a file
// that is not DICOM.
ScriptRun script(std::string text) {
    testsupport::ScratchDir dir("plugin-datasets");
    testsupport::writeFile(dir.file("plain.txt"), std::string(300, 'x'));
    plugintest::replaceAll(text, "@SCRATCH@", dir.path().string());
    return plugintest::runScript(dir, std::move(text));
}

std::string output(const std::string& text) {
    return plugintest::successfulOutput(script(text));
}

} // namespace

// Every named view of a CT file, printed whole: each property as the view reads it.
TEST(PluginDataSets, NamedViewsReadTheirGroupsFromCorpusFiles) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
h = FenraDicomSystem.metaInformationsFromFile("@CORPUS@/CT_small.dcm")
print h
p = t.value(16)
print p
s = t.value(8)
print s
a = t.value(24)
print a
i = t.value(32)
print i
kind = s.imageType
print kind.stringValue()
version = a.softwareVersion
print version.stringValue()
comments = i.imageComments
print comments.stringValue()
)"),
              R"(FenraDicomHeader
  groupID = 2
  groupLength = 192
  keys = FenraDicomValue
  values = FenraObjectsList
  isDataCompressed = false
  version = FenraDicomValue
  sopClass = 1.2.840.10008.5.1.4.1.1.2
  sopInstance = 1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322
  encoding = 1.2.840.10008.1.2.1
  implementation = 1.3.6.1.4.1.5962.2
  implementationVers = DCTOOL100
  appEntityTitle = CLUNIE1
  privateInfoCreator = 
  privateInfo = nil
FenraDicomPatient
  groupID = 16
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  name = CompressedSamples^CT1
  id = 1CT1
  birthDate = 
  birthTime = 
  sex = O
  birthName = 
  age = 000Y
  height = 
  weight = 0.000000
  address = 
FenraDicomStudy
  groupID = 8
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  characterSet = FenraDicomValue
  imageType = FenraDicomValue
  performingPhysician = nil
  sopClass = 1.2.840.10008.5.1.4.1.1.2
  sopInstance = 1.3.6.1.4.1.5962.1.1.1.1.1.20040119072730.12322
  studyDate = 20040119
  seriesDate = 19970430
  acquisitionDate = 19970430
  contentDate = 19970430
  studyTime = 072730
  seriesTime = 112749
  acquisitionTime = 112936
  contentTime = 113008
  accessionNumber = 
  modality = CT
  manufacturer = GE MEDICAL SYSTEMS
  institution = JFK IMAGING CENTER
  institutionAddress = 
  referringPhysician = 
  stationName = CT01_OC0
  studyDescription = e+1
  seriesDescription = 
  manufacturerModel = RHAPSODE
FenraDicomAcquisition
  groupID = 24
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  deviceSerialNumber = 
  spatialResolution = 
  secondaryCaptureDate = 
  secondaryCaptureTime = 
  softwareVersion = FenraDicomValue
  lastCalibrationDate = nil
  lastCalibrationTime = nil
FenraDicomImage
  groupID = 32
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  studyInstanceUID = 1.3.6.1.4.1.5962.1.2.1.20040119072730.12322
  seriesInstanceUID = 1.3.6.1.4.1.5962.1.3.1.1.20040119072730.12322
  studyID = 1CT1
  seriesNumber = 1
  acquisitionNumber = 2
  instanceNumber = 1
  imageComments = FenraDicomValue
ORIGINAL\PRIMARY\AXIAL
05
Uncompressed
)");
}

// Text, numbers, dates, person names and an item of a sequence, changed through the views and
// their typed values and read back, down to the file's tree once stored there.
TEST(PluginDataSets, ChangedValuesReadBack) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
p = t.value(16)
p.name = "Doe^Jane^Q"
p.sex = "female"
p.birthDate = "19800229"
p.weight = "72.5"
raw = p.value(16)
pn = FenraDicomSystem.createDataElementValue(raw)
print pn.givenName
pn.familyName = "Roe"
p.value(16) = pn
print p.name
print p.sex
print p.birthDate
print p.weight
p.sex = "x"
print p.sex
s = t.value(8)
day = FenraDicomDate.Constructor(1999, 12, 31)
s.value(32) = day
print s.studyDate
clock = FenraDicomTime.Constructor(23, 59, 58)
s.value(48) = clock
print s.studyTime
s.modality = "MR"
print s.modality
px = t.value(40)
px.width = 64
px.height = 32
px.intercept = -1000.5
px.slope = 2
print px.width
print px.height
print px.intercept
print px.slope
seq = p.value(4098)
print seq.elementID
item = seq.value(2)
ids = item.value(16)
print ids.id
ids.id = "ZZZ999"
item.value(16) = ids
seq.value(2) = item
p.value(4098) = seq
t.value(16) = p
stored = t.value(16)
print stored.name
seq2 = stored.value(4098)
item2 = seq2.value(2)
ids2 = item2.value(16)
print ids2.id
first = seq2.value(1)
ids1 = first.value(16)
print ids1.id
)"),
              "Jane\nRoe^Jane^Q\nF\n19800229\n72.5\nO\n19991231\n235958\nMR\n64\n32\n-1000.5\n2\n4098\n"
              "1234ABCD\nRoe^Jane^Q\nZZZ999\nABCD1234\n");
}

// Value properties store raw values of the element's own representation; one of another
// representation is refused and leaves no element behind.
TEST(PluginDataSets, ValuePropertiesStoreRawValues) {
    EXPECT_EQ(
        output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
s = t.value(8)
cs = FenraDicomValue.Constructor("CS")
cs.stringValue() = "ISO_IR 192"
s.characterSet = cs
back = s.characterSet
print back.stringValue()
pn = FenraDicomValue.Constructor("PN")
pn.stringValue() = "Who^Did^It"
s.performingPhysician = pn
doc = s.performingPhysician
print doc.stringValue()
ae = FenraDicomValue.Constructor("AE")
ae.stringValue() = "WRONG"
s.imageType = ae
kind = s.imageType
print kind.stringValue()
a = t.value(24)
day = FenraDicomDate.Constructor(2001, 2, 3)
raw = day.value
a.lastCalibrationDate = raw
cal = a.lastCalibrationDate
print cal.stringValue()
us = FenraDicomValue.Constructor("US")
us.integerValue(-1) = 5
a.lastCalibrationTime = us
print a.lastCalibrationTime
print a.dataElement(4609)
px = t.value(40)
ds = FenraDicomDecimalString.Constructor(40.5)
centre = ds.value
px.windowCenter = centre
wc = px.windowCenter
print wc.stringValue()
px.windowWidth = us
print px.dataElement(4177)
i = t.value(32)
lt = FenraDicomText.createWithLongText("new comment")
ltraw = lt.value
i.imageComments = ltraw
note = i.imageComments
print note.stringValue()
)"),
        "ISO_IR 192\nWho^Did^It\nORIGINAL\\PRIMARY\\AXIAL\n20010203\nnil\nnil\n40.5\nnil\nnew comment\n");
}

// Getters deep-copy: a changed copy reaches its set, item or sequence only when stored back, and
// nothing is handed out by reference.
TEST(PluginDataSets, GettersHandOutCopies) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
p = t.value(16)
p.name = "Changed^Here"
again = t.value(16)
print again.name
print p.valueByRef(16)
seq = p.value(4098)
print seq.valueByRef(1)
item = seq.value(1)
print item.valueByRef(16)
ids = item.value(16)
ids.id = "NEW"
look = item.value(16)
print look.id
item.value(16) = ids
look = item.value(16)
print look.id
fresh = seq.value(1)
fids = fresh.value(16)
print fids.id
copy = FenraDicomPatient.Constructor(p)
copy.name = "Other^Name"
print p.name
print copy.name
raw = p.value(16)
raw.stringValue() = "Raw^Edit"
print p.name
list = p.values
p.name = "After^List"
rebuilt = FenraDicomDataSet.Constructor(16)
rebuilt.values = list
name = rebuilt.value(16)
print name.stringValue()
)"),
              "CompressedSamples^CT1\nnil\nnil\nnil\nABCD1234\nNEW\nABCD1234\nChanged^Here\nOther^Name\n"
              "Changed^Here\nChanged^Here\n");
}

// Data sets, items and sequences built by the host: keys, values as lists, data elements,
// elements the dictionary does not know, and sequences whose items count from 1.
TEST(PluginDataSets, SetsItemsAndSequencesBuiltByTheHost) {
    EXPECT_EQ(output(R"(set = FenraDicomDataSet.Constructor(9)
print set.groupID
name = FenraDicomLongString.Constructor("vendor text")
set.value(4096) = name
raw = FenraDicomValue.Constructor("SL")
raw.integerValue(-1) = -7
set.privateValue(4097, "SL", raw)
set.privateValue(4098, "UL", raw)
set.privateValue(4099, "SLX", raw)
set.privateValue(4099, nil, raw)
print set.value(4098)
print set.value(4099)
keys = set.keys
print keys.integerValue(0)
print keys.integerValue(1)
back = set.value(4097)
print back.valueFormat
print back.integerValue(0)
element = set.dataElement(4096)
print element.vr
held = element.value
print held.stringValue
tag = FenraDicomAttributeTag.Constructor(9, 4100)
text = FenraDicomShortString.Constructor("short")
made = FenraDicomDataElement.Constructor(tag, "SH", "1", text)
set.dataElement(1) = made
stored = set.value(4100)
print stored.stringValue()
other = FenraDicomAttributeTag.Constructor(16, 16)
pn = FenraDicomPersonName.Constructor("A", "B")
foreign = FenraDicomDataElement.Constructor(other, pn)
set.dataElement(16) = foreign
print set.value(16)
list = set.values
copy = FenraDicomDataSet.Constructor(9)
copy.values = list
ckeys = copy.keys
print ckeys.integerValue(2)
h = FenraDicomSystem.metaInformationsFromFile("@CORPUS@/CT_small.dcm")
print h.groupLength
item = FenraDicomItem.Constructor()
item.value(9) = set
item.value(16) = set
ik = item.keys
print ik.integerValue(0)
print ik.integerValue(1)
vals = item.values
item2 = FenraDicomItem.Constructor()
item2.values = vals
again = item2.value(9)
print again.groupID
seq = FenraDicomItemSequence.Constructor(4098)
print seq.elementID
seq.value(1) = item
seq.value(3) = item2
seq.value(2) = item2
print seq.value(3)
seq.elementID = 0
seq.elementID = 70000
print seq.elementID
seq.elementID = 4099
print seq.elementID
items = seq.values
seq2 = FenraDicomItemSequence.Constructor()
seq2.values = items
second = seq2.value(2)
skeys = second.keys
print skeys.integerValue(0)
print seq2.value(3)
)"),
              "9\nnil\nnil\n4096\n4097\nSL\n-7\nLO\nvendor text\nshort\nnil\n4100\n192\n9\n0\n9\n4098\nnil\n"
              "4098\n4099\n9\nnil\n");
}

// Host indexes count from 1; index 0, negative keys and keys past 16 bits give nil, and a
// sequence takes a new item only just past its last.
TEST(PluginDataSets, EmptyObjectsAndOutOfRangeParametersGiveEmptyResults) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
p = t.value(16)
seq = p.value(4098)
first = seq.value(1)
ids = first.value(16)
print ids.id
print seq.value(0)
print seq.value(3)
print seq.value(-1)
print p.value(-1)
print p.value(70000)
print p.value(17)
print p.dataElement(-1)
print p.dataElement(70000)
print first.value(8)
print first.value(70000)
seq.value(0) = first
seq.value(5) = first
seq.value(3) = first
print seq.value(4)
third = seq.value(3)
tids = third.value(16)
print tids.id
big = FenraDicomDataSet.Constructor(70000)
print big
odd = FenraDicomPatient.Constructor(16)
odd.name = "A^B"
print odd.name
bad = FenraDicomHeader.Constructor("@SCRATCH@/plain.txt")
print bad
lut = FenraDicomPixelLut.Constructor(-1, 8, false)
print lut
)"),
              R"(ABCD1234
nil
nil
nil
nil
nil
nil
nil
nil
nil
nil
nil
ABCD1234
FenraDicomDataSet
  groupID = 0
  groupLength = 0
  keys = nil
  values = nil

FenraDicomHeader
  groupID = 0
  groupLength = 0
  keys = nil
  values = nil
  isDataCompressed = false
  version = nil
  sopClass = 
  sopInstance = 
  encoding = 
  implementation = 
  implementationVers = 
  appEntityTitle = 
  privateInfoCreator = 
  privateInfo = nil
FenraDicomPixelLut
  entries = 0
  bitsPerEntry = 0
  sizeOfLuts = 0
  lastMappedValue = 0
  firstMappedValue = 0
  hasAlpha = false
  lutRed = nil
  lutGreen = nil
  lutBlue = nil
  lutAlpha = nil
)");
}

// nil arguments are ignored (except where they clear a value); objects of another class are
// refused by the host where the declaration names the class, and by the plug-in where it cannot.
TEST(PluginDataSets, NilArgumentsAndObjectsOfAnotherClass) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
p = t.value(16)
p.name = nil
print p.name
p.value(16) = nil
print p.name
seq = p.value(4098)
item = seq.value(1)
item.values = nil
ids = item.value(16)
print ids.id
item.value(16) = seq
s = t.value(8)
item.value(8) = s
ik = item.keys
print ik.integerValue(0)
print ik.integerValue(1)
seq.value(1) = s
first = seq.value(1)
fk = first.keys
print fk.integerValue(0)
pn = FenraDicomPersonName.Constructor("X", "Y")
item.value(16) = pn
again = item.value(16)
print again.id
s.value(32) = item
print s.studyDate
asStudy = FenraDicomStudy.Constructor(p)
print asStudy.modality
)"),
              "CompressedSamples^CT1\nCompressedSamples^CT1\nABCD1234\n8\n16\n16\nABCD1234\n20040119\n\n");
    ScriptRun refused = script(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
s = t.value(8)
fs = FenraDicomFileSet.Constructor(4)
fs.directory = s
)");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("line 4: fs.directory = s: FenraDicomFileSet.directory expects a "
                               "FenraDicomItemSequence, not a FenraDicomStudy"),
              std::string::npos)
        << refused.err;
}

// The directory information of a DICOMDIR and its records; the file meta information made new,
// read from a file and given another encoding; the views' constants.
TEST(PluginDataSets, FileSetAndHeader) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/dicomdirtests/DICOMDIR")
fs = t.value(4)
print fs.fileSetID
print fs.isConsistent
print fs.isActive
dir = fs.directory
print dir.elementID
record = dir.value(1)
rs = record.value(4)
print rs.directoryRecordType
print rs.isActive
rs.isActive = false
print rs.isActive
rs.directoryRecordType = "NOT A TYPE"
print rs.directoryRecordType
rs.directoryRecordType = FenraDicomFileSet.kDir_Study
print rs.directoryRecordType
fs.isConsistent = false
print fs.isConsistent
fs.fileSetID = nil
print fs.fileSetID
fs.sopClassInFile = "1.2.3"
fs.sopClassInFile = nil
print fs.sopClassInFile
fs.directory = nil
print fs.directory
wrong = FenraDicomItemSequence.Constructor(4098)
fs.directory = wrong
print fs.directory
fs.directory = dir
kept = fs.directory
print kept.elementID
print FenraDicomHeader.kEnc_ImplicitLE
print FenraDicomHeader.kEnc_JPEG2000
print FenraDicomHeader.kClass_DicomDir
print FenraDicomHeader.kClass_ComputedRadiography
print FenraDicomFileSet.kDir_Interpretation
h = FenraDicomHeader.Constructor("@CORPUS@/CT_small.dcm")
print h.implementationVers
h.encoding = FenraDicomHeader.kEnc_RLELossless
print h.isDataCompressed
print h.encoding
made = FenraDicomHeader.Constructor()
print made
)"),
              R"(PYDICOM_TEST
true
false
4640
PATIENT
true
false
PATIENT
STUDY
false

1.2.3
nil
nil
4640
1.2.840.10008.1.2
1.2.840.10008.1.2.4.91
1.2.840.10008.1.3.10
1.2.840.10008.5.1.4.1.1.1
INTERPRETATION
DCTOOL100
true
1.2.840.10008.1.2.5
FenraDicomHeader
  groupID = 2
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  isDataCompressed = false
  version = FenraDicomValue
  sopClass = 
  sopInstance = 
  encoding = 1.2.840.10008.1.2.1
  implementation = 
  implementationVers = kelvodicom63
  appEntityTitle = kelvodicom
  privateInfoCreator = 
  privateInfo = nil
)");
}

// The image pixel view's rules and objects, and palettes made by the host and stored in a view.
TEST(PluginDataSets, ImagePixelViewAndPalettes) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/MR_small.dcm")
px = t.value(40)
c = px.windowCenter
print c.stringValue()
levels = px.defaultWindowLevels
px.samplesPerPixel = 3
print px.samplesPerPixel
px.samplesPerPixel = 2
print px.samplesPerPixel
px.framesCount = 0
print px.framesCount
px.framesCount = 12
print px.framesCount
px.photoInterpretation = "NOT ONE"
print px.photoInterpretation
px.photoInterpretation = "MONOCHROME1"
print px.photoInterpretation
px.pixelIntensityRelationship = "LOG"
print px.pixelIntensityRelationship
px.rescaleType = "HU"
print px.rescaleType
px.isTwoComplement = false
print px.isTwoComplement
px.posterFrame = 3
px.posterFrame = 70000
print px.posterFrame
px.intercept = 1e300
print px.intercept
size = px.imageSize
other = FenraDicomImagePixel.Constructor()
print other.width
other.imageSize = size
print other.width
other.defaultWindowLevels = levels
w = other.windowWidth
print w.stringValue()
print other.colorPalette
lut = FenraDicomPixelLut.Constructor(256, 16, false)
lut.firstMappedValue = 10
lut.firstMappedValue = -1
lut.firstMappedValue = 65536
print lut.lastMappedValue
lut.hasAlpha = true
print lut.hasAlpha
red = lut.lutRed
print red.Size
lut.init(16, 8, true)
other.photoInterpretation = "PALETTE COLOR"
other.colorPalette = lut
pal = other.colorPalette
print pal
)"),
              R"(600
3
1
1
12
MONOCHROME2
MONOCHROME1
LOG
HU
false
3
0
0
64
1600
nil
265
false
512
FenraDicomPixelLut
  entries = 16
  bitsPerEntry = 8
  sizeOfLuts = 16
  lastMappedValue = 15
  firstMappedValue = 0
  hasAlpha = true
  lutRed = MemoryBlock
  lutGreen = MemoryBlock
  lutBlue = MemoryBlock
  lutAlpha = MemoryBlock
)");
}

namespace {

class PluginInProcess : public plugintest::PluginTest {};

} // namespace

// A palette table takes a block of exactly its size and nothing else.
TEST_F(PluginInProcess, TablesTakeBlocksOfTheirOwnSizeOnly) {
    CallOutcome made =
        host().construct("FenraDicomPixelLut", {Value::integer(4), Value::integer(8), Value::boolean(false)});
    ASSERT_TRUE(made.ok) << made.error;
    Value lut = made.result;
    // The host services answer for the host that is active.
    HostRuntime::Scope active(&host());
    auto newBlock =
        reinterpret_cast<REALmemoryBlock (*)(RBInteger)>(HostRuntime::resolve("REALNewMemoryBlock"));
    auto bytesOf =
        reinterpret_cast<void* (*)(REALmemoryBlock)>(HostRuntime::resolve("REALMemoryBlockGetPtr"));
    auto block = [&](const std::string& bytes) {
        Value b = Value::adoptObject(newBlock(RBInteger(bytes.size())));
        if (b.isNil()) return b;
        std::memcpy(bytesOf(b.object()), bytes.data(), bytes.size());
        return b;
    };
    auto red = [&] {
        Value b = host().getProperty(lut, "lutRed");
        if (b.isNil()) return std::string("nil");
        return std::string(static_cast<const char*>(bytesOf(b.object())), 4);
    };
    std::string why;
    ASSERT_TRUE(host().setProperty(lut, "lutRed", block("\x01\x02\x03\x04"), why)) << why;
    EXPECT_EQ(red(), "\x01\x02\x03\x04");
    ASSERT_TRUE(host().setProperty(lut, "lutRed", block("\x09\x09\x09"), why)) << why;
    EXPECT_EQ(red(), "\x01\x02\x03\x04");
    ASSERT_TRUE(host().setProperty(lut, "lutRed", block("\x09\x09\x09\x09\x09"), why)) << why;
    EXPECT_EQ(red(), "\x01\x02\x03\x04");
    ASSERT_TRUE(host().setProperty(lut, "lutRed", Value::nil(), why)) << why;
    EXPECT_EQ(red(), "\x01\x02\x03\x04");
    EXPECT_TRUE(host().getProperty(lut, "lutAlpha").isNil());
}

// The window range of the image pixel view is for programs with windows: a console host does not
// see it.
TEST_F(PluginInProcess, ConsoleProgramsDoNotSeeTheWindowRange) {
    CallOutcome tree = host().callModule(
        "FenraDicomSystem", "openFile",
        {host().newFolderItem(std::string(testsupport::pydicomTestFiles()) + "/MR_small.dcm")});
    ASSERT_TRUE(tree.ok) << tree.error;
    CallOutcome pixel = host().callMethod(tree.result, "value", {Value::integer(40)});
    ASSERT_TRUE(pixel.ok) << pixel.error;
    EXPECT_EQ(pixel.result.className(), "FenraDicomImagePixel");
    CallOutcome range =
        host().callMethod(pixel.result, "windowRange", std::vector<Value>(4, Value::integer(0)));
    EXPECT_FALSE(range.ok);
}

// A program with windows gets the four numbers through its byref parameters, each where its name
// says, as the toolkit's own view of the file gives them.
TEST_F(PluginInProcess, WindowRangeFillsItsFourParameters) {
    const std::string path = std::string(testsupport::pydicomTestFiles()) + "/MR_small.dcm";
    CallOutcome tree = host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(path)});
    ASSERT_TRUE(tree.ok) << tree.error;
    Value pixel = host().callMethod(tree.result, "value", {Value::integer(40)}).result;
    ASSERT_FALSE(pixel.isNil());
    const ClassInfo* cls = host().findClass("FenraDicomImagePixel");
    ASSERT_NE(cls, nullptr);
    using WindowRange = void (*)(REALobject, RBInteger*, RBInteger*, RBInteger*, RBInteger*);
    WindowRange windowRange = nullptr;
    for (const auto& m : cls->methods)
        if (m.decl.name == "windowRange") windowRange = reinterpret_cast<WindowRange>(m.function);
    ASSERT_NE(windowRange, nullptr);

    std::unique_ptr<KelvoDicomDataTree> own(KelvoDicomDataTree::openFile(path.c_str()));
    ASSERT_TRUE(own);
    std::unique_ptr<Kelvo_QTObj> set(own->getObjValue(0x0028));
    ASSERT_TRUE(set && set->isA("KelvoDicomDataImagePixel"));
    int32_t maxC = 0, minC = 0, maxW = 0, minW = 0;
    static_cast<KelvoDicomDataImagePixel*>(set.get())->windowRange(maxC, minC, maxW, minW);
    ASSERT_FALSE(maxC == minC && maxW == minW) << "the file gives no range to tell the four apart";

    RBInteger got[4] = {-1, -1, -1, -1};
    {
        HostRuntime::Scope active(&host());
        windowRange(pixel.object(), &got[0], &got[1], &got[2], &got[3]);
    }
    EXPECT_EQ(got[0], minC);
    EXPECT_EQ(got[1], maxC);
    EXPECT_EQ(got[2], minW);
    EXPECT_EQ(got[3], maxW);
    // An object that is not an image pixel view leaves all four at 0.
    Value item = host().construct("FenraDicomItem", {}).result;
    {
        HostRuntime::Scope active(&host());
        windowRange(item.object(), &got[0], &got[1], &got[2], &got[3]);
    }
    EXPECT_EQ(got[0] | got[1] | got[2] | got[3], 0);
}

// The image pixel view of a CT file, whole, and its image description applied to a new view. Read
// in this process: the description reaches the platform's codec catalogue, which lives as long as
// the plug-in that made it is loaded.
TEST_F(PluginInProcess, ImagePixelViewOfACorpusFile) {
    const std::string path = std::string(testsupport::pydicomTestFiles()) + "/CT_small.dcm";
    CallOutcome tree = host().callModule("FenraDicomSystem", "openFile", {host().newFolderItem(path)});
    ASSERT_TRUE(tree.ok) << tree.error;
    Value pixel = host().callMethod(tree.result, "value", {Value::integer(40)}).result;
    EXPECT_EQ(host().describe(pixel), R"(FenraDicomImagePixel
  groupID = 40
  groupLength = 0
  keys = FenraDicomValue
  values = FenraObjectsList
  photoInterpretation = MONOCHROME2
  rescaleType = 
  pixelIntensityRelationship = 
  isTwoComplement = true
  hasWindowing = true
  frameIncrementPointer = nil
  windowCenter = nil
  windowWidth = nil
  samplesPerPixel = 1
  planarType = 0
  height = 128
  width = 128
  bitsAllocated = 16
  bitsStored = 16
  highBit = 15
  framesCount = 1
  posterFrame = 0
  intercept = -1024
  slope = 1
  imageSettings = FenraImageDesc
  colorPalette = nil
  imageSize = FenraSize
  defaultWindowLevels = FenraNumericalRange
  windowCenterRange = FenraNumericalRange
  windowWidthRange = FenraNumericalRange)");
    Value desc = host().getProperty(pixel, "imageSettings");
    EXPECT_EQ(desc.className(), "FenraImageDesc");
    Value other = host().construct("FenraDicomImagePixel", {}).result;
    std::string why;
    ASSERT_TRUE(host().setProperty(other, "imageSettings", desc, why)) << why;
    EXPECT_EQ(host().getProperty(other, "width").asInteger(), 128);
    EXPECT_EQ(host().getProperty(other, "height").asInteger(), 128);
    EXPECT_EQ(host().getProperty(other, "photoInterpretation").text(), "MONOCHROME2");
}

// Reading the image settings reaches the codec registry, which lives as long as the process: the
// plug-in stays mapped after the host lets go of it, so no leak is reported at the end.
TEST(PluginDataSets, ImageSettingsReadThroughAScript) {
    EXPECT_EQ(output(R"(t = FenraDicomSystem.openFile("@CORPUS@/CT_small.dcm")
pixel = t.value(40)
settings = pixel.imageSettings
print settings
)"),
              "FenraImageDesc\n");
}

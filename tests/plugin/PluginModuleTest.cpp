// The module FenraDicomSystem called through the host on real files: the pydicom corpus and
// files made from it with DCMTK at test time; dumps are compared with the toolkit's own.
#include "KelvoDicomData.h"
#include "KelvoDicomDataTree.h"
#include "PluginHost.h"

#include <cctype>
#include <filesystem>
#include <memory>
#include <regex>

using namespace sylhost;
using plugintest::host;

namespace {

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

class PluginModule : public plugintest::PluginTest {
  protected:
    CallOutcome module(const std::string& function, std::vector<Value> args) {
        CallOutcome out = host().callModule("FenraDicomSystem", function, std::move(args));
        EXPECT_TRUE(out.ok) << out.error;
        EXPECT_FALSE(out.exception.object()) << function << " raised an exception";
        return out;
    }
    Value item(const std::string& path) { return host().newFolderItem(path); }
    // A folder item that gives no path.
    Value noPath() { return host().newFolderItem(""); }
    int64_t status(const std::string& function, const std::string& src, const std::string& dst) {
        return module(function, {item(src), item(dst)}).result.asInteger();
    }
};

// What the toolkit itself writes for the file.
std::string toolkitDump(const std::string& path, bool xml, const std::string& scratch) {
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path.c_str()));
    if (!tree) return "no tree";
    if (xml)
        tree->toXmlFile(scratch.c_str());
    else
        tree->toTextFile(scratch.c_str());
    return tree->Error() == 0 ? testsupport::readFile(scratch) : "error " + std::to_string(tree->Error());
}

} // namespace

TEST_F(PluginModule, MimeType) {
    EXPECT_EQ(module("dicomMimeType", {}).result.text(), "application/dicom");
}

TEST_F(PluginModule, IsFileDicomFile) {
    testsupport::ScratchDir dir("plugin-isdicom");
    testsupport::writeFile(dir.file("text.txt"), std::string(200, 'x') + "DICM but not at 128");
    struct Case {
        std::string path;
        bool dicom;
    };
    const Case cases[] = {
        {corpus("CT_small.dcm"), true},
        {corpus("MR_small_bigendian.dcm"), true},
        {corpus("dicomdirtests/DICOMDIR"), true},
        // No preamble and no meta header, but a first tag the dictionary knows.
        {corpus("ExplVR_LitEndNoMeta.dcm"), true},
        {corpus("ExplVR_BigEndNoMeta.dcm"), true},
        {dir.file("text.txt"), false},
        {dir.file("missing.dcm"), false},
        {dir.path().string(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(module("isFileDicomFile", {item(c.path)}).result.asBoolean(), c.dicom);
    }
    EXPECT_FALSE(module("isFileDicomFile", {noPath()}).result.asBoolean());
    EXPECT_FALSE(module("isFileDicomFile", {Value::nil()}).result.asBoolean());
}

TEST_F(PluginModule, MetaInformationsFromFile) {
    Value header = module("metaInformationsFromFile", {item(corpus("CT_small.dcm"))}).result;
    EXPECT_EQ(header.className(), "FenraDicomHeader");
    EXPECT_EQ(plugintest::toolkitClass(header), "KelvoDicomDataHeader");
    EXPECT_EQ(plugintest::recordOf(header)->byRef, 0);
    EXPECT_TRUE(module("metaInformationsFromFile", {item("/etc/hostname")}).result.isNil());
    EXPECT_TRUE(module("metaInformationsFromFile", {noPath()}).result.isNil());
}

TEST_F(PluginModule, DumpsEqualTheToolkitsOwn) {
    testsupport::ScratchDir dir("plugin-dumps");
    for (const char* name :
         {"CT_small.dcm", "MR_small_bigendian.dcm", "rtplan.dcm", "dicomdirtests/DICOMDIR"}) {
        SCOPED_TRACE(name);
        std::string src = corpus(name);
        EXPECT_EQ(status("dumpFileToTextFile", src, dir.file("dump.txt")), 0);
        EXPECT_EQ(testsupport::readFile(dir.file("dump.txt")), toolkitDump(src, false, dir.file("own.txt")));
        EXPECT_EQ(status("dumpFileToXmlFile", src, dir.file("dump.xml")), 0);
        EXPECT_EQ(testsupport::readFile(dir.file("dump.xml")), toolkitDump(src, true, dir.file("own.xml")));
        int wellFormed = -1;
        testsupport::run("xmllint --noout " + dir.file("dump.xml") + " 2>/dev/null", &wellFormed);
        EXPECT_EQ(wellFormed, 0);
    }
}

TEST_F(PluginModule, FileFunctionsReportFailuresWithTheirCodes) {
    testsupport::ScratchDir dir("plugin-codes");
    testsupport::writeFile(dir.file("text.txt"), "not a DICOM file at all");
    const std::string ct = corpus("CT_small.dcm");
    for (const char* function : {"dumpFileToTextFile", "dumpFileToXmlFile", "anonymizeFile"}) {
        SCOPED_TRACE(function);
        // A folder item without a path, as source or destination; nothing is written.
        EXPECT_EQ(module(function, {noPath(), item(dir.file("out"))}).result.asInteger(), -108);
        EXPECT_EQ(module(function, {item(ct), noPath()}).result.asInteger(), -108);
        EXPECT_EQ(module(function, {Value::nil(), item(dir.file("out"))}).result.asInteger(), -108);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
        // Not a DICOM tree at all.
        EXPECT_EQ(status(function, dir.file("missing.dcm"), dir.file("out")), 100);
        EXPECT_EQ(status(function, dir.file("text.txt"), dir.file("out")), 100);
        // A file whose read fails part way, and a syntax that cannot be read: never 0.
        EXPECT_NE(status(function, corpus("MR_truncated.dcm"), dir.file("out")), 0);
        EXPECT_NE(status(function, corpus("rtplan_truncated.dcm"), dir.file("out")), 0);
        EXPECT_EQ(status(function, corpus("image_dfl.dcm"), dir.file("out")), 301);
        // A destination that cannot be created.
        EXPECT_EQ(status(function, ct, dir.file("no/such/folder/out")), 101);
    }
}

TEST_F(PluginModule, AnonymizeFileWritesAFileThePeersRead) {
    testsupport::ScratchDir dir("plugin-anon");
    const std::string out = dir.file("anon.dcm");
    ASSERT_EQ(status("anonymizeFile", corpus("CT_small.dcm"), out), 0);
    int dumped = -1;
    std::string dump = testsupport::run("dcmdump -q " + out + " 2>&1", &dumped);
    EXPECT_EQ(dumped, 0) << dump;
    int read = -1;
    std::string fields = testsupport::run(
        "/usr/bin/python3 -c \"import pydicom,sys; d=pydicom.dcmread(sys.argv[1]); "
        "print(d.PatientName); print(d.PatientID); print(d.Modality); print(len(d.PixelData))\" " +
            out + " 2>&1",
        &read);
    ASSERT_EQ(read, 0) << fields;
    std::string original = testsupport::run(
        "/usr/bin/python3 -c \"import pydicom,sys; d=pydicom.dcmread(sys.argv[1]); "
        "print(d.PatientName); print(d.PatientID); print(d.Modality); print(len(d.PixelData))\" " +
        corpus("CT_small.dcm"));
    auto lines = [](const std::string& text) {
        std::vector<std::string> v;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            v.push_back(text.substr(start, end - start));
        return v;
    };
    auto anonymised = lines(fields), source = lines(original);
    ASSERT_EQ(anonymised.size(), 4u);
    ASSERT_EQ(source.size(), 4u);
    EXPECT_EQ(source[0], "CompressedSamples^CT1");
    EXPECT_NE(anonymised[0], source[0]);
    EXPECT_FALSE(anonymised[0].empty());
    EXPECT_NE(anonymised[1], source[1]);
    EXPECT_FALSE(anonymised[1].empty());
    EXPECT_EQ(anonymised[2], source[2]); // what is not identifying stays
    EXPECT_EQ(anonymised[3], source[3]); // the pixel data come along whole
}

TEST_F(PluginModule, OpenFileGivesTheDocumentKind) {
    Value document = module("openFile", {item(corpus("CT_small.dcm"))}).result;
    EXPECT_EQ(document.className(), "FenraDicomDocument");
    EXPECT_EQ(plugintest::toolkitClass(document), "KelvoDicomDocument");
    Value directory = module("openFile", {item(corpus("dicomdirtests/DICOMDIR"))}).result;
    EXPECT_EQ(directory.className(), "FenraDicomDirectoryDocument");
    EXPECT_EQ(plugintest::toolkitClass(directory), "KelvoDicomDirectoryDocument");
    EXPECT_TRUE(module("openFile", {item("/etc/hostname")}).result.isNil());
    EXPECT_TRUE(module("openFile", {noPath()}).result.isNil());
}

TEST_F(PluginModule, LoadExternalDictionary) {
    testsupport::ScratchDir dir("plugin-dictionary");
    // An implicit-VR file: the value representation of a private element comes from a dictionary.
    int made = -1;
    testsupport::run("dcmconv +ti " + corpus("CT_small.dcm") + " " + dir.file("implicit.dcm"), &made);
    ASSERT_EQ(made, 0);
    EXPECT_EQ(status("dumpFileToTextFile", dir.file("implicit.dcm"), dir.file("before.txt")), 0);
    EXPECT_NE(testsupport::readFile(dir.file("before.txt")).find("[Element id=1001 vr=UN"),
              std::string::npos);

    testsupport::writeFile(dir.file("dict.txt"), "# GE private\n0009,1001 FullFidelity LO 1\n");
    // Not one line with a tag: no dictionary of this format.
    testsupport::writeFile(dir.file("bad.txt"), "FullFidelity LO 1\n0009;1001 FullFidelity LO 1\n");
    Value description = host().newString("GE private");
    EXPECT_EQ(module("loadExternalDictionary", {item(dir.file("dict.txt")), description}).result.asInteger(),
              0);
    EXPECT_EQ(status("dumpFileToTextFile", dir.file("implicit.dcm"), dir.file("after.txt")), 0);
    EXPECT_NE(testsupport::readFile(dir.file("after.txt")).find("[Element id=1001 vr=LO"), std::string::npos);

    EXPECT_EQ(module("loadExternalDictionary", {noPath(), description}).result.asInteger(), -50);
    EXPECT_EQ(module("loadExternalDictionary", {item(dir.file("missing.txt")), Value::nil(TypeKind::String)})
                  .result.asInteger(),
              100);
    EXPECT_EQ(module("loadExternalDictionary", {item(dir.file("bad.txt")), description}).result.asInteger(),
              111);
}

TEST_F(PluginModule, CreateAnonymousIDAndUID) {
    std::string id = module("createAnonymousID", {}).result.text();
    EXPECT_EQ(id.size(), 14u);
    EXPECT_TRUE(std::all_of(id.begin(), id.end(), [](char c) { return std::isdigit((unsigned char)c); }))
        << id;
    // Calls in a row, all within a second or two: never the same identifier twice.
    for (int i = 0; i < 4; ++i) {
        std::string next = module("createAnonymousID", {}).result.text();
        EXPECT_EQ(next.size(), 14u);
        EXPECT_GT(next, id);
        id = next;
    }

    auto wellFormed = [](const std::string& uid) {
        return !uid.empty() && uid.size() <= 64 && uid.front() != '.' && uid.back() != '.' &&
               uid.find("..") == std::string::npos && std::all_of(uid.begin(), uid.end(), [](char c) {
                   return c == '.' || std::isdigit((unsigned char)c);
               });
    };
    // No argument: the declaration's empty default, which is no prefix.
    CallOutcome plain = host().callText("FenraDicomSystem.createUID", {});
    ASSERT_TRUE(plain.ok) << plain.error;
    std::string first = plain.result.text();
    EXPECT_EQ(first.rfind("1.650.", 0), 0u) << first;
    EXPECT_TRUE(wellFormed(first)) << first;
    std::string second = module("createUID", {host().newString("")}).result.text();
    EXPECT_EQ(second.rfind("1.650.", 0), 0u);
    EXPECT_NE(first, second);
    std::string rooted = module("createUID", {host().newString("1.2.826.0.1")}).result.text();
    EXPECT_EQ(rooted.rfind("1.2.826.0.1.", 0), 0u) << rooted;
    EXPECT_TRUE(wellFormed(rooted)) << rooted;
    EXPECT_NE(rooted, module("createUID", {host().newString("1.2.826.0.1")}).result.text());
    EXPECT_EQ(module("createUID", {Value::nil(TypeKind::String)}).result.text().rfind("1.650.", 0), 0u);
    // A root that cannot make UIDs that never repeat, or that no UID can start with, makes none.
    for (const std::string& root :
         {std::string("abc.def"), std::string("1.2.3."), "1." + std::string(37, '2')})
        EXPECT_EQ(module("createUID", {host().newString(root)}).result.text(), "") << root;
    const std::string longest =
        module("createUID", {host().newString("1." + std::string(36, '2'))}).result.text();
    EXPECT_TRUE(wellFormed(longest)) << longest;
    EXPECT_EQ(longest.rfind("1." + std::string(36, '2') + ".", 0), 0u) << longest;
}

TEST_F(PluginModule, CreateDataElementValueFromAFormat) {
    struct Case {
        const char* vr;
        const char* hostClass;
        const char* toolkitClass;
    };
    const Case cases[] = {
        {"US", "FenraDicomNumber", "KelvoDicomDataUnsignedShort"},
        {"FD", "FenraDicomNumber", "KelvoDicomDataDouble"},
        {"DA", "FenraDicomDate", "KelvoDicomDataDate"},
        {"PN", "FenraDicomPersonName", "KelvoDicomDataPersonName"},
        {"LT", "FenraDicomText", "KelvoDicomDataLongText"},
        {"UI", "FenraDicomUID", "KelvoDicomDataUID"},
        {"DS", "FenraDicomDecimalString", "KelvoDicomDecimalString"},
        {"OB", "FenraDicomBinaryValue", "KelvoDicomDataOtherByte"},
        {"AT", "FenraDicomAttributeTag", "KelvoDicomDataAttributeTag"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vr);
        CallOutcome out = host().callText("FenraDicomSystem.createDataElementValue", {c.vr});
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_EQ(out.result.className(), c.hostClass);
        EXPECT_EQ(plugintest::toolkitClass(out.result), c.toolkitClass);
    }
    EXPECT_TRUE(module("createDataElementValue", {Value::nil(TypeKind::String)}).result.isNil());
    EXPECT_TRUE(module("createDataElementValue", {host().newString("")}).result.isNil());
}

// Every format of the VR table gives its value class, the later VRs their raw value; a text
// that names no VR gives nil, never a value over nothing.
TEST_F(PluginModule, CreateDataElementValueOnlyForKnownFormats) {
    struct Case {
        const char* format;
        const char* hostClass; // nullptr: nil
        const char* toolkitClass;
    };
    const Case cases[] = {
        {"AE", "FenraDicomApplicationEntity", "KelvoDicomDataApplicationEntity"},
        {"AS", "FenraDicomAge", "KelvoDicomDataAge"},
        {"CS", "FenraDicomCodeString", "KelvoDicomDataCodeString"},
        {"DT", "FenraDicomDateTime", "KelvoDicomDataDateTime"},
        {"IS", "FenraDicomIntegerString", "KelvoDicomIntegerString"},
        {"LO", "FenraDicomLongString", "KelvoDicomDataLongString"},
        {"SH", "FenraDicomShortString", "KelvoDicomDataShortString"},
        {"ST", "FenraDicomText", "KelvoDicomDataShortText"},
        {"TM", "FenraDicomTime", "KelvoDicomDataTime"},
        {"UT", "FenraDicomText", "KelvoDicomDataUnlimitedText"},
        {"UL", "FenraDicomNumber", "KelvoDicomDataUnsignedLong"},
        {"SS", "FenraDicomNumber", "KelvoDicomDataSignedShort"},
        {"SL", "FenraDicomNumber", "KelvoDicomDataSignedLong"},
        {"FL", "FenraDicomNumber", "KelvoDicomDataFloat"},
        {"OW", "FenraDicomBinaryValue", "KelvoDicomDataOtherWord"},
        {"OF", "FenraDicomBinaryValue", "KelvoDicomDataOtherFloat"},
        {"UN", "FenraDicomBinaryValue", "KelvoDicomDataUnknownData"},
        {"SQ", "FenraDicomItemSequence", "KelvoDicomDataItemGroup"},
        {"na", "FenraDicomValue", "KelvoDicomDataNode"},
        {"UC", "FenraDicomValue", "KelvoDicomDataNode"},
        {"UR", "FenraDicomValue", "KelvoDicomDataNode"},
        {"UV", "FenraDicomValue", "KelvoDicomDataNode"},
        {"SV", "FenraDicomValue", "KelvoDicomDataNode"},
        {"OD", "FenraDicomValue", "KelvoDicomDataNode"},
        {"OL", "FenraDicomValue", "KelvoDicomDataNode"},
        {"OV", "FenraDicomValue", "KelvoDicomDataNode"},
        {"ZZ", nullptr, nullptr},
        {"XX", nullptr, nullptr},
        {"us", nullptr, nullptr},
        {"Us", nullptr, nullptr},
        {"NA", nullptr, nullptr},
        {"U", nullptr, nullptr},
        {"USX", nullptr, nullptr},
        {"US ", nullptr, nullptr},
        {" US", nullptr, nullptr},
        {"??", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        Value made = module("createDataElementValue", {host().newString(c.format)}).result;
        if (!c.hostClass) {
            EXPECT_TRUE(made.isNil()) << made.className();
            continue;
        }
        ASSERT_FALSE(made.isNil());
        EXPECT_EQ(made.className(), c.hostClass);
        EXPECT_EQ(plugintest::toolkitClass(made), c.toolkitClass);
    }
    // A raw value whose node is not valid gives nil as well. (Its class has no constructor
    // without arguments: the cloning one given nil makes an empty object.)
    Value raw = host().construct("FenraDicomValue", {Value::nil()}).result;
    *plugintest::recordOf(raw) = plugintest::InstanceRecord{new KelvoDicomDataNode("ZZ"), 0};
    EXPECT_TRUE(module("createDataElementValue", {raw}).result.isNil());
}

TEST_F(PluginModule, CreateDataElementValueFromARawValue) {
    // A raw value made by this program's own copy of the toolkit, handed over in a host object's
    // record: the plug-in reaches it through its virtual operations and the name-based isA.
    Value raw = host().construct("FenraDicomValue", {Value::nil()}).result;
    ASSERT_EQ(raw.className(), "FenraDicomValue");
    EXPECT_TRUE(module("createDataElementValue", {raw}).result.isNil()); // an empty host object
    auto* node = new KelvoDicomDataNode("US");
    *plugintest::recordOf(raw) = plugintest::InstanceRecord{node, 0};
    Value typed = module("createDataElementValue", {raw}).result;
    EXPECT_EQ(typed.className(), "FenraDicomNumber");
    EXPECT_EQ(plugintest::toolkitClass(typed), "KelvoDicomDataUnsignedShort");
    EXPECT_TRUE(module("createDataElementValue", {Value::nil()}).result.isNil());
    // An object of another class is refused by its declared type.
    EXPECT_FALSE(host().callModule("FenraDicomSystem", "createDataElementValue", {item("/tmp")}).ok);
}

TEST_F(PluginModule, TheHostProgramRunsTheMainJob) {
    testsupport::ScratchDir dir("plugin-program");
    std::string program = SYLMARK_HOST_PROGRAM;
    int status = -1;
    std::string out = testsupport::run(program + " --plugin " + FENRA_BASE_PLUGIN + " --plugin " +
                                           PLUGIN_UNDER_TEST + " FenraDicomSystem.dumpFileToTextFile " +
                                           corpus("CT_small.dcm") + " " + dir.file("ct.txt"),
                                       &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "0\n");
    EXPECT_EQ(testsupport::readFile(dir.file("ct.txt")),
              toolkitDump(corpus("CT_small.dcm"), false, dir.file("own")));
}

// The whole corpus: every file that dumps also anonymises, identifiers present but empty
// included, and dcmdump reads every anonymised copy. A status from inside the atom engine never
// reaches the host.
TEST_F(PluginModule, EveryFileThatDumpsAlsoAnonymises) {
    testsupport::ScratchDir dir("plugin-anon-corpus");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(testsupport::pydicomTestFiles())) {
        if (!entry.is_regular_file()) continue;
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        const std::string dump = dir.file("dump.txt"), anon = dir.file("anon.dcm");
        std::filesystem::remove(anon);
        const int64_t dumped = status("dumpFileToTextFile", path, dump);
        const int64_t anonymised = status("anonymizeFile", path, anon);
        for (int64_t s : {dumped, anonymised})
            EXPECT_FALSE(s <= -2100 && s >= -2199) << "internal status " << s;
        if (dumped != 0) continue;
        ++files;
        EXPECT_EQ(anonymised, 0);
        if (anonymised != 0) continue;
        int read = -1;
        const std::string said = testsupport::run("dcmdump -q '" + anon + "' 2>&1", &read);
        EXPECT_EQ(read, 0) << said;
    }
    EXPECT_GT(files, 50);
    // The two whose Patient ID and Study ID are present but empty get identifiers.
    for (const char* name : {"693_J2KI.dcm", "SC_rgb_jpeg_dcmd.dcm"}) {
        SCOPED_TRACE(name);
        const std::string anon = dir.file("empty-ids.dcm");
        ASSERT_EQ(status("anonymizeFile", corpus(name), anon), 0);
        const std::string ids =
            testsupport::run("/usr/bin/python3 -c \"import pydicom,sys; d=pydicom.dcmread(sys.argv[1]); "
                             "print(d.PatientID, d.StudyID)\" '" +
                             anon + "' 2>&1");
        EXPECT_TRUE(std::regex_match(ids, std::regex("[0-9]{1,14} [0-9]{1,14}\n"))) << ids;
    }
}

// A dump or an anonymised copy over its own source (by its path, a symbolic link or a hard link)
// is refused and the source stays as it was.
TEST_F(PluginModule, AFileFunctionOverItsOwnSourceIsRefused) {
    testsupport::ScratchDir dir("plugin-own-source");
    const std::string source = dir.file("source.dcm");
    std::filesystem::copy_file(corpus("rtplan.dcm"), source);
    const std::string original = testsupport::readFile(source);
    std::filesystem::create_symlink(source, dir.file("link.dcm"));
    std::filesystem::create_hard_link(source, dir.file("hard.dcm"));
    for (const char* function : {"dumpFileToTextFile", "dumpFileToXmlFile", "anonymizeFile"})
        for (const char* target : {"source.dcm", "link.dcm", "hard.dcm"}) {
            SCOPED_TRACE(std::string(function) + " to " + target);
            EXPECT_EQ(status(function, source, dir.file(target)), -50);
            EXPECT_EQ(testsupport::readFile(source), original);
        }
}

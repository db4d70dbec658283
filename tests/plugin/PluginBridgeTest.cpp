// The binding's own functions, linked into this program and entered as a plug-in of a host that
// also loaded the companion: the instance record and class mapping, the generic members, and the
// conversions between host values and the platform's and toolkit's.
#include "HostRuntime.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomDataTree.h"
#include "PlatformMemory.h"
#include "RBPluginUtils.h"
#include "RBQTDicomObjTools.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <memory>

extern "C" void REALPluginMain(REALresolver resolver);

using namespace sylhost;

namespace {

HostRuntime& host() {
    static HostRuntime* h = [] {
        auto* runtime = new HostRuntime();
        std::string error;
        EXPECT_GE(runtime->loadPlugin(FENRA_BASE_PLUGIN, error), 0) << error;
        EXPECT_EQ(runtime->loadLinkedPlugin("linked", &REALPluginMain), 1);
        return runtime;
    }();
    return *h;
}

// A host object of the class as the host makes it, before any constructor fills its record.
Value madeByTheHost(const std::string& className) {
    return Value::adoptObject(host().makeObject(host().classNamed(className)));
}

// The plug-in's functions run as they would inside a call from the host.
class Bridge : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<HostRuntime::Scope>(&host());
        objects = host().liveObjects();
        strings = host().liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host().liveObjects(), objects);
        EXPECT_EQ(host().liveStrings(), strings);
        scope.reset();
    }
    std::unique_ptr<HostRuntime::Scope> scope;
    size_t objects = 0, strings = 0;
};

std::string corpus(const std::string& name) {
    return std::string(testsupport::pydicomTestFiles()) + "/" + name;
}

std::string textOf(REALstring s) {
    Value v = Value::adoptString(s);
    return v.text();
}

} // namespace

TEST_F(Bridge, ToolkitNamesMapToHostClassesPastThePrefix) {
    size_t rows = 0;
    for (const FenraClassPair* row = FenraClassesTable; row->toolkitName; ++row)
        ++rows;
    EXPECT_EQ(rows, 82u);
    struct Case {
        const char* toolkit;
        const char* host;
    };
    const Case cases[] = {
        {"KelvoDicomDataHeader", "FenraDicomHeader"},
        {"Kelvo_ImageARGB", "FenraImageARGB"},
        {"KelvoDicomDataOtherWord", "FenraDicomBinaryValue"},
        {"KelvoDicomDataUnsignedShort", "FenraDicomNumber"},
        {"KelvoDicomDirectoryDocument", "FenraDicomDirectoryDocument"},
        // The first five characters are not compared.
        {"XXXXXDicomDataTree", "FenraDicomTree"},
        {"KelvoDicomDataChunks", nullptr},
        {"KelvoDicomConvertImage", nullptr},
        {"Kelvodicomdatatree", nullptr},
        {"Kelvo", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.toolkit);
        const char* found = FenraHostClassNameFor(c.toolkit);
        if (c.host) {
            ASSERT_TRUE(found);
            EXPECT_STREQ(found, c.host);
        } else {
            EXPECT_FALSE(found);
        }
    }
    EXPECT_FALSE(FenraHostClassNameFor(nullptr));
}

TEST_F(Bridge, WrappingStoresTheObjectAndItsOwnership) {
    EXPECT_FALSE(FenraNewClassInstance(nullptr, 0));
    EXPECT_FALSE(FenraKelvoObjectInstance(nullptr));
    EXPECT_FALSE(FenraObjectIsValid(nullptr));
    // A class without a row gives nil and leaves the object to the caller.
    KelvoDicomDataChunks chunks;
    EXPECT_FALSE(FenraNewClassInstance(&chunks, 0));

    KelvoDicomDataSet set(0x0010);
    Value borrowed = Value::adoptObject(FenraNewClassInstance(&set, 1));
    EXPECT_EQ(borrowed.className(), "FenraDicomDataSet");
    EXPECT_EQ(FenraKelvoObjectInstance(borrowed.object()), &set);
    EXPECT_EQ(FenraInstanceRecordOf(borrowed.object())->byRef, 1);

    Value owned =
        Value::adoptObject(FenraWrapNewObject(KelvoDicomDataTree::openFile(corpus("CT_small.dcm").c_str())));
    EXPECT_EQ(owned.className(), "FenraDicomDocument");
    EXPECT_EQ(FenraInstanceRecordOf(owned.object())->byRef, 0);
    EXPECT_TRUE(FenraObjectIsValid(owned.object()));
    Value empty = madeByTheHost("FenraDicomTree");
    EXPECT_FALSE(FenraObjectIsValid(empty.object()));
}

TEST_F(Bridge, CloningConstructorMakesAnIndependentCopy) {
    Value source =
        Value::adoptObject(FenraWrapNewObject(KelvoDicomDataTree::openFile(corpus("CT_small.dcm").c_str())));
    Value copy = madeByTheHost("FenraDicomDocument");
    FenraNewClonedObject(copy.object(), nullptr);
    EXPECT_FALSE(FenraKelvoObjectInstance(copy.object()));
    Value empty = madeByTheHost("FenraDicomDocument");
    FenraNewClonedObject(copy.object(), empty.object());
    EXPECT_FALSE(FenraKelvoObjectInstance(copy.object()));
    FenraNewClonedObject(copy.object(), source.object());
    Kelvo_QTObj* cloned = FenraKelvoObjectInstance(copy.object());
    ASSERT_TRUE(cloned);
    EXPECT_NE(cloned, FenraKelvoObjectInstance(source.object()));
    EXPECT_STREQ(cloned->qtObjName(), "KelvoDicomDocument");
    EXPECT_EQ(FenraInstanceRecordOf(copy.object())->byRef, 0);
}

TEST_F(Bridge, DictionaryValuesAreCopiesUntilStoredBack) {
    Value document =
        Value::adoptObject(FenraWrapNewObject(KelvoDicomDataTree::openFile(corpus("CT_small.dcm").c_str())));
    auto patientName = [&](REALobject holder) {
        auto* set = static_cast<KelvoDicomDataSet*>(FenraKelvoObjectInstance(holder));
        char name[80] = {};
        set->getStringValueProperty(0x0010, name, sizeof name);
        return std::string(name);
    };
    Value patient = Value::adoptObject(FenraDictionaryGetValue(document.object(), 0x0010));
    ASSERT_EQ(patient.className(), "FenraDicomPatient");
    EXPECT_EQ(patientName(patient.object()), "CompressedSamples^CT1");
    static_cast<KelvoDicomDataSet*>(FenraKelvoObjectInstance(patient.object()))
        ->setStringValueProperty(0x0010, "Changed^Name");
    {
        Value again = Value::adoptObject(FenraDictionaryGetValue(document.object(), 0x0010));
        EXPECT_EQ(patientName(again.object()), "CompressedSamples^CT1");
    }
    Value empty = host().newInstance("FenraDicomPatient");
    FenraDictionarySetValue(document.object(), 0x0010, empty.object()); // ignored
    FenraDictionarySetValue(document.object(), 0x0010, patient.object());
    Value stored = Value::adoptObject(FenraDictionaryGetValue(document.object(), 0x0010));
    EXPECT_EQ(patientName(stored.object()), "Changed^Name");
    // Data sets and trees keep values in their own storage: nothing by reference.
    EXPECT_FALSE(FenraDictionaryGetValueByRef(document.object(), 0x0010));
    // Not a dictionary, or no object: nil.
    EXPECT_FALSE(FenraDictionaryGetValue(empty.object(), 0x0010));
    EXPECT_FALSE(FenraDictionaryGetValue(nullptr, 0x0010));
}

TEST_F(Bridge, StringConversions) {
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(RealStringToCString(nullptr, text), 0);
    EXPECT_EQ(text, nullptr);
    Value empty = host().newString("");
    EXPECT_EQ(RealStringToCString(empty.string(), text), -109);
    Value latin = host().newString("\xE9t\xE9", kREALTextEncodingISOLatin1);
    ASSERT_EQ(RealStringToCString(latin.string(), text), 0);
    EXPECT_STREQ(text, "\xC3\xA9t\xC3\xA9");
    delete[] text;
    Value unknown = host().newString("abc", 0x7777);
    EXPECT_EQ(RealStringToCString(unknown.string(), text), -5224);

    EXPECT_FALSE(StringToCFString(nullptr));
    EXPECT_FALSE(StringToCFString(empty.string()));
    CFStringRef cf = StringToCFString(latin.string());
    ASSERT_TRUE(cf);
    EXPECT_STREQ(CFStringGetCStringPtr(cf, kCFStringEncodingUTF8), "\xC3\xA9t\xC3\xA9");
    CFRelease(cf);

    EXPECT_EQ(textOf(charToRealString('A')), "A");
    EXPECT_EQ(textOf(FenraOSTypeToRBString(FOUR_CHAR_CODE("DICM"))), "DICM");
}

TEST_F(Bridge, MemoryBlocksAndColours) {
    Handle handle = NewHandle(3);
    std::memcpy(*handle, "abc", 3);
    {
        Value block = Value::adoptObject(HandleToMemoryBlock(handle, false));
        ASSERT_TRUE(handle);
        auto size =
            reinterpret_cast<RBInteger (*)(REALobject)>(HostRuntime::resolve("REALMemoryBlockGetSize"));
        auto bytes = reinterpret_cast<void* (*)(REALobject)>(HostRuntime::resolve("REALMemoryBlockGetPtr"));
        EXPECT_EQ(size(block.object()), 3);
        EXPECT_EQ(std::memcmp(bytes(block.object()), "abc", 3), 0);
    }
    Value disposed = Value::adoptObject(HandleToMemoryBlock(handle, true));
    EXPECT_EQ(handle, nullptr);
    EXPECT_FALSE(HandleToMemoryBlock(handle, false));

    struct Case {
        RGBColor rgb;
        int32_t value;
    };
    const Case cases[] = {{{0, 0, 0}, 0}, {{0xFFFF, 0, 0}, 0xFF0000}, {{0x8080, 0x4040, 0xFFFF}, 0x8040FF}};
    for (const auto& c : cases) {
        EXPECT_EQ(RGBColorToLong(c.rgb), c.value);
        RGBColor back = LongToRGBColor(c.value);
        EXPECT_EQ(back.red, c.rgb.red);
        EXPECT_EQ(back.green, c.rgb.green);
        EXPECT_EQ(back.blue, c.rgb.blue);
    }
    EXPECT_EQ(RGBColorToLong({0x1234, 0x5678, 0x9ABC}), 0x12569A);
}

TEST_F(Bridge, FolderItemPaths) {
    testsupport::ScratchDir dir("bridge-items");
    const std::string file = dir.file("a b%20c.dcm");
    testsupport::writeFile(file, "x");
    Value item = host().newFolderItem(file);
    std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(item.object()));
    ASSERT_TRUE(path);
    EXPECT_EQ(path->itemCount(), file.size() + 1);
    EXPECT_STREQ(path->items(), file.c_str());
    char* text = nullptr;
    ASSERT_TRUE(FolderitemPath(item.object(), text));
    EXPECT_EQ(text, file);
    delete[] text;
    Value none = host().newFolderItem("");
    EXPECT_FALSE(FolderitemPath(none.object()));
    EXPECT_FALSE(FolderitemPath(nullptr));
    EXPECT_FALSE(FolderitemPath(none.object(), text));
    EXPECT_EQ(text, nullptr);

    FSRef ref;
    EXPECT_TRUE(FolderitemToFSRef(item.object(), &ref));
    EXPECT_STREQ(ref.path, file.c_str());
    Value missing = host().newFolderItem(dir.file("later.mov"));
    EXPECT_FALSE(FolderitemToFSRef(missing.object(), &ref));

    // An existing file, and one about to be made in an existing folder.
    FSSpec spec;
    EXPECT_TRUE(FolderitemToFSSpec(item.object(), &spec));
    EXPECT_STREQ(spec.path, file.c_str());
    EXPECT_TRUE(FolderitemToFSSpec(missing.object(), &spec));
    EXPECT_STREQ(spec.path, dir.file("later.mov").c_str());
    EXPECT_FALSE(FolderitemToFSSpec(none.object(), &spec));
    EXPECT_FALSE(FolderitemToFSSpec(item.object(), nullptr));

    FSSpec existing;
    FSPathMakeFSSpec(file.c_str(), &existing);
    Value back = Value::adoptObject(FSSpecToFolderitem(&existing));
    EXPECT_EQ(host().getProperty(back, "ShellPath").text(), file);
    FSSpec gone;
    FSPathMakeFSSpec(dir.file("later.mov").c_str(), &gone);
    EXPECT_FALSE(FSSpecToFolderitem(&gone));

    Value made = Value::adoptObject(systemPathToFolderitem(file.c_str()));
    EXPECT_EQ(host().getProperty(made, "ShellPath").text(), file);
    EXPECT_FALSE(systemPathToFolderitem(""));
    EXPECT_FALSE(systemPathToFolderitem(nullptr));

    EXPECT_EQ(RBUtils_FolderitemToXPath(nullptr, text), -50);
    EXPECT_EQ(RBUtils_FolderitemToXPath(none.object(), text), 50);
    ASSERT_EQ(RBUtils_FolderitemToXPath(item.object(), text), 0);
    EXPECT_EQ(text, file);
    delete[] text;
    EXPECT_EQ(textOf(RBUtils_FolderitemGetPath(item.object())), file);
    ASSERT_TRUE(RBUtils_FolderitemGetPath(item.object(), text));
    EXPECT_EQ(text, file);
    delete[] text;
    EXPECT_FALSE(RBUtils_FolderitemGetPath(none.object(), text));

    std::unique_ptr<Kelvo_DataReference> reference(FenraFolderitemToDataReference(item.object()));
    EXPECT_TRUE(reference && reference->qtObjIsValid());
    EXPECT_FALSE(FenraFolderitemToDataReference(none.object()));
}

TEST_F(Bridge, RaisedExceptionsAndTheDebugWriter) {
    RaiseNILPtrException();
    EXPECT_EQ(host().takePendingException().className(), "NilObjectException");
    RaiseOutOfBoundsException();
    EXPECT_EQ(host().takePendingException().className(), "OutOfBoundsException");

    testsupport::ScratchDir dir("bridge-debug");
    RBUtils_DbgWriteResultToFile(dir.file("dbg.txt").c_str(), "result");
    EXPECT_EQ(testsupport::readFile(dir.file("dbg.txt")), std::string("result\0", 7));
}

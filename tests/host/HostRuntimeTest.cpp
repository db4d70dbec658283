#include "HostRuntime.h"
#include "HostScript.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace sylhost;

namespace {

// One host per process for the probe plug-in: a library is entered once per process.
HostRuntime& probeHost() {
    static HostRuntime* host = [] {
        auto* h = new HostRuntime();
        std::string error;
        EXPECT_GE(h->loadPlugin(HOST_PROBE_PLUGIN, error), 0) << error;
        return h;
    }();
    return *host;
}

std::string takeLog() {
    CallOutcome out = probeHost().callModule("ProbeModule", "takeLog", {});
    return out.result.text();
}

// Every test leaves as many host objects and strings alive as it found.
class ProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host = &probeHost();
        takeLog();
        objects = host->liveObjects();
        strings = host->liveStrings();
    }
    void TearDown() override {
        EXPECT_EQ(host->liveObjects(), objects);
        EXPECT_EQ(host->liveStrings(), strings);
    }
    std::string call(const std::string& target, const std::vector<std::string>& args) {
        CallOutcome out = host->callText(target, args);
        EXPECT_TRUE(out.ok) << out.error;
        return host->describe(out.result);
    }
    std::string refusal(const std::string& target, const std::vector<std::string>& args) {
        CallOutcome out = host->callText(target, args);
        EXPECT_FALSE(out.ok);
        return out.error;
    }
    HostRuntime* host = nullptr;
    size_t objects = 0, strings = 0;
};

} // namespace

TEST_F(ProbeTest, RegistrationKeepsGoodRecordsAndRefusesBadOnes) {
    const PluginInfo& probe = host->plugins().at(0);
    EXPECT_EQ(probe.version, 10);
    EXPECT_EQ(probe.classes, (std::vector<std::string>{"ProbeBase", "ProbeChild", "ProbeWindowed"}));
    EXPECT_EQ(probe.modules, std::vector<std::string>{"ProbeModule"});
    auto mentions = [&](const std::string& needle) {
        for (const auto& p : probe.problems)
            if (p.find(needle) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(mentions("ProbeOrphan: unknown superclass NoSuchClass"));
    EXPECT_TRUE(mentions("probebase: a class of that name is registered already"));
    EXPECT_TRUE(mentions("ProbeBadTable"));
    EXPECT_TRUE(mentions("broken(s as)"));
    EXPECT_FALSE(host->findClass("ProbeOrphan"));

    const ClassInfo* base = host->findClass("probebase");
    const ClassInfo* child = host->findClass("ProbeChild");
    ASSERT_TRUE(base && child);
    EXPECT_EQ(child->super, base);
    EXPECT_EQ(child->dataOffset, base->instanceSize);
    EXPECT_GT(child->instanceSize, base->instanceSize);
    ASSERT_EQ(base->constants.size(), 2u);
    EXPECT_EQ(base->constants[0].spec.name, "kAnswer");
    EXPECT_EQ(base->constants[0].spec.value, "42");
    EXPECT_EQ(base->constants[1].spec.value, "probe");
    EXPECT_TRUE(base->constants[1].spec.isString);
}

TEST_F(ProbeTest, ConstructorsAndDestructorsRunAlongTheChain) {
    {
        Value child = host->newInstance("ProbeChild");
        ASSERT_EQ(child.className(), "ProbeChild");
        EXPECT_EQ(takeLog(), "base+child+");
        EXPECT_EQ(host->getProperty(child, "count").asInteger(), 1); // Constructor() ran
    }
    EXPECT_EQ(takeLog(), "child-base-");
    CallOutcome made = host->construct("ProbeBase", {Value::integer(41)});
    ASSERT_TRUE(made.ok) << made.error;
    EXPECT_EQ(host->getProperty(made.result, "count").asInteger(), 41);
    EXPECT_EQ(call("ProbeBase.Constructor", {"5"}),
              "ProbeBase\n  count = 5\n  countPlusTen = 15\n  label = \n"
              "  ratio = 0.5\n  flag = false\n  twin = ProbeChild");
    EXPECT_NE(refusal("ProbeBase.Constructor", {"1", "2"}).find("no form takes these arguments"),
              std::string::npos);
}

TEST_F(ProbeTest, ArgumentsAndResultsOfEveryType) {
    EXPECT_EQ(call("ProbeBase.mix", {"-7", "-2", "65535", "4294967295", "1.5", "0.25", "TRUE"}),
              "-7 -2 65535 4294967295 1.500 0.250 1");
    Value base = host->newInstance("ProbeBase");
    CallOutcome mixed =
        host->callMethod(base, "mix",
                         {Value::integer(3), Value::integer(-32768), Value::integer(0), Value::integer(7),
                          Value::integer(2), Value::real(-0.5), Value::boolean(false)});
    ASSERT_TRUE(mixed.ok) << mixed.error;
    EXPECT_EQ(mixed.result.text(), "3 -32768 0 7 2.000 -0.500 0");
    EXPECT_EQ(call("ProbeBase.twice", {"1e3"}), "2000");
    EXPECT_EQ(call("ProbeBase.half", {"3"}), "1.5");
    EXPECT_EQ(call("ProbeBase.negate", {"false"}), "true");
    EXPECT_EQ(call("ProbeBase.echo", {"a b"}), "<a b>");
    EXPECT_EQ(call("ProbeModule.u16", {"65535"}), "0");
    EXPECT_EQ(call("ProbeModule.i16", {"-32768"}), "32767");
    EXPECT_EQ(call("ProbeModule.u32", {"0"}), "4294967295");
    // Values that do not fit the declared type are refused before the call.
    for (auto [target, arg] :
         std::vector<std::pair<const char*, const char*>>{{"ProbeModule.u16", "65536"},
                                                          {"ProbeModule.u16", "-1"},
                                                          {"ProbeModule.i16", "32768"},
                                                          {"ProbeModule.u32", "4294967296"},
                                                          {"ProbeModule.u16", "1.5"},
                                                          {"ProbeModule.u16", ""},
                                                          {"ProbeBase.negate", "yes"},
                                                          {"ProbeBase.twice", "nan"}}) {
        SCOPED_TRACE(std::string(target) + " " + arg);
        EXPECT_NE(refusal(target, {arg}).find("argument 1"), std::string::npos);
    }
    EXPECT_NE(refusal("ProbeModule.u16", {}).find("takes 1 argument, not 0"), std::string::npos);
    // An object where a string is declared, and an object of the wrong class.
    Value block = host->newFolderItem("/tmp");
    EXPECT_FALSE(host->callMethod(base, "echo", {block}).ok);
    CallOutcome wrongClass = host->callMethod(base, "pick", {block});
    EXPECT_FALSE(wrongClass.ok);
}

TEST_F(ProbeTest, ByReferenceDefaultsAndOverloads) {
    Value base = host->newInstance("ProbeBase");
    CallOutcome bumped =
        host->callMethod(base, "bump", {Value::integer(1), Value::real(2.5), Value::boolean(true)});
    ASSERT_TRUE(bumped.ok) << bumped.error;
    ASSERT_EQ(bumped.byRefValues.size(), 3u);
    EXPECT_EQ(bumped.byRefValues[0].first, "i");
    EXPECT_EQ(bumped.byRefValues[0].second.asInteger(), 2);
    EXPECT_EQ(bumped.byRefValues[1].second.asReal(), 5.0);
    EXPECT_FALSE(bumped.byRefValues[2].second.asBoolean());

    EXPECT_EQ(call("ProbeBase.greet", {}), "hi world;hi world;");
    EXPECT_EQ(call("ProbeBase.greet", {"you", "1"}), "hi you;");
    EXPECT_EQ(call("ProbeBase.pick", {"12"}), "integer");
    EXPECT_EQ(call("ProbeBase.pick", {"twelve"}), "string");
    EXPECT_EQ(host->describe(host->callMethod(base, "pick", {Value::nil()}).result), "nil probe");
    EXPECT_EQ(host->describe(host->callMethod(base, "pick", {base}).result), "probe");
    EXPECT_EQ(host->describe(host->callMethod(base, "echo", {Value::nil(TypeKind::String)}).result), "nil");
}

TEST_F(ProbeTest, PropertiesPassTheirParameterAndTypes) {
    Value base = host->newInstance("ProbeBase");
    auto setProp = reinterpret_cast<RBBoolean (*)(REALobject, const char*, RBInteger, const void*)>(
        HostRuntime::resolve("REALSetPropValue"));
    auto getProp = reinterpret_cast<RBBoolean (*)(REALobject, const char*, RBInteger, void*)>(
        HostRuntime::resolve("REALGetPropValue"));
    RBInteger twenty = 20;
    ASSERT_TRUE(setProp(base.object(), "countPlusTen", kREALPropInteger, &twenty));
    EXPECT_EQ(host->getProperty(base, "count").asInteger(), 10);
    double ratio = 0;
    EXPECT_TRUE(getProp(base.object(), "RATIO", kREALPropDouble, &ratio));
    EXPECT_EQ(ratio, 0.5);
    // A property read as the wrong kind, or one that does not exist, is refused.
    RBInteger wrong = 0;
    EXPECT_FALSE(getProp(base.object(), "ratio", kREALPropInteger, &wrong));
    EXPECT_FALSE(getProp(base.object(), "nothing", kREALPropInteger, &wrong));
    Value label = host->newString("named");
    REALstring s = label.string();
    EXPECT_TRUE(setProp(base.object(), "label", kREALPropString, &s));
    EXPECT_EQ(host->getProperty(base, "label").text(), "named");
    REALobject twin = nullptr;
    EXPECT_TRUE(getProp(base.object(), "twin", kREALPropObject, &twin));
    Value twinValue = Value::adoptObject(twin);
    EXPECT_EQ(twinValue.className(), "ProbeChild");
    EXPECT_EQ(host->getProperty(twinValue, "count").asInteger(), 10);
}

TEST_F(ProbeTest, RaisedExceptionsReachTheCaller) {
    CallOutcome out = host->callText("ProbeBase.fail", {});
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.exception.className(), "OutOfBoundsException");
    EXPECT_EQ(host->getProperty(out.exception, "Message").text(), "index 9 of 3");
    EXPECT_FALSE(host->callText("ProbeBase.twice", {"1"}).exception.object());
}

TEST_F(ProbeTest, ConsoleHostHidesWhatIsNotConsoleSafe) {
    EXPECT_NE(refusal("ProbeBase.windowsOnly", {}).find("does not exist"), std::string::npos);
    EXPECT_NE(refusal("ProbeWindowed.Constructor", {}).find("not available to console programs"),
              std::string::npos);
    EXPECT_TRUE(host->newInstance("ProbeWindowed").isNil());
    EXPECT_EQ(call("ProbeModule.hostRefusals", {}), "true");
    EXPECT_EQ(call("ProbeModule.methodByDeclaration", {}), "true");
    EXPECT_NE(refusal("NoSuch.thing", {}).find("no module or class NoSuch"), std::string::npos);
    EXPECT_NE(refusal("ProbeModule", {}).find("is not Module.function"), std::string::npos);
}

TEST_F(ProbeTest, StringsFolderItemsAndMemoryBlocks) {
    testsupport::ScratchDir dir("host-probe");
    std::string spaced = dir.file("a b%c.dcm");
    EXPECT_EQ(call("ProbeModule.pathOf", {spaced}), spaced);
    EXPECT_EQ(call("ProbeModule.urlOf", {spaced}), "file://" + dir.path().string() + "/a%20b%25c.dcm");
    EXPECT_EQ(call("ProbeModule.urlOf", {dir.path().string()}), "file://" + dir.path().string() + "/");
    EXPECT_EQ(call("ProbeModule.pathOf", {""}), "no path");
    EXPECT_EQ(call("ProbeModule.viaGetFolderItem", {"file:///tmp/a%20b"}), "/tmp/a b");
    EXPECT_EQ(call("ProbeModule.viaGetFolderItem", {"file:///tmp/bad%2"}), "nil");
    EXPECT_EQ(call("ProbeModule.viaGetFolderItem", {"http://example/x"}), "nil");
    EXPECT_EQ(call("ProbeModule.chr", {"65"}), "A");
    EXPECT_EQ(call("ProbeModule.chr", {"233"}), "\xC3\xA9");
    EXPECT_EQ(call("ProbeModule.chr", {"-1"}), "");
    EXPECT_EQ(call("ProbeModule.newBlock", {"3"}), "MemoryBlock\n  Size = 3");

    Value latin = host->callModule("ProbeModule", "latin1", {}).result;
    EXPECT_EQ(host->callModule("ProbeModule", "encodingOf", {latin}).result.asInteger(),
              int64_t(kREALTextEncodingISOLatin1));
    Value utf8 =
        host->callModule("ProbeModule", "convert", {latin, Value::integer(kREALTextEncodingUTF8)}).result;
    EXPECT_EQ(utf8.text(), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(host->describe(latin), "\xC3\xA9t\xC3\xA9");
    Value ascii =
        host->callModule("ProbeModule", "convert", {utf8, Value::integer(kREALTextEncodingASCII)}).result;
    EXPECT_EQ(ascii.text(), "no conversion");
}

// ---------------------------------------------------------------------------------------------
// The host's own classes, without any plug-in.

TEST(HostBuiltins, FolderItemsKnowTheirPathUrlNameAndParent) {
    HostRuntime host;
    testsupport::ScratchDir dir("host-items");
    testsupport::writeFile(dir.file("x.dcm"), "x");
    {
        Value item = host.newFolderItem(dir.file("x.dcm"));
        EXPECT_EQ(host.describe(item), "FolderItem\n  UrlPath = file://" + dir.path().string() +
                                           "/x.dcm\n  ShellPath = " + dir.file("x.dcm") +
                                           "\n  Name = x.dcm\n  Exists = true\n  Parent = FolderItem");
        Value parent = host.getProperty(item, "Parent");
        EXPECT_EQ(host.getProperty(parent, "ShellPath").text(), dir.path().string());
        Value root = host.newFolderItem("/");
        EXPECT_TRUE(host.getProperty(root, "Parent").isNil());
        // A relative path is taken from the working folder.
        Value relative = host.newFolderItem("some/../file.txt");
        EXPECT_EQ(host.getProperty(relative, "ShellPath").text(),
                  (std::filesystem::current_path() / "file.txt").string());
        EXPECT_FALSE(host.getProperty(relative, "Exists").asBoolean());
        Value none = host.newFolderItem("");
        EXPECT_EQ(host.getProperty(none, "UrlPath").text(), "");

        CallOutcome byUrl =
            host.construct("FolderItem", {host.newString("file:///a/b%20c"), Value::integer(2)});
        ASSERT_TRUE(byUrl.ok) << byUrl.error;
        EXPECT_EQ(host.getProperty(byUrl.result, "ShellPath").text(), "/a/b c");
        CallOutcome badMode = host.construct("FolderItem", {host.newString("/a"), Value::integer(9)});
        EXPECT_EQ(host.getProperty(badMode.result, "ShellPath").text(), "");
    }
    EXPECT_EQ(host.liveObjects(), 0u);
    EXPECT_EQ(host.liveStrings(), 0u);
}

TEST(HostBuiltins, DatesTakeOnlyWellFormedSqlTexts) {
    HostRuntime host;
    Value date = host.newInstance("Date");
    auto setProp = reinterpret_cast<RBBoolean (*)(REALobject, const char*, RBInteger, const void*)>(
        HostRuntime::resolve("REALSetPropValue"));
    auto setText = [&](const char* name, const char* text) {
        Value s = host.newString(text);
        REALstring raw = s.string();
        return setProp(date.object(), name, kREALPropString, &raw);
    };
    EXPECT_EQ(host.getProperty(date, "SQLDateTime").text(), "1904-01-01 00:00:00");
    EXPECT_TRUE(setText("SQLDate", "2024-02-29"));
    EXPECT_EQ(host.getProperty(date, "SQLDateTime").text(), "2024-02-29 00:00:00");
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-1-01", "20240101", "2024-01-01x"}) {
        setText("SQLDate", bad);
        EXPECT_EQ(host.getProperty(date, "SQLDate").text(), "2024-02-29") << bad;
    }
    EXPECT_TRUE(setText("SQLDateTime", "1999-12-31 23:59:58"));
    EXPECT_EQ(host.getProperty(date, "SQLDateTime").text(), "1999-12-31 23:59:58");
    setText("SQLDateTime", "1999-12-31 24:00:00");
    EXPECT_EQ(host.getProperty(date, "SQLDateTime").text(), "1999-12-31 23:59:58");
    double offset = -5;
    EXPECT_TRUE(setProp(date.object(), "GMTOffset", kREALPropDouble, &offset));
    EXPECT_EQ(host.getProperty(date, "GMTOffset").asReal(), -5.0);
}

TEST(HostBuiltins, ServicesRefuseWhatIsNotTheirs) {
    HostRuntime host;
    auto newInstance =
        reinterpret_cast<REALobject (*)(REALclassRef)>(HostRuntime::resolve("REALnewInstance"));
    auto getClassRef =
        reinterpret_cast<REALclassRef (*)(const char*)>(HostRuntime::resolve("REALGetClassRef"));
    EXPECT_FALSE(HostRuntime::resolve("NoSuchService"));
    // Outside a call into a plug-in there is no host to act for.
    EXPECT_FALSE(getClassRef("Date"));
    HostRuntime::Scope scope(&host);
    REALclassRef date = getClassRef("date");
    ASSERT_TRUE(date);
    int bogus = 0;
    EXPECT_FALSE(newInstance(reinterpret_cast<REALclassRef>(&bogus)));
    Value made = Value::adoptObject(newInstance(date));
    EXPECT_EQ(made.className(), "Date");
}

// A script source that, while it is read, takes a host string nobody lets go: the script's end
// finds it alive and fails the run.
class LeakingScript : public std::stringbuf {
  public:
    LeakingScript(const std::string& text, HostRuntime& host) : std::stringbuf(text), _host(host) {}
    REALstring leaked = nullptr;

  protected:
    int_type underflow() override {
        if (!leaked) leaked = _host.makeString("kept", kREALTextEncodingUTF8);
        return std::stringbuf::underflow();
    }

  private:
    HostRuntime& _host;
};

TEST_F(ProbeTest, AScriptEndsWithNothingLeftAlive) {
    std::ostringstream out, err;
    std::istringstream clean("p = ProbeBase.Constructor(2)\nq = p.twin\nprint q.count\n");
    EXPECT_EQ(runScript(*host, clean, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), "2\n");
    EXPECT_EQ(err.str(), "");

    LeakingScript source("p = ProbeBase.Constructor(2)\n", *host);
    std::istream leaking(&source);
    std::ostringstream out2, err2;
    EXPECT_EQ(runScript(*host, leaking, out2, err2), 2);
    EXPECT_NE(err2.str().find("0 objects and 1 strings are still alive after the script"), std::string::npos)
        << err2.str();
    auto unlock = reinterpret_cast<void (*)(REALstring)>(HostRuntime::resolve("REALUnlockString"));
    unlock(source.leaked);
}

// A class whose last sub runs to the end of the script names the script's last line.
TEST_F(ProbeTest, AnUnendedSubNamesTheLastLine) {
    std::ostringstream out, err;
    std::istringstream open("class Open inherits ProbeBase\nsub Twice(n as integer)\nprint n\nprint n\n");
    EXPECT_EQ(runScript(*host, open, out, err), 2);
    EXPECT_NE(err.str().find("sylmark-host: line 4: class Open inherits ProbeBase: \"end sub\" is missing"),
              std::string::npos)
        << err.str();
}

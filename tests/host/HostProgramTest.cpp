// The host program from the command line: results on standard output, refusals and raised
// exceptions on standard error with their exit status.
#include "TestFiles.h"

#include <sstream>

#include <gtest/gtest.h>

namespace {

struct HostRun {
    int status;
    std::string out;
    std::string err;
};

HostRun host(const std::string& arguments) {
    testsupport::ScratchDir dir("host-program");
    int status = -1;
    std::string out = testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --plugin " + HOST_PROBE_PLUGIN +
                                           " " + arguments + " 2>" + dir.file("err"),
                                       &status);
    return HostRun{status, out, testsupport::readFile(dir.file("err"))};
}

} // namespace

TEST(HostProgram, PrintsResultsAndByReferenceValues) {
    HostRun u16 = host("ProbeModule.u16 7");
    EXPECT_EQ(u16.status, 0);
    EXPECT_EQ(u16.out, "8\n");
    HostRun bump = host("ProbeBase.bump 1 2.5 true");
    EXPECT_EQ(bump.status, 0);
    EXPECT_EQ(bump.out, "i = 2\nd = 5\nb = false\n");
    HostRun greet = host("ProbeBase.greet 'two words' 1");
    EXPECT_EQ(greet.out, "hi two words;\n");
    // The probe's refused records are reported, and the call still runs.
    EXPECT_NE(u16.err.find("ProbeOrphan: unknown superclass NoSuchClass"), std::string::npos);
}

TEST(HostProgram, RefusesBadCallsWithAMessageAndStatus2) {
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"ProbeModule.u16 seven", "argument 1 (x) expects a whole number that fits UInt16, not \"seven\""},
        {"ProbeModule.u16", "takes 1 argument, not 0"},
        {"ProbeModule.nothing", "ProbeModule.nothing does not exist"},
        {"Nowhere.thing", "no module or class Nowhere"},
        {"notATarget", "is not Module.function or Class.method"},
        {"--frobnicate ProbeModule.u16 1", "unknown option --frobnicate"},
        {"", "usage: sylmark-host"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        HostRun r = host(c.arguments);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    int status = 0;
    std::string out = testsupport::run(
        std::string(SYLMARK_HOST_PROGRAM) + " --plugin /no/such/plugin.so X.y 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(out.find("cannot load /no/such/plugin.so"), std::string::npos);
}

TEST(HostProgram, ReportsARaisedExceptionWithStatus1) {
    HostRun r = host("ProbeBase.fail");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ProbeBase.fail raised OutOfBoundsException: index 9 of 3"), std::string::npos)
        << r.err;
}

namespace {

// Runs a script through the host program with the probe plug-in; "-" reads it from the input.
HostRun script(const std::string& text, bool fromInput = false) {
    testsupport::ScratchDir dir("host-script");
    testsupport::writeFile(dir.file("script.txt"), text);
    std::string source = fromInput ? "- <" + dir.file("script.txt") : dir.file("script.txt");
    int status = -1;
    std::string out = testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --plugin " + HOST_PROBE_PLUGIN +
                                           " --script " + source + " 2>" + dir.file("err"),
                                       &status);
    // What the host says of the probe's refused records when it loads them is not the script's.
    std::istringstream lines(testsupport::readFile(dir.file("err")));
    std::string own;
    for (std::string line; std::getline(lines, line);)
        if (line.find(HOST_PROBE_PLUGIN) == std::string::npos) own += line + "\n";
    return HostRun{status, out, own};
}

} // namespace

TEST(HostScript, RunsStatementsOnTheObjectsThatComeBack) {
    const std::string text = R"(# a comment, then a blank line

p = ProbeBase.Constructor(3)
print p.count
p.count = 8
p.label = "say ""hi"""
print p.label
print p.twice(1.25)
print p.pick(nil)
print p.pick("text")
print p.greet()
twin = p.twin
print twin.count
made = ProbeBase.make(5)
p.twin = made
print p.count
print ProbeModule.u16(7)
print ProbeBase.kAnswer
print ProbeBase.kName
kept = p.label
print kept
print 2.5
print -4
print true
print nil
)";
    HostRun r = script(text);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "3\nsay \"hi\"\n2.5\nnil probe\nstring\nhi world;hi world;\n8\n5\n8\n42\nprobe\n"
                     "say \"hi\"\n2.5\n-4\ntrue\nnil\n");
    HostRun piped = script("print ProbeModule.u16(41)\n", true);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, "42\n");
}

TEST(HostScript, AnErrorNamesTheLineAndStatementAndEndsTheRun) {
    struct Case {
        const char* statement;
        const char* message;
    };
    const Case cases[] = {
        {"x = ProbeModule.u16(\"seven\")",
         "ProbeModule.u16: argument 1 (x) expects a whole number that fits UInt16"},
        {"x = ProbeModule.nothing()", "ProbeModule.nothing does not exist"},
        {"x = Nowhere.thing()", "no variable, module or class Nowhere"},
        {"print missing", "no variable missing"},
        {"p.count = \"text\"", "ProbeBase.count expects a whole number"},
        {"p.nothing = 1", "ProbeBase has no property nothing"},
        {"print p.nothing", "ProbeBase has no property nothing"},
        {"x = p.bump(1, 2.5, true)", "the call gives no value to keep"},
        {"p.count(1) = 2", "ProbeBase.count cannot be assigned to"},
        {"x = \"open", "a string is not closed"},
        {"x = 1 $ 2", "unexpected character '$'"},
        {"x = p.twice(1, )", "an argument is a literal or a variable"},
        {"p", "a statement is a call, an assignment or print"},
        {"ProbeBase = 1", "ProbeBase cannot name a variable"},
        {"print ProbeBase.kNothing", "ProbeBase has no constant kNothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        HostRun r = script(std::string("p = ProbeBase.Constructor(1)\nprint p.count\n") + c.statement +
                           "\nprint 99\n");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "1\n"); // the run ends at the error
        EXPECT_NE(r.err.find(std::string("sylmark-host: line 3: ") + c.statement + ": " + c.message),
                  std::string::npos)
            << r.err;
    }
    HostRun raised = script("p = ProbeBase.Constructor(1)\n\np.fail()\nprint 1\n");
    EXPECT_EQ(raised.status, 1);
    EXPECT_EQ(raised.out, "");
    EXPECT_NE(raised.err.find("line 3: p.fail(): raised OutOfBoundsException: index 9 of 3"),
              std::string::npos)
        << raised.err;
    HostRun unreadable = script("", false);
    EXPECT_EQ(unreadable.status, 0);
    int status = 0;
    testsupport::run(std::string(SYLMARK_HOST_PROGRAM) + " --plugin " + HOST_PROBE_PLUGIN +
                         " --script /no/such/script.txt 2>/dev/null",
                     &status);
    EXPECT_EQ(status, 2);
}

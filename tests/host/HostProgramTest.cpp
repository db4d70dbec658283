// The host program from the command line: results on standard output, refusals and raised
// exceptions on standard error with their exit status.
#include "TestFiles.h"

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

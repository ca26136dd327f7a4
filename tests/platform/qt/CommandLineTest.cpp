// SPDX-License-Identifier: GPL-2.0-or-later
#include "main/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tavrin::program;

TEST(CommandLine, AnswersHelpVersionAndRefusesWhatItDoesNotKnow) {
    struct Case {
        std::vector<std::string> args; // after the program's name
        bool run;
        int exitCode;
        std::string outStart;
        std::string errStart;
    };
    const std::string version = std::string(programVersion());
    const Case cases[] = {
        {{}, true, 0, "", ""},
        {{"--version"}, false, 0, "Tavrin Capture " + version + "\n", ""},
        {{"-v"}, false, 0, "Tavrin Capture " + version + "\n", ""},
        {{"--help"}, false, 0, "Usage: tavrin-capture [options]\n", ""},
        {{"-h"}, false, 0, "Usage: tavrin-capture [options]\n", ""},
        // Qt's own options, with and without values, in Qt's spellings.
        {{"-platform", "offscreen", "-reverse"}, true, 0, "", ""},
        {{"--platform=xcb", "-style=Fusion", "-display", ":0", "-name", "x", "-qwindowtitle", "t"},
         true,
         0,
         "",
         ""},
        {{"--bogus"},
         false,
         2,
         "",
         "tavrin-capture: Unknown option 'bogus'.\nUsage: tavrin-capture [options]\n"},
        {{"-xyz"}, false, 2, "", "tavrin-capture: Unknown option 'xyz'.\n"},
        {{"file.avi"}, false, 2, "", "tavrin-capture: Unexpected argument 'file.avi'.\n"},
        // An option that needs a value, without one.
        {{"-platform"}, false, 2, "", "tavrin-capture: Missing value after '-platform'.\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"tavrin-capture"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(args.size() > 1 ? args[1] : "(none)");
        const CommandLineOutcome outcome = parseCommandLine(args, kProgramIdentity);
        EXPECT_EQ(outcome.run, c.run);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.out.substr(0, c.outStart.size()), c.outStart);
        EXPECT_EQ(outcome.err.substr(0, c.errStart.size()), c.errStart);
        EXPECT_EQ(outcome.out.empty(), c.outStart.empty());
        EXPECT_EQ(outcome.err.empty(), c.errStart.empty());
    }
}

TEST(CommandLine, TheDemoAnswersUnderItsOwnName) {
    EXPECT_EQ(parseCommandLine({"tavrin-capture-demo", "--version"}, kDemoIdentity).out,
              "Tavrin Capture Demo " + std::string(programVersion()) + "\n");
    EXPECT_NE(kDemoIdentity.desktopFileName, kProgramIdentity.desktopFileName);
    EXPECT_NE(kDemoIdentity.displayName, kProgramIdentity.displayName);
}

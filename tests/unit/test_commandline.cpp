// The command line: --json belongs to --report, in either order, and never takes the file's
// place.
#include "shell/commandline.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace corvane;
using Action = CommandLine::Action;

namespace {

CommandLine parsed(std::vector<std::string> args) {
    args.insert(args.begin(), "corvane");
    static std::vector<std::string> kept;
    kept = args; // argv points into it while the result is read
    std::vector<char*> argv;
    for (std::string& a : kept)
        argv.push_back(a.data());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, JsonGoesWithReportInAnyOrder) {
    struct Case {
        std::vector<std::string> args;
        const char* target; // nullptr: standard output
    } cases[] = {
        {{"--report", "-", "--json"}, "-"},
        {{"--json", "--report", "-"}, "-"},
        {{"--report", "--json"}, nullptr},
        {{"--report", "out.json", "--json"}, "out.json"},
        {{"--json", "--report", "out.json"}, "out.json"},
    };
    for (const Case& c : cases) {
        const CommandLine line = parsed(c.args);
        EXPECT_EQ(line.action, Action::Report) << c.args.size();
        EXPECT_TRUE(line.json);
        if (c.target)
            EXPECT_STREQ(line.reportTarget, c.target);
        else
            EXPECT_EQ(line.reportTarget, nullptr);
    }
    const CommandLine text = parsed({"--report", "-"});
    EXPECT_EQ(text.action, Action::Report);
    EXPECT_FALSE(text.json);
}

TEST(CommandLine, JsonAloneOrWithAnotherCommandIsAUsageError) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--json"},
                                                 {"--json", "--restore-persistent-routes"},
                                                 {"--keep-persistent-routes", "--json"}}) {
        const CommandLine line = parsed(args);
        EXPECT_EQ(line.action, Action::Usage) << args[0];
        EXPECT_FALSE(line.error.empty());
    }
}

} // namespace

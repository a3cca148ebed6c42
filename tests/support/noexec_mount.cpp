#include "support/noexec_mount.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/sandbox.h"

namespace fixtures {

namespace {

const char kFolderVariable[] = "ZELV_NOEXEC_FOLDER";
const char kUnshare[] = "/usr/bin/unshare";
const char kMount[] = "mount -t tmpfs -o noexec,size=1m zelv-noexec \"$0\"";

// unshare -r maps our user to root inside, which may then mount; -m gives private mounts.
ChildOptions InNamespace(const std::string& script, std::vector<std::string> arguments,
                         const std::string& outputPath) {
    ChildOptions options;
    options.argv = {kUnshare, "-rm", "sh", "-c", script};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.outputPath = outputPath;
    return options;
}

// Runs the current test again there and takes its outcome.
void RunThere(const std::string& folder) {
    mkdir(folder.c_str(), 0700);
    std::string why;
    if (!ExecutableAvailable(kUnshare, "util-linux", &why))
        GTEST_SKIP() << why;
    const std::chrono::seconds bound(120);
    if (!RunTool(InNamespace(kMount, {folder}, folder + ".probe"), bound, &why))
        GTEST_SKIP() << "no mount namespace of our own: " << why;
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(test->test_suite_name()) + "." + test->name();
    const std::string output = folder + ".out";
    ChildOptions options =
        InNamespace(std::string(kMount) + " && exec \"$1\" --gtest_filter=\"$2\"",
                    {folder, SelfProgram(), name}, output);
    options.setEnvironment = {std::string(kFolderVariable) + "=" + folder};
    ASSERT_TRUE(RunTool(options, bound, &why)) << "the run on the noexec mount failed: " << why;
    const std::string text = Sandbox::ReadFile(output);
    EXPECT_NE(text.find("[  PASSED  ] 1 test."), std::string::npos)
        << "the run on the noexec mount passed no test: " << text;
}

}  // namespace

std::string NoexecProgramOrRunThere(const std::string& folder, const std::string& name,
                                    unsigned mode) {
    const char* inside = std::getenv(kFolderVariable);
    if (inside == nullptr) {
        RunThere(folder);
        return std::string();
    }
    const std::string program = std::string(inside) + "/" + name;
    if (!WriteWholeFile(program, "#!/bin/sh\nexit 0\n") || chmod(program.c_str(), mode) != 0)
        ADD_FAILURE() << "cannot write " << program;
    return program;
}

}  // namespace fixtures

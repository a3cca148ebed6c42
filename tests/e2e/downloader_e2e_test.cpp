// The real program on a virtual display against a real server, from the first click to the
// started installer, across an exit that keeps the download and across a kill.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <regex>

#include "e2e/e2e_fixture.h"
#include "support/digest.h"

namespace e2e {
namespace {

constexpr const char* kVerified = "Download complete. The file passed the integrity check.";
constexpr size_t kSmall = 1 << 20;
constexpr size_t kLarge = 4 << 20;
// Four connections at this rate take about four seconds for the large file.
constexpr long kRate = 256 * 1024;
constexpr int kSplit = 4;

std::string ProgressText(double doneBytes, double totalBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "%.2f MB of %.2f MB downloaded", doneBytes / 1048576.0,
                  totalBytes / 1048576.0);
    return text;
}

class DownloaderE2eTest : public E2eTest {
  protected:
    // Starts the download of one throttled product and waits until it has begun to write;
    // gives the file's MD5 text.
    void BeginLargeDownload(std::string* md5) {
        ASSERT_TRUE(StartServer(kRate));
        *md5 = WriteInstaller("large_setup.sh", kLarge);
        WriteConfig({{"Large product", server().limitedUrl("large_setup.sh"), *md5}}, kSplit);
        ASSERT_TRUE(StartProgram());
        ASSERT_TRUE(Click(kActionButton));
        ASSERT_TRUE(WaitForPartialProgress(seconds(20))) << "no partial progress within 20 s\n"
                                                         << Diagnostics();
    }

    // Presses the main button (Download or Resume) and waits for the download to complete,
    // pass its check and start the installer, after which the dialog closes.
    void CompleteAndCheck(const std::string& md5) {
        ASSERT_TRUE(Click(kActionButton)) << Diagnostics();
        ASSERT_TRUE(WaitForExit(seconds(40))) << "the dialog did not close within 40 s\n"
                                              << Diagnostics();
        EXPECT_TRUE(WIFEXITED(ExitStatus())) << ExitStatus() << "\n" << Diagnostics();
        EXPECT_NE(std::string::npos, RunLog().find(kVerified)) << Diagnostics();
        EXPECT_NE(std::string::npos, RunLog().find(ProgressText(kLarge, kLarge)));
        EXPECT_EQ(md5, fixtures::Md5Of(fixtures::Sandbox::ReadFile(Target("large_setup.sh"))))
            << "the completed file differs from the served one";
        EXPECT_TRUE(fixtures::WaitForFileContaining(Marker(), "large_setup.sh", seconds(10)))
            << "the installer did not run";
    }
};

TEST_F(DownloaderE2eTest, TheSecondProductDownloadsIsVerifiedAndItsInstallerRuns) {
    ASSERT_TRUE(StartServer(kRate));
    const std::string firstMd5 = WriteInstaller("first_setup.sh", kSmall);
    const size_t secondSize = 3 * kSmall + 12345;
    const std::string secondMd5 = WriteInstaller("second_setup.sh", secondSize);
    WriteConfig({{"First product", server().fileUrl("first_setup.sh"), firstMd5},
                 {"Second product", server().fileUrl("second_setup.sh"), secondMd5}},
                kSplit);
    ASSERT_TRUE(StartProgram());

    ASSERT_TRUE(ChooseProduct(1));
    ASSERT_TRUE(WaitForRunLog(
        "Change Full download name : " + fixtures::Sandbox::Win(Target("second_setup.sh")),
        seconds(10)))
        << "the second product was not chosen\n"
        << Diagnostics();
    ASSERT_TRUE(Click(kActionButton));
    ASSERT_TRUE(WaitForExit(seconds(40))) << "the dialog did not close within 40 s\n"
                                          << Diagnostics();

    EXPECT_TRUE(WIFEXITED(ExitStatus()) && WEXITSTATUS(ExitStatus()) == 0) << ExitStatus() << "\n"
                                                                           << Diagnostics();
    const std::string log = RunLog();
    EXPECT_NE(std::string::npos, log.find(ProgressText(secondSize, secondSize)))
        << "the progress never reached the whole size\n"
        << Diagnostics();
    EXPECT_NE(std::string::npos, log.find(kVerified));
    EXPECT_EQ(secondMd5, fixtures::Md5Of(fixtures::Sandbox::ReadFile(Target("second_setup.sh"))));
    EXPECT_TRUE(fixtures::WaitForFileContaining(Marker(), "second_setup.sh", seconds(10)))
        << "the installer did not run";
    EXPECT_FALSE(fixtures::Sandbox::Exists(Target("first_setup.sh")));
}

TEST_F(DownloaderE2eTest, AnExitThatKeepsTheDownloadIsResumedAtTheNextStart) {
    std::string md5;
    ASSERT_NO_FATAL_FAILURE(BeginLargeDownload(&md5));

    ASSERT_TRUE(Click(kExitButton));
    ASSERT_TRUE(AnswerBox("Return", seconds(15)))  // Yes: keep what has been downloaded
        << "no question whether to keep the download\n"
        << Diagnostics();
    ASSERT_TRUE(WaitForExit(seconds(15))) << "the program did not end after the answer\n"
                                          << Diagnostics();
    EXPECT_EQ(std::string::npos, RunLog().find(kVerified));
    EXPECT_FALSE(fixtures::Sandbox::Exists(Marker()));

    ASSERT_TRUE(StartProgram());
    const std::string loaded = RunLog();
    EXPECT_NE(std::string::npos, loaded.find("Current status is 0")) << "opens paused\n"
                                                                     << Diagnostics();
    // The saved ranges come back, and those that had bytes go on from where they stopped.
    static const std::regex saved(R"(Connect\d+ = start:(\d+), written:(\d+))");
    int withBytes = 0;
    std::vector<long> resumeAt;
    for (auto it = std::sregex_iterator(loaded.begin(), loaded.end(), saved);
         it != std::sregex_iterator(); ++it) {
        const long start = std::stol((*it)[1]), written = std::stol((*it)[2]);
        if (written > 0) {
            ++withBytes;
            resumeAt.push_back(start + written);
        }
    }
    ASSERT_GT(withBytes, 0) << "no saved progress was loaded\n" << Diagnostics();

    CompleteAndCheck(md5);
    const std::string requests = fixtures::Sandbox::ReadFile(server().accessLog());
    for (long at : resumeAt) {
        EXPECT_NE(std::string::npos, requests.find("range=\"bytes=" + std::to_string(at) + "-"))
            << "no request went on at byte " << at << "\n"
            << requests;
    }
}

TEST_F(DownloaderE2eTest, AKillMidDownloadLeavesNoCorruptFileAfterTheNextStart) {
    std::string md5;
    ASSERT_NO_FATAL_FAILURE(BeginLargeDownload(&md5));
    Kill();

    // Whether the next start offers to resume or starts anew, what it completes is whole.
    ASSERT_TRUE(StartProgram());
    const std::string loaded = RunLog();
    EXPECT_TRUE(loaded.find("Current status is 0") != std::string::npos ||
                loaded.find("Current status is 1") != std::string::npos)
        << Diagnostics();
    CompleteAndCheck(md5);
}

}  // namespace
}  // namespace e2e

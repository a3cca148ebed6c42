// The MD5 check of the file at the target path, the verification at completion, the start of
// the installer, and the state display that runs the check.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/dl_info.h"
#include "platform/shell/shell.h"
#include "support/app/engine_fixture.h"
#include "support/platform/test_seams.h"

namespace apptest {
namespace {

using platform::testing::PumpFor;

const char kUrl[] = "http://127.0.0.1:9/b/setup.exe";

// Records what the shell would start as administrator.
class RecordingStarter : public platform::ProgramStarter {
  public:
    explicit RecordingStarter(DWORD answer) : answer_(answer) { platform::SetProgramStarter(this); }
    ~RecordingStarter() override { platform::SetProgramStarter(nullptr); }
    DWORD OpenDocument(const std::string&, std::shared_ptr<platform::KernelObject>*) override {
        return ERROR_NO_ASSOCIATION;
    }
    DWORD StartElevated(const std::string& program, const std::vector<std::string>& arguments,
                        const std::string&, std::shared_ptr<platform::KernelObject>*) override {
        programs.push_back(program);
        argumentCount += arguments.size();
        return answer_;
    }
    std::vector<std::string> programs;
    size_t argumentCount = 0;

  private:
    DWORD answer_;
};

class VerificationTest : public EngineTest {
  protected:
    std::vector<std::string> Lines() const { return LogLines(logPath_); }
    // The lines of the last check, from its entry line to its exit line.
    std::vector<std::string> LastCheck() const {
        const auto lines = Lines();
        const auto entry =
            std::find(lines.rbegin(), lines.rend(), "INFO: +++++ CheckMd5()").base() - 1;
        const auto exit = std::find(entry, lines.end(), "INFO: ----- CheckMd5()");
        return std::vector<std::string>(entry, exit == lines.end() ? exit : exit + 1);
    }
    bool Has(const std::string& line) const {
        const auto lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    size_t Count(const std::string& line) const {
        const auto lines = Lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
};

TEST_F(VerificationTest, TheCheckPassesWhenTheConfiguredValueBeginsWithTheDigest) {
    const std::string bytes = "an installer";
    const std::string digest = Md5Of(bytes);
    std::string upper = digest;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    ASSERT_NE(upper, digest);
    std::string mixed = digest;
    for (size_t i = 0; i < mixed.size(); i += 2)
        mixed[i] = upper[i];
    ASSERT_NE(mixed, digest);
    struct Case {
        const char* why;
        std::string configured;
        bool file;
        bool passes;
    };
    const Case cases[] = {
        {"the digits in lower case", digest, true, true},
        {"the digits in upper case", upper, true, true},
        {"the digits in mixed case", mixed, true, true},
        {"upper case and text after the digits", upper + " SETUP.EXE", true, true},
        {"text after the 32 digits", digest + " setup.exe", true, true},
        {"31 digits", digest.substr(0, 31), true, false},
        {"another file's digits", Md5Of("other"), true, false},
        {"no value", "", true, true},
        {"no value and no file", "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        std::remove(target_.c_str());
        if (c.file)
            sandbox_.WriteFile(target_, bytes);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, c.configured);
            EXPECT_EQ(c.passes, dlg.CheckMd5() != FALSE);
        }));
        const auto check = LastCheck();
        if (c.configured.empty()) {
            EXPECT_EQ(2u, check.size()) << "no file is looked at";
        } else {
            EXPECT_NE(check.end(), std::find(check.begin(), check.end(),
                                             "INFO: **Check MD5 and the value is = " + digest));
        }
        EXPECT_EQ(c.file, fixtures::Sandbox::Exists(target_))
            << "an ordinary check deletes nothing";
        EXPECT_TRUE(responder_.boxes().empty()) << "and asks nothing";
    }
}

TEST_F(VerificationTest, AMissingFileGivesNoDigestAfterFourTriesAndIsNeverAsked) {
    for (BOOL completion : {FALSE, TRUE}) {
        SCOPED_TRACE(completion);
        ForgetLog();
        std::chrono::steady_clock::duration took{};
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, Md5Of("x"));
            dlg.m_bCompletionCheck = completion;
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(dlg.CheckMd5());
            took = std::chrono::steady_clock::now() - start;
            dlg.m_bCompletionCheck = FALSE;
        }));
        // Four pauses of 100 ms follow the four failed tries (a lower bound, not a speed).
        EXPECT_GE(took, std::chrono::milliseconds(400));
        const auto check = LastCheck();
        EXPECT_EQ(4, std::count(check.begin(), check.end(), "INFO: get empty md5, retry"));
        ASSERT_GE(check.size(), 2u);
        EXPECT_EQ("INFO: **Check MD5 and the value is = ", check[check.size() - 2]);
        EXPECT_TRUE(responder_.boxes().empty());
    }
}

TEST_F(VerificationTest, AMismatchIsDeletedAndAskedAboutOnlyInACompletionCheck) {
    struct Case {
        const char* why;
        BOOL completion;
        int answer;  // 0: no question
    };
    const Case cases[] = {
        {"an ordinary check", FALSE, 0},
        {"a completion check, OK", TRUE, IDOK},
        {"a completion check, Cancel", TRUE, IDCANCEL},
    };
    TestTicks ticks;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        sandbox_.WriteFile(target_, "not the installer");
        const size_t boxesBefore = responder_.boxes().size();
        if (c.answer != 0)
            responder_.QueueBoxAnswer(c.answer);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, Md5Of("the installer"));
            // A state without a command: a click that reaches the main button only shows it.
            dlg.m_nStatus = 7;
            dlg.m_bCompletionCheck = c.completion;
            EXPECT_FALSE(dlg.CheckMd5());
            dlg.m_bCompletionCheck = FALSE;
            PumpFor(200);
        }));
        EXPECT_EQ(c.completion == FALSE, fixtures::Sandbox::Exists(target_));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + (c.answer != 0 ? 1 : 0), boxes.size());
        if (c.answer != 0) {
            EXPECT_EQ(Res(IDS_MD5_MISMATCH), boxes.back().text);
            EXPECT_EQ(Res(IDS_MSGBOX_CAPTION), boxes.back().caption);
            EXPECT_EQ(static_cast<UINT>(MB_OKCANCEL), boxes.back().type);
        }
        EXPECT_EQ(c.answer == IDOK ? 1u : 0u, Count("INFO: Current status is 7"))
            << "OK posts a click of the main button";
    }
}

TEST_F(VerificationTest, ACompletionWithAMismatchingFileDeletesItAndReportsTheFailure) {
    responder_.QueueBoxAnswer(IDCANCEL);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrl, 1, Md5Of("the installer"));
        sandbox_.WriteFile(target_, "four");
        dlg.m_nServerFileSize = 4;
        dlg.m_pDLInfo = new DLInfo[1]();
        dlg.m_pDLInfo[0].nMode = MODE_DOWNLOAD;
        dlg.m_pDLInfo[0].dwWrittenBytes = 4;
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_DOWNLOADING;
        dlg.CaculateProgressPos();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_CURL_ERROR_BASE + 52), dlg.Text(IDC_STATIC_STATUS));
        EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_EXIT));
        EXPECT_FALSE(dlg.Enabled(IDC_BUTTON_ACTION)) << "the failure display";
    }));
    EXPECT_FALSE(fixtures::Sandbox::Exists(target_));
    const auto boxes = responder_.boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(Res(IDS_MD5_MISMATCH), boxes[0].text);
    EXPECT_EQ(FormatText(IDS_DOWNLOAD_FAILED, kUrl).GetString(), boxes[1].text);
    EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes[1].caption);
}

TEST_F(VerificationTest, APassingVerificationStartsTheInstallerWhenTheBoxIsTicked) {
    struct Case {
        const char* why;
        bool ticked;
        std::vector<std::string> groups;  // of a plain user
        DWORD elevatedAnswer;
        bool plainStart;
        bool elevatedStart;
    };
    const Case cases[] = {
        {"ticked", true, {}, ERROR_SUCCESS, true, false},
        {"not ticked", false, {}, ERROR_SUCCESS, false, false},
        {"ticked, a limited token", true, {"sudo"}, ERROR_SUCCESS, false, true},
        {"ticked, a limited token, the prompt refused",
         true,
         {"wheel"},
         ERROR_CANCELLED,
         false,
         true},
    };
    // A path with blanks stays one program name.
    const std::string installer = sandbox_.Path("my folder/setup file.exe");
    std::filesystem::create_directories(sandbox_.Path("my folder"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        const std::string marker = sandbox_.Path("ran-" + std::to_string(&c - cases));
        WriteInstaller(installer, marker);
        TestIdentity user(1000, c.groups);
        RecordingStarter starter(c.elevatedAnswer);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, Md5Of(fixtures::Sandbox::ReadFile(installer)));
            dlg.UpdateDLFullName(fixtures::Sandbox::Win(installer).c_str());
            dlg.CheckDlgButton(IDC_CHECK_LAUNCH, c.ticked ? BST_CHECKED : BST_UNCHECKED);
            EXPECT_EQ(c.ticked && c.elevatedAnswer == ERROR_SUCCESS,
                      dlg.ExecuteInstallation() != FALSE)
                << "TRUE once the installer started: a failed start keeps the dialog";
            EXPECT_EQ(Res(IDS_DOWNLOAD_VERIFIED), dlg.Text(IDC_STATIC_STATUS));
        }));
        if (c.plainStart) {
            EXPECT_TRUE(AppearsSoon(marker)) << "the installer ran";
            EXPECT_TRUE(Has("INFO: **LaunchCmd -- CreateProcessW "));
            EXPECT_TRUE(Has("INFO: \"" + fixtures::Sandbox::Win(installer) + "\""));
        } else {
            PumpFor(300);
            EXPECT_FALSE(fixtures::Sandbox::Exists(marker));
        }
        EXPECT_EQ(c.ticked, Has("INFO: +++++ OnLaunch()"));
        if (c.elevatedStart) {
            EXPECT_TRUE(Has("INFO: **LaunchCmd -- ShellExecuteEx "));
            EXPECT_EQ(std::vector<std::string>{installer}, starter.programs);
            EXPECT_EQ(0u, starter.argumentCount);
        } else {
            EXPECT_TRUE(starter.programs.empty());
        }
        EXPECT_EQ(c.ticked, Has("INFO: ---- LaunchCmd()"));
        const auto boxes = responder_.boxes();
        if (c.elevatedAnswer == ERROR_SUCCESS) {
            EXPECT_EQ(boxesBefore, boxes.size());
        } else {
            ASSERT_EQ(boxesBefore + 1, boxes.size()) << "the refused start is reported";
            EXPECT_EQ(FormatText(IDS_LAUNCH_FAILED, fixtures::Sandbox::Win(installer).c_str())
                          .GetString(),
                      boxes.back().text);
        }
    }
}

TEST_F(VerificationTest, OnlyALimitedTokenNeedsElevation) {
    struct Case {
        unsigned uid;
        std::vector<std::string> groups;
        bool needed;
    };
    const Case cases[] = {
        {1000, {}, false},       {1000, {"users", "staff"}, false},
        {1000, {"wheel"}, true}, {1000, {"staff", "sudo"}, true},
        {0, {"sudo"}, false},  // already the full token
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.groups) + " uid " + std::to_string(c.uid));
        ForgetLog();
        TestIdentity user(c.uid, c.groups);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            logPath_ = dlg.OpenLog();
            EXPECT_EQ(c.needed, dlg.NeedElevation() != FALSE);
        }));
    }
}

// A start that fails is reported with the path and OnLaunch gives 0. Another user's file, or
// one that others may change, is never started: its code would run as this user.
TEST_F(VerificationTest, AStartThatFailsOrIsRefusedIsReportedWithThePath) {
    const uid_t other = 65534;
    const std::string script = "#!/bin/sh\necho started > '" + sandbox_.Path("ran") + "'\n";
    struct Case {
        const char* why;
        std::string content;  // empty: no file
        mode_t mode;
        uid_t owner;
        UINT text;
        bool tried;  // LaunchCmd ran
    };
    const Case cases[] = {
        {"no file", "", 0, 0, IDS_LAUNCH_FAILED, false},
        {"not a program", "plain words, no interpreter line\n", 0755, geteuid(), IDS_LAUNCH_FAILED,
         true},
        {"not a program, without the execute bit", "plain words\n", 0644, geteuid(),
         IDS_LAUNCH_FAILED, true},
        {"another user's file", script, 0755, other, IDS_FILE_NOT_OWN, false},
        {"a file that others may change", script, 0757, geteuid(), IDS_FILE_NOT_OWN, false},
        {"a file that its group may change", script, 0775, geteuid(), IDS_FILE_NOT_OWN, false},
    };
    TestIdentity user;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        std::remove(target_.c_str());
        if (!c.content.empty()) {
            sandbox_.WriteFile(target_, c.content);
            ASSERT_EQ(0, chown(target_.c_str(), c.owner, static_cast<gid_t>(-1)));
            ASSERT_EQ(0, chmod(target_.c_str(), c.mode));
        }
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl);
            EXPECT_EQ(0, dlg.OnLaunch());
            EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_EXIT));
            EXPECT_FALSE(dlg.Enabled(IDC_BUTTON_ACTION)) << "the failure box's control group";
        }));
        const auto boxes = responder_.boxes();
        ASSERT_EQ(boxesBefore + 1, boxes.size());
        EXPECT_EQ(FormatText(c.text, fixtures::Sandbox::Win(target_).c_str()).GetString(),
                  boxes.back().text);
        EXPECT_EQ(Res(IDS_ERROR_CAPTION), boxes.back().caption);
        EXPECT_EQ(c.tried, Has("INFO: ---- LaunchCmd()"));
        EXPECT_TRUE(Has("INFO: ----- OnLaunch()"));
        PumpFor(300);
        EXPECT_FALSE(fixtures::Sandbox::Exists(sandbox_.Path("ran")));
    }

    // A null program: the refusal's line, without the closing one.
    ForgetLog();
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrl);
        EXPECT_FALSE(dlg.LaunchCmd(nullptr));
    }));
    const auto lines = Lines();
    const auto null =
        std::find(lines.begin(), lines.end(), "INFO: **LaunchCmd -- szProgram is NULL ");
    ASSERT_NE(lines.end(), null);
    EXPECT_EQ("INFO: +++++ LaunchCmd()", *(null - 1));
    EXPECT_EQ(0u, Count("INFO: ---- LaunchCmd()"));
}

// A Linux file name may hold a quote: the installer is started by its whole name, never a
// program named by the part before the quote.
TEST_F(VerificationTest, AnInstallerWhoseNameHoldsAQuoteIsStartedWhole) {
    const std::string folder = sandbox_.Path("my folder");
    std::filesystem::create_directories(folder);
    const std::string installer = folder + R"(/setup" it's.sh)";
    const std::string marker = sandbox_.Path("argv");
    // $0 is the path the script was executed by; $# counts what followed it.
    const std::string report = R"(printf '%s\n' "$0" "$#" > ')" + marker + ".tmp'";
    sandbox_.WriteFile(installer,
                       "#!/bin/sh\n" + report + " && mv '" + marker + ".tmp' '" + marker + "'\n");
    const std::string decoyRan = sandbox_.Path("decoy ran");
    WriteInstaller(folder + "/setup", decoyRan);
    TestIdentity user;
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrl);
        dlg.UpdateDLFullName(fixtures::Sandbox::Win(installer).c_str());
        EXPECT_EQ(1, dlg.OnLaunch());
    }));
    EXPECT_TRUE(AppearsSoon(marker)) << "the installer ran";
    EXPECT_EQ(installer + "\n0\n", fixtures::Sandbox::ReadFile(marker)) << "by its path alone";
    EXPECT_TRUE(responder_.boxes().empty());
    EXPECT_TRUE(Has(R"(INFO: ")" + fixtures::Sandbox::Win(folder) + R"(\setup"" it's.sh")"));
    EXPECT_FALSE(fixtures::Sandbox::Exists(decoyRan));
}

TEST_F(VerificationTest, TheStateDisplayShowsEachState) {
    const std::string bytes = "an installer";
    struct Case {
        const char* why;
        int status;
        std::string md5;
        bool file;
        int statusAfter;
        UINT caption;  // 0: unchanged
        bool productAndBrowse;
    };
    const Case cases[] = {
        {"paused", 0, Md5Of(bytes), true, 0, IDS_BUTTON_RESUME, true},
        {"new, a passing file", 1, Md5Of(bytes), true, 3, IDS_BUTTON_INSTALL, true},
        {"new, no value, a file", 1, "", true, 3, IDS_BUTTON_INSTALL, true},
        {"new, no value, no file", 1, "", false, 1, IDS_BUTTON_START, true},
        {"new, no file", 1, Md5Of(bytes), false, 1, IDS_BUTTON_START, true},
        {"downloading", 2, Md5Of(bytes), true, 2, IDS_BUTTON_PAUSE, false},
        {"finished, a file that fails", 3, Md5Of("other"), true, 3, IDS_BUTTON_INSTALL, true},
        {"outside the states", 5, Md5Of(bytes), true, 5, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        std::remove(target_.c_str());
        if (c.file)
            sandbox_.WriteFile(target_, bytes);
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, kUrl, 4, c.md5);
            dlg.SetDlgItemText(IDC_BUTTON_ACTION, "kept");
            dlg.SetDlgItemText(IDC_STATIC_STATUS, "");
            dlg.EnableControls(FALSE);
            dlg.m_nStatus = c.status;
            EXPECT_EQ(0, dlg.SyncUIStatus());
            EXPECT_EQ(c.statusAfter, dlg.m_nStatus.load());
            EXPECT_EQ(c.caption == 0 ? "kept" : Res(c.caption), dlg.Text(IDC_BUTTON_ACTION));
            EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_EXIT));
            EXPECT_TRUE(dlg.Enabled(IDC_BUTTON_ACTION));
            EXPECT_EQ(c.productAndBrowse, dlg.Enabled(IDC_COMBO_PRODUCT));
            EXPECT_EQ(c.productAndBrowse, dlg.Enabled(IDC_BUTTON_BROWSE));
            EXPECT_EQ(c.status == 0 ? Res(IDS_PAUSED) : "", dlg.Text(IDC_STATIC_STATUS));
        }));
        const auto lines = Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ("INFO: Current status is " + std::to_string(c.statusAfter),
                  lines[lines.size() - 2]);
        EXPECT_EQ(c.status == 5, Has("INFO: Should not be here [switch case]"));
        EXPECT_EQ(c.status == 0, Has("INFO: " + Res(IDS_PAUSED)));
        EXPECT_EQ(c.file, fixtures::Sandbox::Exists(target_));
    }
}

TEST_F(VerificationTest, TheStateDisplayChecksTheFileOnTheInterfaceThreadOnly) {
    const std::string bytes = "an installer";
    sandbox_.WriteFile(target_, bytes);
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, kUrl, 4, Md5Of(bytes));
        dlg.m_nStatus = CZELVDownloaderDlg::STATUS_START_NEW;
        // The drop path's display on the worker, after a completion or a discard set state 1.
        std::thread worker([&] { dlg.SyncUIStatus(); });
        worker.join();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_START_NEW, dlg.m_nStatus.load());
        EXPECT_EQ(Res(IDS_BUTTON_START), dlg.Text(IDC_BUTTON_ACTION));
        dlg.SyncUIStatus();
        EXPECT_EQ(CZELVDownloaderDlg::STATUS_FINISHED, dlg.m_nStatus.load());
    }));
    EXPECT_EQ(1u, Count("INFO: +++++ CheckMd5()")) << "only the interface thread's display checks";
}

}  // namespace
}  // namespace apptest

// A main dialog run modally in a sandbox with the real resource library, and the helpers the
// application tests share.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "app/downloader_dlg.h"
#include "support/platform/test_seams.h"
#include "support/sandbox.h"

namespace apptest {

// Opens the dialog's protected state to the tests and runs their body once its window exists
// and its controls are bound, then ends the dialog.
class TestDlg : public CZELVDownloaderDlg {
  public:
    using CZELVDownloaderDlg::m_arrFAQURL;
    using CZELVDownloaderDlg::m_arrGuideURL;
    using CZELVDownloaderDlg::m_arrProductMD5;
    using CZELVDownloaderDlg::m_arrProductURL;
    using CZELVDownloaderDlg::m_bRangesByte;
    using CZELVDownloaderDlg::m_brBkgnd;
    using CZELVDownloaderDlg::m_cbProduct;
    using CZELVDownloaderDlg::m_hEvent;
    using CZELVDownloaderDlg::m_hIcon;
    using CZELVDownloaderDlg::m_hThread;
    using CZELVDownloaderDlg::m_lbFAQ;
    using CZELVDownloaderDlg::m_lbGuide;
    using CZELVDownloaderDlg::m_logFile;
    using CZELVDownloaderDlg::m_nLastWritten;
    using CZELVDownloaderDlg::m_nRetryCount;
    using CZELVDownloaderDlg::m_nServerFileSize;
    using CZELVDownloaderDlg::m_nSplitNum;
    using CZELVDownloaderDlg::m_nStallTicks;
    using CZELVDownloaderDlg::m_nStatus;
    using CZELVDownloaderDlg::m_pDLInfo;
    using CZELVDownloaderDlg::m_progress;
    using CZELVDownloaderDlg::m_strCurDir;
    using CZELVDownloaderDlg::m_strDLFullName;
    using CZELVDownloaderDlg::m_strLogDir;
    using CZELVDownloaderDlg::m_strProxy;
    using CZELVDownloaderDlg::m_strProxyPassword;
    using CZELVDownloaderDlg::m_strProxyUser;
    using CZELVDownloaderDlg::m_strURL;
    // The engine's own state and handlers.
    using CZELVDownloaderDlg::m_bCompletionCheck;
    using CZELVDownloaderDlg::m_dwWorkerWaitMs;
    using CZELVDownloaderDlg::m_nHeaderTimeout;
    using CZELVDownloaderDlg::m_nLiveWorkers;
    using CZELVDownloaderDlg::m_nRecordsSize;
    using CZELVDownloaderDlg::OnBnClickedAction;
    using CZELVDownloaderDlg::OnBrowse;
    using CZELVDownloaderDlg::OnClose;
    using CZELVDownloaderDlg::OnExit;
    using CZELVDownloaderDlg::OnSelChangeProduct;
    using CZELVDownloaderDlg::OnTimer;

    std::function<void(TestDlg&)> body;
    // Runs the dialog's own set-up before the body instead of the bare binding of controls.
    bool realSetUp = false;

    BOOL OnInitDialog() override {
        if (realSetUp)
            CZELVDownloaderDlg::OnInitDialog();
        else
            CDialog::OnInitDialog();
        // An exception must fail the test, not leave the modal run waiting for ever.
        try {
            if (body)
                body(*this);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the test body threw: " << e.what();
        } catch (...) {
            ADD_FAILURE() << "the test body threw";
        }
        EndDialog(IDOK);
        return TRUE;
    }

    // The text of a control, as the model holds it.
    std::string Text(int id) const {
        CString text;
        GetDlgItemText(id, text);
        return text.GetString();
    }
    bool Enabled(int id) const { return GetDlgItem(id)->IsWindowEnabled() != FALSE; }
    // Opens the log in the sandbox with this dialog as its owner; returns its native path.
    std::string OpenLog();
    // The native path of the log that the set-up (or OpenLog) opened.
    std::string LogPath() const;
    // Something (the close handler's default handling, say) has ended the modal run.
    bool Ended() const;
};

// Makes `folder` the process's working folder for its lifetime (the set-up reads its
// configuration from there), then restores the previous one.
class WorkingFolder {
  public:
    explicit WorkingFolder(const std::string& folder);
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

  private:
    std::string previous_;
};

class DialogTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Runs a fresh dialog with `body`; false when the modal run did not happen.
    bool Run(const std::function<void(TestDlg&)>& body);
    // As Run, with the dialog's own set-up before the body.
    bool RunSetUp(const std::function<void(TestDlg&)>& body);
    static std::vector<std::string> LogLines(const std::string& nativePath);
    bool RunDialog(const std::function<void(TestDlg&)>& body, bool realSetUp);

    HMODULE resources_ = nullptr;
    platform::testing::ScriptedResponder responder_;
};

}  // namespace apptest

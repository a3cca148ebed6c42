// The main dialog: it holds the whole state of the running program. Its operations are spread
// over files by concern (downloader_dlg_*.cpp, transfer_worker.cpp).
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <thread>
#include <vector>

#include "log/log_file.h"
#include "platform/afx/dialog.h"
#include "platform/afx/message_map.h"
#include "platform/base/cstring.h"
#include "platform/fs/file.h"
#include "platform/gdi/gdi.h"
#include "resource.h"

struct DLInfo;

class CZELVDownloaderDlg : public CDialog {
  public:
    enum { IDD = IDD_DOWNLOADER_DIALOG };

    static constexpr int STATUS_PAUSED = 0;
    static constexpr int STATUS_START_NEW = 1;
    static constexpr int STATUS_DOWNLOADING = 2;
    static constexpr int STATUS_FINISHED = 3;
    static constexpr int DEFAULT_RETRY_COUNT = 3;
    static constexpr int DEFAULT_SPLIT_NUM = 4;
    static constexpr int MIN_SPLIT_NUM = 1;
    static constexpr int MAX_SPLIT_NUM = 12;
    static constexpr COLORREF PROGRESS_BK_COLOR = 0xDEDEDE;
    static constexpr COLORREF PROGRESS_BAR_COLOR = 0x00E600;
    static constexpr COLORREF BKGND_COLOR = 0xFFFFFF;
    static constexpr COLORREF LINK_TEXT_COLOR = 0xFF0000;
    static constexpr UINT_PTR IDT_PROGRESS = 777;
    static constexpr UINT PROGRESS_TIMER_MS = 300;
    static constexpr UINT STALL_TICK_LIMIT = 200;
    static constexpr DWORD THREAD_WAIT_MS = 180000;
    static constexpr long HEADER_CONNECT_TIMEOUT = 15;
    static constexpr long TRANSFER_CONNECT_TIMEOUT = 60;
    // The largest download the data model holds: every range text position lies below it.
    static constexpr ULONGLONG MAX_DOWNLOAD_SIZE = 0x80000000ull;
    // Posted by the drop path: resume the download when it is still paused.
    static constexpr UINT WM_AUTO_RESUME = WM_APP + 1;

    CZELVDownloaderDlg();
    ~CZELVDownloaderDlg() override;

    // Dialog object (downloader_dlg.cpp), failure boxes, target path.
    void ResetProgressBar();
    void EnableControls(BOOL bEnable);
    void MessageHandler(CString strCaption, CString strText);
    void UpdateDLFullName(const CString& strFullName);

    // Header request and write callback.
    BOOL CheckHTTPHeader();
    static CString GetCurlErrorText(CURLcode code);

    // Transfer worker: the thread procedure; its argument is the dialog.
    static UINT PerformDownload(LPVOID pParam);

    // Download commands.
    int OnStart();
    int OnPause();
    int OnResume();
    // The free-space query's error, when it failed, goes to *pdwQueryError.
    BOOL CheckDiskSpace(DWORD* pdwQueryError = NULL);

    // Progress and stall watchdog.
    int CaculateProgressPos();

    // Registry progress store.
    BOOL LoadRegProgressInfo();
    BOOL LoadRegConnectionInfo();
    BOOL SaveRegConnectionInfo();

    // Reset and dropped connections.
    void BackToStartNewEnv(BOOL bDeleteFile);
    void ConnectionsDropped();

    // Verification and launch.
    BOOL CheckMd5();
    BOOL ExecuteInstallation();
    int OnLaunch();
    BOOL LaunchCmd(const wchar_t* szProgram);
    BOOL NeedElevation();

    // State display.
    int SyncUIStatus();

    // Configuration reader.
    int LoadConfigFileSettings();

    // Dialog set-up.
    BOOL OnInitDialog() override;
    void InitUIText();

    // System proxy.
    BOOL GetProxySetting();

    // Enter and Esc.
    void OnOK() override;
    void OnCancel() override;
    // A transfer run is under way, or the download is running.
    BOOL WorkerRuns() const;
    // A worker started by this dialog has not ended yet.
    BOOL HasLiveWorker() const { return m_nLiveWorkers.load() > 0; }
    // Hands the log's buffered lines to the system, for an end that skips the destructors.
    void FlushLog() { m_logFile.Flush(); }

  protected:
    void DoDataExchange(CDataExchange* pDX) override;

    // Message handlers.
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnExit();
    afx_msg void OnClose();
    afx_msg HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    afx_msg LRESULT OnNcHitTest(CPoint point);
    afx_msg BOOL OnEraseBkgnd(CDC* pDC);
    afx_msg void OnSelChangeGuideList();
    afx_msg void OnSelChangeFAQList();
    afx_msg void OnBrowse();
    afx_msg void OnSelChangeProduct();
    afx_msg void OnBnClickedAction();
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    afx_msg void OnBnClickedProxy();
    afx_msg void OnMove(int x, int y);
    afx_msg LRESULT OnAutoResume(WPARAM wParam, LPARAM lParam);

    // Members in their fixed order; the destructor releases them in reverse.
    HICON m_hIcon;
    CString m_strCurDir;
    std::atomic<int> m_nSplitNum;  // the worker lowers it to 1 without range support
    CStringArray m_arrProductURL;
    CStringArray m_arrGuideURL;
    CStringArray m_arrFAQURL;
    CStringArray m_arrProductMD5;
    CComboBox m_cbProduct;
    CListBox m_lbGuide;
    CListBox m_lbFAQ;
    CString m_strURL;
    CString m_strDLFullName;
    CBrush m_brBkgnd;
    CProgressCtrl m_progress;
    CString m_strProxy;
    DWORD m_nServerFileSize;
    DWORD m_nLastWritten;
    UINT m_nStallTicks;
    std::atomic<int> m_nStatus;  // also the worker's stop request
    DLInfo* m_pDLInfo;
    CLogFile m_logFile;
    std::atomic<BOOL> m_bRangesByte;
    HANDLE m_hThread;
    CString m_strProxyUser;
    CString m_strProxyPassword;
    CString m_strLogDir;
    HANDLE m_hEvent;
    std::atomic<int> m_nRetryCount;

    // Engine state beyond the fixed members.
    // The server size that the records were made for; a resume into another size restarts.
    DWORD m_nRecordsSize;
    // The last probe's validator of the server's file, and the one of the file whose bytes the
    // records hold (sent with If-Range on a resume; empty: none known, resumed unchecked).
    CString m_strServerValidator;
    CString m_strRecordsValidator;
    // Set by the completion step around its checks: only a completion check deletes and asks.
    BOOL m_bCompletionCheck;
    // The header request's bound on the whole request, in seconds: its connect time-out and
    // about 30 s for the answer (tests shorten it).
    long m_nHeaderTimeout;
    // The six fonts of the set-up, released with the dialog.
    HFONT m_hSetupFonts[6];

    // Workers started and not yet ended; nothing they use is released while one runs.
    std::atomic<int> m_nLiveWorkers{0};
    // The longest wait for a worker to end, in milliseconds (tests shorten it).
    DWORD m_dwWorkerWaitMs;
    // What the next state display of the paused state shows instead of the paused text: why the
    // last resume or run did not go on, or that the progress could not be saved. Written by the
    // user-interface thread, and by a starting worker while that thread waits for it.
    CString m_strResumeRefusal;
    // The settings of the download were not saved at its start: the next save writes them first.
    std::atomic<BOOL> m_bSettingsUnsaved{FALSE};
    // The thread that made the dialog: the user-interface thread.
    const std::thread::id m_uiThread;

  private:
    // Engine helpers.
    void SetCurlProxy(void* curl, int nConnection);
    void RunTransfers();
    // Range i of the current size and split: its first byte and one past its last.
    DWORD RangeStart(int nIndex, int nSplit) const;
    ULONGLONG RangeEnd(int nIndex, int nSplit) const;
    // A record of range i starts where the range does and counts no more than it holds.
    BOOL RangeHolds(int nIndex, int nSplit, DWORD dwStart, DWORD dwWritten) const;
    BOOL RecordsFit(int nSplit) const;
    BOOL RecordsHoldEveryByte(int nSplit) const;
    BOOL SetOutputLength(CFile& file, BOOL& bResume);
    void FillFreshRecords(int nSplit, CFile* pFile);
    BOOL OpenOutputFile(CFile& file, BOOL& bResume);
    BOOL SyncOutputFile(CFile& file, int nSplit);
    BOOL TransferEnded(int nIndex, int nResult);
    // The transfers of every unfinished range, added to the multi handle; returns their count.
    int AddTransfers(CURLM* multi, std::vector<CURL*>& handles, CFile& file, curl_slist* pIfRange);
    void RemoveTransfers(CURLM* multi, std::vector<CURL*>& handles);
    // Every range from zero, under the server file's `strValidator`: the stale keys go (and the
    // size and validator are saved) before the file's length is set. Throws as SetLength does.
    void RestartRanges(CFile& file, const CString& strValidator);
    // The server's file changed under the held ranges: all of them again, from zero.
    BOOL StartAgainFromZero(CFile& file, int nSplit, const CString& strValidator);
    void TreatServerAsWithoutRanges();
    void ShowProxyLink(BOOL bShow);
    void ShowResumeWarning();
    HKEY WriteRegProgressInfo();
    void ForgetSavedConnections();
    BOOL IsWorkerActive() const;
    BOOL WaitForWorkerEnd();
    int RefuseResume(UINT nTextID);
    // Says in the status line and the log that the progress could not be saved.
    void ReportProgressNotSaved();
    // The folder of the target path: up to its last backslash, empty without one.
    CString TargetFolder() const;
    BOOL OnUserInterfaceThread() const;
    // The file at `strPath` opens as the program opens its files (a test that it is there).
    static BOOL FileOpens(const CString& strPath);
    // One log line formatted from `lpszFormat`, flushed like every WriteLog line.
    void WriteLogLine(int nLevel, LPCSTR lpszFormat, ...) ZELV_PRINTF(3, 4);
    void SelectProductOfURL();
    void DisableChoiceControls();

    DECLARE_MESSAGE_MAP()
};

// The main dialog: it holds the whole state of the running program. Its operations are spread
// over files by concern (downloader_dlg_*.cpp).
#pragma once

#include <atomic>

#include "log/log_file.h"
#include "platform/cstring.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/message_map.h"
#include "resource.h"

// One record per parallel connection; defined with the transfers.
struct DLInfo;

class CZELVDownloaderDlg : public CDialog {
  public:
    enum { IDD = IDD_DOWNLOADER_DIALOG };

    static constexpr int STATUS_PAUSED = 0;
    static constexpr int STATUS_START_NEW = 1;
    static constexpr int STATUS_DOWNLOADING = 2;
    static constexpr int STATUS_FINISHED = 3;
    static constexpr int DEFAULT_RETRY_COUNT = 3;
    static constexpr COLORREF PROGRESS_BK_COLOR = 0xDEDEDE;
    static constexpr COLORREF PROGRESS_BAR_COLOR = 0x00E600;
    static constexpr COLORREF BKGND_COLOR = 0xFFFFFF;
    static constexpr UINT_PTR IDT_PROGRESS = 777;

    CZELVDownloaderDlg();
    ~CZELVDownloaderDlg() override;

    void ResetProgressBar();
    void EnableControls(BOOL bEnable);
    void MessageHandler(CString strCaption, CString strText);
    void UpdateDLFullName(const CString& strFullName);

  protected:
    void DoDataExchange(CDataExchange* pDX) override;

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
    BOOL m_bRangesByte;
    HANDLE m_hThread;
    CString m_strProxyUser;
    CString m_strProxyPassword;
    CString m_strLogDir;
    HANDLE m_hEvent;
    int m_nRetryCount;

    DECLARE_MESSAGE_MAP()
};

#include "app/downloader_dlg.h"

#include <cstdarg>

#include "app/curl_use.h"
#include "app/dl_info.h"
#include "platform/kernel/sync.h"
#include "platform/modules/resources.h"
#include "platform/window/messages.h"

BEGIN_MESSAGE_MAP(CZELVDownloaderDlg, CDialog)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_BN_CLICKED(IDC_BUTTON_EXIT, &CZELVDownloaderDlg::OnExit)
ON_WM_CLOSE()
ON_WM_CTLCOLOR()
ON_WM_NCHITTEST()
ON_WM_ERASEBKGND()
ON_LBN_SELCHANGE(IDC_LIST_GUIDE, &CZELVDownloaderDlg::OnSelChangeGuideList)
ON_LBN_SELCHANGE(IDC_LIST_FAQ, &CZELVDownloaderDlg::OnSelChangeFAQList)
ON_BN_CLICKED(IDC_BUTTON_BROWSE, &CZELVDownloaderDlg::OnBrowse)
ON_CBN_SELCHANGE(IDC_COMBO_PRODUCT, &CZELVDownloaderDlg::OnSelChangeProduct)
ON_BN_CLICKED(IDC_BUTTON_ACTION, &CZELVDownloaderDlg::OnBnClickedAction)
ON_WM_TIMER()
ON_BN_CLICKED(IDC_STATIC_PROXY_LINK, &CZELVDownloaderDlg::OnBnClickedProxy)
ON_WM_MOVE()
ON_MESSAGE(WM_AUTO_RESUME, &CZELVDownloaderDlg::OnAutoResume)
END_MESSAGE_MAP()

CZELVDownloaderDlg::CZELVDownloaderDlg()
    : CDialog(IDD_DOWNLOADER_DIALOG, NULL),
      m_nSplitNum(0),
      m_nServerFileSize(0),
      m_nLastWritten(0),
      m_nStallTicks(0),
      m_nStatus(STATUS_START_NEW),
      m_pDLInfo(NULL),
      m_bRangesByte(TRUE),
      m_hThread(NULL),
      m_hEvent(CreateEventA(NULL, TRUE, FALSE, NULL)),
      m_nRetryCount(DEFAULT_RETRY_COUNT),
      m_nRecordsSize(0),
      m_bCompletionCheck(FALSE),
      m_nHeaderTimeout(HEADER_CONNECT_TIMEOUT + 30),
      m_hSetupFonts{},
      m_dwWorkerWaitMs(THREAD_WAIT_MS),
      m_uiThread(std::this_thread::get_id()) {
    // Before any worker can exist: the process's own hold on libcurl's global state.
    EnsureCurlProcessSetUp();
    // Last, as the icon comes from the resource library made current just before.
    m_hIcon = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CZELVDownloaderDlg::~CZELVDownloaderDlg() {
    for (HFONT hFont : m_hSetupFonts) {
        if (hFont != NULL)
            DeleteObject(hFont);
    }
    // Records still held here are no longer used: the close handler releases them only once the
    // worker has ended, and keeps the whole object alive otherwise.
    delete[] m_pDLInfo;
    if (m_hEvent != NULL)
        CloseHandle(m_hEvent);
    if (m_hThread != NULL)
        CloseHandle(m_hThread);
}

void CZELVDownloaderDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Control(pDX, IDC_COMBO_PRODUCT, m_cbProduct);
    DDX_Control(pDX, IDC_LIST_GUIDE, m_lbGuide);
    DDX_Control(pDX, IDC_LIST_FAQ, m_lbFAQ);
    DDX_Control(pDX, IDC_PROGRESS_DOWNLOAD, m_progress);
}

BOOL CZELVDownloaderDlg::OnUserInterfaceThread() const {
    return std::this_thread::get_id() == m_uiThread;
}

void CZELVDownloaderDlg::WriteLogLine(int nLevel, LPCSTR lpszFormat, ...) {
    CString strLine;
    va_list args;
    va_start(args, lpszFormat);
    strLine.FormatV(lpszFormat, args);
    va_end(args);
    m_logFile.WriteLog(strLine, FALSE, nLevel);
}

void CZELVDownloaderDlg::ResetProgressBar() {
    CWnd* pProgress = GetDlgItem(IDC_PROGRESS_DOWNLOAD);
    if (pProgress == NULL)
        return;
    pProgress->SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    pProgress->SendMessage(PBM_SETPOS, 0, 0);
    pProgress->SendMessage(PBM_SETBKCOLOR, 0, PROGRESS_BK_COLOR);
    pProgress->SendMessage(PBM_SETBARCOLOR, 0, PROGRESS_BAR_COLOR);
}

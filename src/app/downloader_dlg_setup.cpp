// The dialog set-up: icon, connection count, brush, working folder, log, fonts and texts, then
// the configuration, the system proxy, the default target path and the saved download.
#include "app/dl_info.h"
#include "app/downloader_dlg.h"
#include "platform/fs/folders.h"
#include "platform/gdi/font.h"
#include "platform/gdi/gdi_object.h"

namespace {
struct FontChange {
    int nID;
    LONG lHeight;  // 0: the control's own
    LONG lWeight;  // 0: the control's own
    BYTE bUnderline;
};
const FontChange kFonts[] = {
    {IDC_STATIC_TITLE, 16, 700, 0},    {IDC_STATIC_TIPS_TITLE, 0, 700, 0},
    {IDC_STATIC_FAQ_TITLE, 0, 700, 0}, {IDC_LIST_GUIDE, 0, 0, 1},
    {IDC_LIST_FAQ, 0, 0, 1},           {IDC_STATIC_PROXY_LINK, 0, 700, 1},
};
}  // namespace

BOOL CZELVDownloaderDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_nSplitNum = DEFAULT_SPLIT_NUM;
    m_brBkgnd.CreateSolidBrush(BKGND_COLOR);

    char szCurDir[MAX_PATH] = {0};
    GetCurrentDirectoryA(MAX_PATH, szCurDir);
    m_strCurDir.Format("%s\\", szCurDir);
    ResetProgressBar();
    m_logFile.InitLogFile(this, m_strLogDir);

    for (size_t i = 0; i < sizeof(kFonts) / sizeof(kFonts[0]); ++i) {
        CWnd* pCtrl = GetDlgItem(kFonts[i].nID);
        if (pCtrl == NULL)
            continue;
        LOGFONTA lf = {};
        const HFONT hCurrent = reinterpret_cast<HFONT>(pCtrl->SendMessage(WM_GETFONT, 0, 0));
        if (hCurrent == NULL || GetObjectA(hCurrent, sizeof(lf), &lf) == 0)
            continue;
        if (kFonts[i].lHeight != 0)
            lf.lfHeight = kFonts[i].lHeight;
        if (kFonts[i].lWeight != 0)
            lf.lfWeight = kFonts[i].lWeight;
        lf.lfUnderline = kFonts[i].bUnderline;
        m_hSetupFonts[i] = CreateFontIndirectA(&lf);
        pCtrl->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_hSetupFonts[i]), TRUE);
    }
    InitUIText();

    if (LoadConfigFileSettings() == 0) {
        MessageHandler("", "");
        return TRUE;
    }
    GetProxySetting();
    UpdateDLFullName("");
    if (LoadRegProgressInfo()) {
        if (!m_bRangesByte) {
            m_logFile.WriteLog(
                "m_bRangesByte is false form register key, so BackToStartNewEnv(TRUE)", FALSE,
                LOG_INFO);
            BackToStartNewEnv(TRUE);
            m_bRangesByte = TRUE;
        } else {
            m_nStatus = STATUS_PAUSED;
            if (!LoadRegConnectionInfo()) {
                // Records that cannot all be read cannot say where the file's bytes are: the
                // settings and the file stay, and the next run fills every range from zero.
                m_logFile.WriteLog(
                    "The saved connections do not describe the file: every range "
                    "starts again at the resume",
                    FALSE, LOG_INFO);
                delete[] m_pDLInfo;
                m_pDLInfo = NULL;
            }
            CaculateProgressPos();
        }
    }
    SyncUIStatus();
    CheckDlgButton(IDC_CHECK_LAUNCH, BST_CHECKED);
    return TRUE;
}

void CZELVDownloaderDlg::InitUIText() {
    CString strText;
    strText.LoadString(IDS_TITLE);
    SetWindowText(strText);
    SetDlgItemText(IDC_STATIC_TITLE, strText);
    const struct {
        UINT nString;
        int nID;
    } kTexts[] = {
        {IDS_DESCRIPTION, IDC_STATIC_DESCRIPTION}, {IDS_BUTTON_START, IDC_BUTTON_ACTION},
        {IDS_PRODUCT_LABEL, IDC_STATIC_PRODUCT},   {IDS_BUTTON_EXIT, IDC_BUTTON_EXIT},
        {IDS_BUTTON_BROWSE, IDC_BUTTON_BROWSE},
    };
    for (const auto& text : kTexts) {
        strText.LoadString(text.nString);  // a missing string leaves the previous text
        SetDlgItemText(text.nID, strText);
    }
    for (int nID :
         {IDC_STATIC_PATH, IDC_STATIC_TIPS_TITLE, IDC_STATIC_FAQ_TITLE, IDC_STATIC_STATUS})
        SetDlgItemText(nID, "");
    strText.LoadString(IDS_PROXY_LINK);
    SetDlgItemText(IDC_STATIC_PROXY_LINK, strText);
    if (CWnd* pLink = GetDlgItem(IDC_STATIC_PROXY_LINK))
        pLink->ShowWindow(SW_HIDE);
}

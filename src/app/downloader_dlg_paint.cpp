// Painting, colours, dragging and the link lists.
#include <cstring>

#include "app/downloader_dlg.h"
#include "platform/afx/paint_dc.h"
#include "platform/shell/shell.h"

namespace {

bool StartsWithNoCase(const CString& text, const char* prefix) {
    const int nLength = static_cast<int>(strlen(prefix));
    return text.GetLength() >= nLength && text.Left(nLength).CompareNoCase(prefix) == 0;
}

// Only web addresses go to the browser: the configuration file can be edited by anyone, and
// the desktop's opener would also run a local file or another scheme's handler.
bool IsWebAddress(const CString& strURL) {
    int nHost;
    if (StartsWithNoCase(strURL, "http://")) {
        nHost = 7;
    } else if (StartsWithNoCase(strURL, "https://")) {
        nHost = 8;
    } else {
        return false;
    }
    if (nHost >= strURL.GetLength())
        return false;
    const char cFirst = strURL[nHost];
    if (cFirst == '/' || cFirst == '\\' || cFirst == '?' || cFirst == '#')
        return false;
    // Blanks and control bytes belong to no address; the opener would take them as they are.
    for (int i = 0; i < strURL.GetLength(); ++i) {
        if (static_cast<unsigned char>(strURL[i]) <= ' ' || strURL[i] == 0x7F)
            return false;
    }
    return true;
}

// The rule of both link lists: take the first selected entry, clear the selection so that the
// same entry can be chosen again at once, and open its address.
void OpenChosenLink(HWND hOwner, CListBox& list, const CStringArray& arrURL, CLogFile& log) {
    int nIndex = 0;
    while (nIndex < static_cast<int>(list.SendMessage(LB_GETCOUNT)) &&
           static_cast<int>(list.SendMessage(LB_GETSEL, static_cast<WPARAM>(nIndex))) <= 0) {
        ++nIndex;
    }
    list.SendMessage(LB_SETCURSEL, static_cast<WPARAM>(-1));
    if (nIndex < 0 || nIndex >= arrURL.GetSize())
        return;
    const CString& strURL = arrURL[nIndex];
    if (!IsWebAddress(strURL)) {
        log.WriteLog("Link not opened, only http and https addresses are: " + strURL, FALSE,
                     LOG_ERROR);
        return;
    }
    ShellExecuteA(hOwner, "open", strURL, NULL, NULL, SW_SHOWNORMAL);
}

}  // namespace

void CZELVDownloaderDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - cxIcon + 1) / 2;
    const int y = (rect.Height() - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CZELVDownloaderDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

HBRUSH CZELVDownloaderDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (nCtlColor == CTLCOLOR_STATIC) {
        if (pWnd != NULL && pWnd->GetDlgCtrlID() == IDC_STATIC_PROXY_LINK)
            pDC->SetTextColor(LINK_TEXT_COLOR);
        pDC->SetBkMode(TRANSPARENT);
    } else if (nCtlColor == CTLCOLOR_LISTBOX) {
        pDC->SetTextColor(LINK_TEXT_COLOR);
    }
    return m_brBkgnd;
}

LRESULT CZELVDownloaderDlg::OnNcHitTest(CPoint point) {
    CRect rect;
    GetClientRect(&rect);
    ClientToScreen(&rect);
    if (rect.PtInRect(point))
        return HTCAPTION;
    return Default();
}

BOOL CZELVDownloaderDlg::OnEraseBkgnd(CDC* pDC) {
    CRect rect;
    GetClientRect(&rect);
    pDC->FillRect(&rect, &m_brBkgnd);

    CWnd* pPicture = GetDlgItem(IDC_STATIC_PICTURE);
    if (pPicture == NULL)
        return TRUE;
    // Read at every erase, so a replaced file shows at the next one.
    const CString strPicture = m_strCurDir + "product_name.bmp";
    HBITMAP hBitmap = static_cast<HBITMAP>(
        LoadImageA(NULL, strPicture, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    HDC hPictureDC = ::GetDC(pPicture->m_hWnd);
    // The copy is ANDed onto what the control holds: it starts white, so the last erase's
    // picture does not show through a new one, and without a file the area stays white.
    CRect rcPicture;
    pPicture->GetClientRect(&rcPicture);
    ::FillRect(hPictureDC, &rcPicture, m_brBkgnd);
    if (hBitmap != NULL) {
        HDC hMemDC = CreateCompatibleDC(hPictureDC);
        HGDIOBJ hOldBitmap = SelectObject(hMemDC, hBitmap);
        BitBlt(hPictureDC, 0, 0, rect.Width(), rect.Height(), hMemDC, 0, 0, SRCAND);
        SelectObject(hMemDC, hOldBitmap);
        DeleteDC(hMemDC);
        DeleteObject(hBitmap);
    }
    ::ReleaseDC(pPicture->m_hWnd, hPictureDC);
    return TRUE;
}

void CZELVDownloaderDlg::OnSelChangeGuideList() {
    OpenChosenLink(m_hWnd, m_lbGuide, m_arrGuideURL, m_logFile);
}

void CZELVDownloaderDlg::OnSelChangeFAQList() {
    OpenChosenLink(m_hWnd, m_lbFAQ, m_arrFAQURL, m_logFile);
}

void CZELVDownloaderDlg::OnMove(int x, int y) {
    (void)x;
    (void)y;
    Default();
    RedrawWindow(NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

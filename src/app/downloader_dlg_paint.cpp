// Painting, colours, dragging and the link lists (not built yet: the defaults).
#include "app/downloader_dlg.h"

void CZELVDownloaderDlg::OnPaint() {
    CDialog::OnPaint();
}
HCURSOR CZELVDownloaderDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}
HBRUSH CZELVDownloaderDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    return CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
}
LRESULT CZELVDownloaderDlg::OnNcHitTest(CPoint point) {
    return CDialog::OnNcHitTest(point);
}
BOOL CZELVDownloaderDlg::OnEraseBkgnd(CDC* pDC) {
    return CDialog::OnEraseBkgnd(pDC);
}
void CZELVDownloaderDlg::OnSelChangeGuideList() {}
void CZELVDownloaderDlg::OnSelChangeFAQList() {}
void CZELVDownloaderDlg::OnMove(int x, int y) {
    CDialog::OnMove(x, y);
}

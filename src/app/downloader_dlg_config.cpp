// The configuration reader: "DownloadCfg.ini" in the working folder fills the product and link
// lists, the split number and three texts. The file is only ever read.
#include <climits>

#include "app/downloader_dlg.h"
#include "platform/afx/controls.h"
#include "platform/fs/file.h"
#include "platform/fs/profile.h"

namespace {

constexpr DWORD kValueSize = 260;
constexpr DWORD kDescriptionSize = 1024;

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a leading decimal number as "%d" does (blanks, a sign, digits up to the first other
// character; 0 when there is none). A number beyond int saturates: sscanf's overflow is
// undefined, and the file is anyone's to edit.
int ReadLeadingInt(const char* text) {
    while (IsCSpace(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= INT_MAX)
            value = value * 10 + (*text - '0');
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// One value buffer shared by every read, as the format's length limits are defined by it.
class ConfigReader {
  public:
    explicit ConfigReader(const CString& path) : m_path(path) {}

    CString Value(LPCSTR section, LPCSTR key, DWORD size = kValueSize) {
        GetPrivateProfileStringA(section, key, "", m_buffer, size, m_path);
        return CString(m_buffer);
    }

    // Visits Base#1, Base#2, ... until the first section that is missing or empty; returns how
    // many were visited. Sections after a gap are never read.
    template <typename Visit>
    int ForEachNumbered(LPCSTR base, Visit visit) {
        int count = 0;
        for (int n = 1; n < INT_MAX; ++n) {
            CString section;
            section.Format("%s#%d", base, n);
            if (GetPrivateProfileSectionA(section, m_buffer, kValueSize, m_path) == 0)
                break;
            visit(section);
            ++count;
        }
        return count;
    }

  private:
    CString m_path;
    char m_buffer[kDescriptionSize] = {0};
};

void ReadLinks(ConfigReader& reader, LPCSTR base, CListBox& names, CStringArray& urls) {
    reader.ForEachNumbered(base, [&](LPCSTR section) {
        names.AddString(reader.Value(section, "Name"));
        urls.Add(reader.Value(section, "URL"));
    });
}

void DumpList(CLogFile& log, LPCSTR what, const CStringArray& entries) {
    for (INT_PTR i = 0; i < entries.GetSize(); ++i) {
        CString line;
        line.Format("Load %s %d URL: %s", what, static_cast<int>(i), entries[i].GetString());
        log.WriteLog(line, FALSE, LOG_INFO);
    }
}

}  // namespace

int CZELVDownloaderDlg::LoadConfigFileSettings() {
    m_logFile.WriteLog("+++++ LoadConfigFileSettings()", FALSE, LOG_INFO);
    int nRet = 0;
    const CString strCfgFile = m_strCurDir + "DownloadCfg.ini";

    // The file is only read, so it is opened for reading: an installed copy's file that the
    // user may not write is still read. One that is missing, a folder or no regular file, or
    // that another program holds open, counts as missing.
    CStdioFile file;
    if (!file.Open(strCfgFile, CFile::modeRead)) {
        m_logFile.WriteLog("Can't find config file!!", TRUE, LOG_FATAL);
    } else {
        file.Close();
        ConfigReader reader(strCfgFile);
        const int nProducts = reader.ForEachNumbered("Download", [&](LPCSTR section) {
            m_cbProduct.InsertString(-1, reader.Value(section, "ProductName"));
            m_arrProductMD5.Add(reader.Value(section, "MD5"));
            m_arrProductURL.Add(reader.Value(section, "URL"));
        });

        if (nProducts > 0) {
            const CString strSN = reader.Value("Config", "SN");
            if (!strSN.IsEmpty()) {
                const int nSN = ReadLeadingInt(strSN);
                if (nSN >= MIN_SPLIT_NUM && nSN <= MAX_SPLIT_NUM)
                    m_nSplitNum = nSN;
                CString line;
                line.Format("Load split num == %d, set split num == %d", nSN, m_nSplitNum.load());
                m_logFile.WriteLog(line, FALSE, LOG_INFO);
            }

            SetDlgItemText(IDC_STATIC_TIPS_TITLE, reader.Value("TipsInfo", "Title"));
            SetDlgItemText(IDC_STATIC_FAQ_TITLE, reader.Value("FAQInfo", "Title"));
            SetDlgItemText(IDC_STATIC_DESCRIPTION,
                           reader.Value("Description", "Description", kDescriptionSize));

            ReadLinks(reader, "TipLink", m_lbGuide, m_arrGuideURL);
            ReadLinks(reader, "FAQLink", m_lbFAQ, m_arrFAQURL);

            m_cbProduct.SetCurSel(0);
            m_strURL = m_arrProductURL[0];
            nRet = 1;
        }
    }

    DumpList(m_logFile, "Product", m_arrProductURL);
    DumpList(m_logFile, "Guide", m_arrGuideURL);
    DumpList(m_logFile, "FAQ", m_arrFAQURL);

    CString line;
    line.Format("----- LoadConfigFileSettings() Ret = %d", nRet);
    m_logFile.WriteLog(line, FALSE, LOG_INFO);
    return nRet;
}

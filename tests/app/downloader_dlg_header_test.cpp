// What the header request reports: the text of a libcurl result code, the lines it logs for a
// passing and a failed probe, the refused statuses, and the largest size it accepts.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/app/engine_checks.h"
#include "support/app/engine_fixture.h"

namespace apptest {
namespace {

using fixtures::Fault;

class HeaderProbeTest : public ServedEngineTest {
  protected:
    bool HasLine(const std::string& line) const {
        const auto lines = LogLines(logPath_);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(HeaderProbeTest, ResultCodesUpTo92HaveTheirOwnTextsAndLaterOnesTheFallback) {
    struct Case {
        int code;
        std::string text;
    };
    const std::string fallback93 = FormatText(IDS_CURL_ERROR_UNKNOWN, 93).GetString();
    const Case cases[] = {
        {0, Res(IDS_CURL_ERROR_BASE)},
        {28, Res(IDS_CURL_ERROR_BASE + 28)},
        {92, Res(IDS_CURL_ERROR_BASE + 92)},
        {93, fallback93},
        {-1, FormatText(IDS_CURL_ERROR_UNKNOWN, -1).GetString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_FALSE(c.text.empty());
        EXPECT_EQ(c.text,
                  CZELVDownloaderDlg::GetCurlErrorText(static_cast<CURLcode>(c.code)).GetString());
    }
    EXPECT_NE(fallback93, Res(IDS_CURL_ERROR_BASE + 92).c_str()) << "92 is not the fallback";
}

TEST_F(HeaderProbeTest, APassingProbeLogsTheSizeAndTheRangeFlagUpToTheLargestDownload) {
    struct Case {
        const char* why;
        std::vector<Fault> faults;
        bool passes;
        DWORD size;
        const char* line;  // logged when it passes
    };
    const Case cases[] = {
        {"a plain answer",
         {},
         true,
         kSize,
         "INFO: Succeeded to check connection!! File size is 1048579; support ranges = 1"},
        {"no byte ranges",
         {Fault::NoAcceptRanges()},
         true,
         kSize,
         "INFO: Succeeded to check connection!! File size is 1048579; support ranges = 0"},
        {"exactly 2^31 bytes",
         {Fault::LyingLength(0x80000000ll)},
         true,
         0x80000000u,
         "INFO: Succeeded to check connection!! File size is -2147483648; support ranges = 1"},
        {"one byte more than 2^31", {Fault::LyingLength(0x80000001ll)}, false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        ForgetLog();
        SetFaults(server_, "/setup.exe", c.faults);
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            dlg.m_nServerFileSize = 77;
            EXPECT_EQ(c.passes, dlg.CheckHTTPHeader() != FALSE);
            EXPECT_EQ(c.passes ? c.size : 77u, dlg.m_nServerFileSize);
        }));
        if (c.passes) {
            EXPECT_TRUE(HasLine(c.line)) << c.line;
            EXPECT_EQ(boxesBefore, responder_.boxes().size());
        } else {
            EXPECT_FALSE(LogHas("Succeeded to check connection!!"));
            ASSERT_EQ(boxesBefore + 1, responder_.boxes().size());
            EXPECT_EQ(FormatText(IDS_FILE_TOO_LARGE, Url().c_str()).GetString(),
                      responder_.boxes().back().text);
        }
    }
}

TEST_F(HeaderProbeTest, AStatusOtherThan200IsReportedWithItsFirstLineAndNoBox) {
    struct Case {
        int status;
        const char* firstLine;
    };
    const Case cases[] = {
        {301, "HTTP/1.1 301 Moved Permanently\r\n"},
        {404, "HTTP/1.1 404 Not Found\r\n"},
        {500, "HTTP/1.1 500 Internal Server Error\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ForgetLog();
        SetFaults(server_, "/setup.exe", {Fault::HeadStatus(c.status, "/elsewhere")});
        const std::string report =
            FormatText(IDS_HTTP_STATUS_ERROR, c.status, c.firstLine).GetString();
        const size_t boxesBefore = responder_.boxes().size();
        ASSERT_TRUE(Run([&](TestDlg& dlg) {
            Prepare(dlg, Url());
            EXPECT_FALSE(dlg.CheckHTTPHeader());
            EXPECT_EQ(report, dlg.Text(IDC_STATIC_STATUS));
        }));
        // The log's own line ends follow the first line's.
        EXPECT_TRUE(LogHas("ERROR: " + report.substr(0, report.find('\r')))) << report;
        EXPECT_EQ(boxesBefore, responder_.boxes().size());
    }
}

TEST_F(HeaderProbeTest, AFailedTransferLogsTheTextAndTheCodeOfItsResult) {
    server_.AddFault("/setup.exe", Fault::NeverAnswer());
    const std::string text =
        CZELVDownloaderDlg::GetCurlErrorText(CURLE_OPERATION_TIMEDOUT).GetString();
    ASSERT_TRUE(Run([&](TestDlg& dlg) {
        Prepare(dlg, Url());
        dlg.m_nHeaderTimeout = 1;
        EXPECT_FALSE(dlg.CheckHTTPHeader());
        EXPECT_EQ(text, dlg.Text(IDC_STATIC_STATUS));
    }));
    EXPECT_TRUE(HasLine("ERROR: " + text));
    EXPECT_TRUE(HasLine("ERROR: cURL return code is 28"));
    ASSERT_EQ(1u, responder_.boxes().size());
    EXPECT_EQ(FormatText(IDS_DOWNLOAD_FAILED, Url().c_str()).GetString(),
              responder_.boxes()[0].text);
}

}  // namespace
}  // namespace apptest

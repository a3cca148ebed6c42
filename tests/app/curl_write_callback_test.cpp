// The write callback on its own: header lines of the probe, and the placement of a range's
// bytes once its answer has been accepted.
#include <gtest/gtest.h>

#include <string>

#include "app/dl_info.h"
#include "support/sandbox.h"

namespace {

size_t Feed(void* record, const std::string& data) {
    std::string copy = data;
    return CurlWriteCallback(copy.data(), 1, copy.size(), record);
}

TEST(WriteCallback, HeaderLinesGiveTheLengthTheRangeFlagAndTheFirstLine) {
    struct Case {
        std::vector<std::string> lines;
        DWORD length;
        BOOL ranges;
    };
    const Case cases[] = {
        {{"HTTP/1.1 200 OK\r\n", "Content-Length: 3000000\r\n", "Accept-Ranges: bytes\r\n"},
         3000000,
         TRUE},
        {{"HTTP/1.1 200 OK\r\n", "CONTENT-LENGTH: 12\r\n", "ACCEPT-RANGES: BYTES\r\n"}, 12, TRUE},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges:bytes\r\n"}, 0, FALSE},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges:  bytes\r\n"}, 0, FALSE},
        {{"HTTP/1.1 200 OK\r\n", "Accept-Ranges: none\r\n"}, 0, FALSE},
        // A later unreadable length replaces an earlier one.
        {{"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "Content-Length: abc\r\n"}, 0, FALSE},
        // Only the headers themselves, named at the start of the line; read after its last
        // colon.
        {{"HTTP/1.1 200 OK\r\n", "Content-Length: 5\r\n", "X-Original-Content-Length: 77\r\n"},
         5,
         FALSE},
        {{"HTTP/1.1 200 OK\r\n", "Content-Lengths: 77\r\n"}, 0, FALSE},
        {{"HTTP/1.1 200 OK\r\n", "Content-Length\t: 77\r\n"}, 77, FALSE},
        {{"HTTP/1.1 200 OK\r\n", "X-Accept-Ranges: bytes\r\n"}, 0, FALSE},
        {{"HTTP/1.1 200 OK\r\n", "X-Note: accept-ranges: bytes\r\n"}, 0, FALSE},
        // A second answer (after a proxy's challenge) starts afresh.
        {{"HTTP/1.1 407 Proxy Authentication Required\r\n", "Content-Length: 3400\r\n",
          "Accept-Ranges: bytes\r\n", "HTTP/1.1 200 OK\r\n"},
         0,
         FALSE},
        // Both texts in one line: only the length.
        {{"HTTP/1.1 200 OK\r\n", "content-length: 9 accept-ranges: bytes\r\n"}, 0, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines[1]);
        HTTPHeaderInfo info;
        for (const std::string& line : c.lines)
            EXPECT_EQ(line.size(), Feed(&info, line));
        EXPECT_EQ(c.length, info.dwContentLength);
        EXPECT_EQ(c.ranges, info.bRangesByte);
        EXPECT_EQ(c.lines[0], info.strFirstLine.GetString());
    }
}

TEST(WriteCallback, ALengthBeyondThirtyTwoBitsIsKeptWhole) {
    HTTPHeaderInfo info;
    Feed(&info, "Content-Length: 4294967297\r\n");
    EXPECT_EQ(4294967297ull, info.ullContentLength);
}

class PlacementTest : public fixtures::SandboxTest {
  protected:
    void SetUp() override {
        path_ = sandbox_.Path("out.bin");
        sandbox_.WriteFile(path_, std::string(16, '.'));
        ASSERT_TRUE(file_.Open(fixtures::Sandbox::Win(path_).c_str(),
                               CFile::modeReadWrite | CFile::typeBinary));
    }
    // A record whose answer was accepted, for the range [start, end) with `written` held; the
    // answer claims to carry bytes up to `claimEnd` (0: the range's end).
    void Accept(DLInfo& info, DWORD start, ULONGLONG end, DWORD written, ULONGLONG skip = 0,
                ULONGLONG claimEnd = 0) {
        info.nMode = MODE_DOWNLOAD;
        info.pFile = &file_;
        info.dwStartRange = start;
        info.dwWrittenBytes = written;
        info.ullRangeEnd = end;
        info.ullAnswerEnd = claimEnd != 0 ? claimEnd : end;
        info.nAnswer = 1;
        info.ullSkip = skip;
    }
    std::string Bytes() {
        file_.Close();
        return fixtures::Sandbox::ReadFile(path_);
    }
    std::string path_;
    CFile file_;
};

TEST_F(PlacementTest, BytesLandAtTheirOffsetAndNeverPastTheRange) {
    DLInfo a, b, c;
    Accept(a, 4, 8, 1);  // next byte at 5
    EXPECT_EQ(3u, Feed(&a, "abc"));
    EXPECT_EQ(4u, a.dwWrittenBytes.load());
    Accept(b, 8, 12, 0, 2);  // the answer starts two bytes before the position
    EXPECT_EQ(3u, Feed(&b, "xyA"));
    EXPECT_EQ(3u, Feed(&b, "BCD"));
    EXPECT_EQ(4u, b.dwWrittenBytes.load());
    Accept(c, 12, 16, 0);
    EXPECT_EQ(0u, Feed(&c, "123456")) << "bytes past the range end the transfer";
    EXPECT_EQ(4u, c.dwWrittenBytes.load()) << "the range holds exactly its bytes";
    EXPECT_EQ(DL_FAULT_OVERRUN, c.nFault);
    EXPECT_EQ(".....abcABCD1234", Bytes());
}

TEST_F(PlacementTest, BytesPastWhatTheAnswerClaimsAreNeverWritten) {
    DLInfo info;
    Accept(info, 4, 12, 0, 0, 8);  // the range 4-11, the answer's Content-Range 4-7
    EXPECT_EQ(0u, Feed(&info, "abcdXYZW")) << "the transfer ends at the claim";
    EXPECT_EQ(4u, info.dwWrittenBytes.load()) << "the range stays short, to be resumed";
    EXPECT_EQ(DL_FAULT_PAST_CLAIM, info.nFault);
    EXPECT_EQ("....abcd........", Bytes());
}

TEST_F(PlacementTest, AZeroedRecordTakesEverythingAndWritesNothing) {
    DLInfo zeroed;
    EXPECT_EQ(5u, Feed(&zeroed, "hello"));
    EXPECT_EQ(0u, zeroed.dwWrittenBytes.load());
    EXPECT_EQ(std::string(16, '.'), Bytes());
}

TEST_F(PlacementTest, AFailingWriteEndsTheTransferWithoutCounting) {
    CFile readOnly;
    ASSERT_TRUE(readOnly.Open(fixtures::Sandbox::Win(path_ + "2").c_str(),
                              CFile::modeCreate | CFile::modeRead));
    DLInfo info;
    Accept(info, 0, 16, 0);
    info.pFile = &readOnly;
    EXPECT_EQ(0u, Feed(&info, "abc"));
    EXPECT_EQ(0u, info.dwWrittenBytes.load());
    EXPECT_EQ(DL_FAULT_FILE, info.nFault);
}

}  // namespace

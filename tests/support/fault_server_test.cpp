#include "support/fault_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace fixtures {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Before any test thread exists.
const bool kCurlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

class Client {
  public:
    // `bodiesStarted`, when given, counts the replies whose first body bytes arrived.
    explicit Client(std::atomic<int>* bodiesStarted = nullptr)
        : curl_(curl_easy_init()), bodiesStarted_(bodiesStarted) {}
    ~Client() { curl_easy_cleanup(curl_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // `range` is what follows "bytes=", empty for none; so is `ifRange`, the If-Range value.
    Reply Fetch(const std::string& url, const std::string& method = "GET",
                const std::string& range = "", long timeoutMs = 10000,
                const std::string& ifRange = "") {
        Reply reply;
        std::unique_ptr<curl_slist, void (*)(curl_slist*)> extra(
            ifRange.empty() ? nullptr
                            : curl_slist_append(nullptr, ("If-Range: " + ifRange).c_str()),
            curl_slist_free_all);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, extra.get());
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, timeoutMs);
        curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl_, CURLOPT_NOBODY, method == "HEAD" ? 1L : 0L);
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST,
                         method == "HEAD" || method == "GET" ? nullptr : method.c_str());
        curl_easy_setopt(curl_, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &Client::OnHeader);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &reply);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Client::OnBody);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
        reply_ = &reply;
        reply.code = curl_easy_perform(curl_);
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
        return reply;
    }

    // Opens a connection and sends nothing on it.
    CURLcode ConnectOnly(const std::string& url) {
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl_, CURLOPT_CONNECT_ONLY, 1L);
        return curl_easy_perform(curl_);
    }

  private:
    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto* reply = static_cast<Reply*>(user);
        const std::string line(data, size * count);
        if (line.compare(0, 5, "HTTP/") == 0)
            reply->headers.clear();
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const auto first = line.find_first_not_of(' ', colon + 1);
            const auto last = line.find_last_not_of("\r\n");
            reply->headers[name] = first <= last ? line.substr(first, last - first + 1) : "";
        }
        return size * count;
    }
    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto* client = static_cast<Client*>(user);
        if (client->reply_->body.empty() && client->bodiesStarted_)
            ++*client->bodiesStarted_;
        client->reply_->body.append(data, size * count);
        return size * count;
    }

    CURL* curl_;
    std::atomic<int>* bodiesStarted_;
    Reply* reply_ = nullptr;
};

const std::string kData = PatternBytes(1000, 7);

std::string Slice(std::int64_t first, std::int64_t last) {
    return kData.substr(first, last - first + 1);
}

// Waits for a count that the server's threads change; false after a generous bound.
template <typename Read>
bool Eventually(Read read, int expected) {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (read() != expected) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

class FaultServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kCurlReady);
        server_.AddFile("/file.bin", kData);
    }
    FaultServer server_;
    Client client_;
};

TEST(PatternBytesTest, IsDeterministicAndNeverMatchesItselfShifted) {
    const std::string bytes = PatternBytes(4096, 1);
    EXPECT_EQ(bytes, PatternBytes(4096, 1));
    EXPECT_EQ(bytes.substr(0, 100), PatternBytes(100, 1));
    EXPECT_NE(bytes, PatternBytes(4096, 2));
    for (std::size_t shift : {1, 7, 8, 64, 1000}) {
        EXPECT_NE(bytes.substr(0, 64), bytes.substr(shift, 64)) << shift;
    }
}

struct Expect {
    const char* name;
    std::vector<Fault> faults;
    std::string method;
    std::string range;  // after "bytes="
    CURLcode code;
    long status;
    std::map<std::string, std::optional<std::string>> headers;  // nullopt: must be absent
    std::optional<std::string> body;                            // nullopt: not checked
};

void Check(FaultServer& server, Client& client, const Expect& expect) {
    SCOPED_TRACE(expect.name);
    server.ClearFaults("/file.bin");
    for (const Fault& fault : expect.faults)
        server.AddFault("/file.bin", fault);
    const std::string path = expect.method == "MISSING" ? "/missing" : "/file.bin";
    const std::string method = expect.method == "MISSING" ? "GET" : expect.method;
    const Reply reply = client.Fetch(server.Url(path), method, expect.range);
    EXPECT_EQ(reply.code, expect.code) << curl_easy_strerror(reply.code);
    EXPECT_EQ(reply.status, expect.status);
    for (const auto& [name, value] : expect.headers) {
        const auto found = reply.headers.find(name);
        if (!value) {
            EXPECT_EQ(found, reply.headers.end()) << name;
        } else if (found == reply.headers.end()) {
            ADD_FAILURE() << "no " << name;
        } else {
            EXPECT_EQ(found->second, *value) << name;
        }
    }
    if (expect.body) {
        EXPECT_EQ(reply.body.size(), expect.body->size());
        EXPECT_TRUE(reply.body == *expect.body);
    }
}

TEST_F(FaultServerTest, AnswersCorrectlyWithoutFaults) {
    const std::optional<std::string> none;
    const Expect cases[] = {
        {"head",
         {},
         "HEAD",
         "",
         CURLE_OK,
         200,
         {{"content-length", "1000"}, {"accept-ranges", "bytes"}},
         ""},
        {"whole",
         {},
         "GET",
         "",
         CURLE_OK,
         200,
         {{"content-length", "1000"}, {"content-range", none}},
         kData},
        {"range",
         {},
         "GET",
         "10-99",
         CURLE_OK,
         206,
         {{"content-range", "bytes 10-99/1000"}, {"content-length", "90"}},
         Slice(10, 99)},
        {"one byte",
         {},
         "GET",
         "999-999",
         CURLE_OK,
         206,
         {{"content-range", "bytes 999-999/1000"}},
         Slice(999, 999)},
        {"open end",
         {},
         "GET",
         "900-",
         CURLE_OK,
         206,
         {{"content-range", "bytes 900-999/1000"}},
         Slice(900, 999)},
        {"end past size",
         {},
         "GET",
         "990-5000",
         CURLE_OK,
         206,
         {{"content-range", "bytes 990-999/1000"}},
         Slice(990, 999)},
        {"suffix",
         {},
         "GET",
         "-100",
         CURLE_OK,
         206,
         {{"content-range", "bytes 900-999/1000"}},
         Slice(900, 999)},
        {"unsatisfiable",
         {},
         "GET",
         "1000-",
         CURLE_OK,
         416,
         {{"content-range", "bytes */1000"}},
         ""},
        {"reversed range ignored",
         {},
         "GET",
         "50-10",
         CURLE_OK,
         200,
         {{"content-range", none}},
         kData},
        {"several ranges ignored", {}, "GET", "0-1,5-6", CURLE_OK, 200, {}, kData},
        {"unknown path", {}, "MISSING", "", CURLE_OK, 404, {}, ""},
        {"other method", {}, "DELETE", "", CURLE_OK, 405, {{"allow", "GET, HEAD"}}, ""},
    };
    for (const Expect& expect : cases)
        Check(server_, client_, expect);
}

TEST_F(FaultServerTest, EmptyFileHasNoSatisfiableRange) {
    server_.AddFile("/empty", "");
    Reply head = client_.Fetch(server_.Url("/empty"), "HEAD");
    EXPECT_EQ(head.headers["content-length"], "0");
    Reply whole = client_.Fetch(server_.Url("/empty"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "");
    Reply range = client_.Fetch(server_.Url("/empty"), "GET", "0-");
    EXPECT_EQ(range.status, 416);
    EXPECT_EQ(range.headers["content-range"], "bytes */0");
}

std::string Garbage(std::int64_t first, std::int64_t count) {
    std::string out;
    for (std::int64_t p = first; p < first + count; ++p) {
        out += p < 1000 ? static_cast<char>(~kData[p]) : kGarbageBeyondEnd;
    }
    return out;
}

TEST_F(FaultServerTest, EachFaultDoesWhatItPromises) {
    const std::optional<std::string> none;
    const Expect cases[] = {
        {"301",
         {Fault::HeadStatus(301, "/elsewhere")},
         "HEAD",
         "",
         CURLE_OK,
         301,
         {{"location", "/elsewhere"}, {"accept-ranges", none}},
         ""},
        {"302",
         {Fault::HeadStatus(302, "http://127.0.0.1:1/x")},
         "HEAD",
         "",
         CURLE_OK,
         302,
         {{"location", "http://127.0.0.1:1/x"}},
         ""},
        {"404", {Fault::HeadStatus(404)}, "HEAD", "", CURLE_OK, 404, {{"location", none}}, ""},
        {"500", {Fault::HeadStatus(500)}, "HEAD", "", CURLE_OK, 500, {}, ""},
        {"no length",
         {Fault::NoContentLength()},
         "HEAD",
         "",
         CURLE_OK,
         200,
         {{"content-length", none}, {"accept-ranges", "bytes"}},
         ""},
        {"lying length",
         {Fault::LyingLength(123456)},
         "HEAD",
         "",
         CURLE_OK,
         200,
         {{"content-length", "123456"}},
         ""},
        {"no accept-ranges",
         {Fault::NoAcceptRanges()},
         "HEAD",
         "",
         CURLE_OK,
         200,
         {{"accept-ranges", none}, {"content-length", "1000"}},
         ""},
        {"accept-ranges none",
         {Fault::AcceptRangesNone()},
         "HEAD",
         "",
         CURLE_OK,
         200,
         {{"accept-ranges", "none"}},
         ""},
        {"head faults leave GET alone",
         {Fault::HeadStatus(500), Fault::NoContentLength()},
         "GET",
         "",
         CURLE_OK,
         200,
         {{"content-length", "1000"}},
         kData},
        {"ignore range",
         {Fault::IgnoreRange()},
         "GET",
         "10-19",
         CURLE_OK,
         200,
         {{"content-range", none}, {"content-length", "1000"}},
         kData},
        {"ignore range at zero",
         {Fault::IgnoreRangeAtZero()},
         "GET",
         "0-99",
         CURLE_OK,
         200,
         {{"content-range", none}, {"content-length", "1000"}},
         kData},
        {"ignore range at zero leaves other ranges",
         {Fault::IgnoreRangeAtZero()},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 100-199/1000"}},
         Slice(100, 199)},
        {"shift forward",
         {Fault::ShiftStart(5)},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 105-204/1000"}},
         Slice(105, 204)},
        {"shift back",
         {Fault::ShiftStart(-5)},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 95-194/1000"}},
         Slice(95, 194)},
        {"wrong total",
         {Fault::WrongTotal(2000)},
         "GET",
         "0-99",
         CURLE_OK,
         206,
         {{"content-range", "bytes 0-99/2000"}},
         Slice(0, 99)},
        {"extra, claims asked",
         {Fault::ExtraClaimAsked(7)},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 100-199/1000"}, {"content-length", "107"}},
         Slice(100, 199) + Garbage(200, 7)},
        {"extra, claims honestly",
         {Fault::ExtraClaimHonest(7)},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 100-206/1000"}, {"content-length", "107"}},
         Slice(100, 206)},
        {"claims the first half, sends all",
         {Fault::ClaimFirstHalf()},
         "GET",
         "100-199",
         CURLE_OK,
         206,
         {{"content-range", "bytes 100-149/1000"}, {"content-length", "100"}},
         Slice(100, 149) + Garbage(150, 50)},
        {"claims the first half of one byte",
         {Fault::ClaimFirstHalf()},
         "GET",
         "7-7",
         CURLE_OK,
         206,
         {{"content-range", "bytes 7-7/1000"}, {"content-length", "1"}},
         Slice(7, 7)},
        {"garbage after end",
         {Fault::GarbageAfterEnd(9)},
         "GET",
         "990-",
         CURLE_OK,
         206,
         {{"content-range", "bytes 990-999/1000"}, {"content-length", "19"}},
         Slice(990, 999) + Garbage(1000, 9)},
        {"garbage after end, no range",
         {Fault::GarbageAfterEnd(3)},
         "GET",
         "",
         CURLE_OK,
         200,
         {{"content-length", "1003"}},
         kData + Garbage(1000, 3)},
        {"garbage needs an open end",
         {Fault::GarbageAfterEnd(9)},
         "GET",
         "0-99",
         CURLE_OK,
         206,
         {{"content-range", "bytes 0-99/1000"}},
         Slice(0, 99)},
        {"range faults need a range",
         {Fault::IgnoreRange(), Fault::ShiftStart(5)},
         "GET",
         "",
         CURLE_OK,
         200,
         {{"content-range", none}},
         kData},
        {"short body",
         {Fault::ShortBody(30)},
         "GET",
         "100-199",
         CURLE_PARTIAL_FILE,
         206,
         {{"content-length", "100"}},
         Slice(100, 169)},
        {"drop",
         {Fault::DropAfter(40)},
         "GET",
         "100-199",
         CURLE_RECV_ERROR,
         206,
         {{"content-length", "100"}},
         Slice(100, 139)},
        {"drop before the body", {Fault::DropAfter(0)}, "GET", "", CURLE_RECV_ERROR, 200, {}, ""},
        {"slow drop",
         {Fault::RateLimit(20000), Fault::DropAfter(300)},
         "GET",
         "",
         CURLE_RECV_ERROR,
         200,
         {},
         Slice(0, 299)},
        {"unknown path keeps its 404", {}, "MISSING", "", CURLE_OK, 404, {}, ""},
    };
    for (const Expect& expect : cases)
        Check(server_, client_, expect);
}

// If-Range as a real server honours it: the range only under the file's strong ETag or its
// exact Last-Modified date, else the whole file with 200; every answer names both.
TEST_F(FaultServerTest, IfRangeGivesTheRangeOnlyUnderTheFilesValidator) {
    const std::string date = "Tue, 01 Dec 2026 10:00:00 GMT";
    struct Case {
        const char* why;
        FaultServer::Validators validators;
        std::string ifRange;
        long status;
    };
    const Case cases[] = {
        {"its strong ETag", {"\"a\"", date}, "\"a\"", 206},
        {"another ETag", {"\"a\"", date}, "\"b\"", 200},
        {"its date", {"\"a\"", date}, date, 206},
        {"another date", {"\"a\"", date}, "Wed, 02 Dec 2026 10:00:00 GMT", 200},
        {"a weak ETag, even its own", {"W/\"a\"", ""}, "W/\"a\"", 200},
        {"a file without validators", {}, "\"a\"", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        server_.AddFile("/v.bin", kData, c.validators);
        Reply reply = client_.Fetch(server_.Url("/v.bin"), "GET", "100-199", 10000, c.ifRange);
        EXPECT_EQ(c.status, reply.status);
        EXPECT_TRUE(reply.body == (c.status == 206 ? Slice(100, 199) : kData));
        EXPECT_EQ(c.ifRange, server_.Requests().back().ifRange);
        for (const char* method : {"GET", "HEAD"}) {
            reply = client_.Fetch(server_.Url("/v.bin"), method);
            EXPECT_EQ(c.validators.etag, reply.headers["etag"]) << method;
            EXPECT_EQ(c.validators.lastModified, reply.headers["last-modified"]) << method;
        }
    }
}

TEST_F(FaultServerTest, FaultLimitedToFirstRequestsOfItsKind) {
    server_.AddFault("/file.bin", Fault::DropAfter(10).Times(2));
    server_.AddFault("/file.bin", Fault::HeadStatus(500).Times(1));
    server_.AddFault("/file.bin", Fault::IgnoreRange().Times(1));
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "HEAD").status, 500);
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "HEAD").status, 200);
    // The unranged GET does not use up the range fault; both use up a drop.
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin")).code, CURLE_RECV_ERROR);
    Reply second = client_.Fetch(server_.Url("/file.bin"), "GET", "0-9");
    EXPECT_EQ(second.code, CURLE_RECV_ERROR);
    EXPECT_EQ(second.status, 200);
    Reply third = client_.Fetch(server_.Url("/file.bin"), "GET", "0-9");
    EXPECT_EQ(third.code, CURLE_OK);
    EXPECT_EQ(third.status, 206);
    EXPECT_EQ(third.body, Slice(0, 9));

    // A range elsewhere does not use up a fault of the range at byte 0.
    server_.AddFault("/file.bin", Fault::IgnoreRangeAtZero().Times(1));
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "GET", "10-19").status, 206);
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "GET", "0-9").status, 200);
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "GET", "0-9").status, 206);
}

TEST_F(FaultServerTest, FaultsBelongToOneFileAndChangeWhileRunning) {
    server_.AddFile("/other.bin", PatternBytes(10, 1));
    server_.AddFault("/file.bin", Fault::HeadStatus(500));
    EXPECT_EQ(client_.Fetch(server_.Url("/other.bin"), "HEAD").status, 200);
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "HEAD").status, 500);
    server_.ClearFaults("/file.bin");
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "HEAD").status, 200);

    // Faults come and go while another thread's requests run.
    std::thread toggler([this] {
        for (int i = 0; i < 200; ++i) {
            server_.AddFault("/file.bin", Fault::HeadStatus(500));
            server_.ClearFaults("/file.bin");
        }
    });
    for (int i = 0; i < 20; ++i) {
        const long status = client_.Fetch(server_.Url("/file.bin"), "HEAD").status;
        EXPECT_TRUE(status == 200 || status == 500) << status;
    }
    toggler.join();
}

TEST_F(FaultServerTest, KeepsConnectionsAliveAndLogsRequests) {
    const auto before = Clock::now();
    client_.Fetch(server_.Url("/file.bin"), "HEAD");
    client_.Fetch(server_.Url("/file.bin"), "GET", "0-499");
    client_.Fetch(server_.Url("/file.bin"), "GET", "500-");
    client_.Fetch(server_.Url("/missing?x=1"));
    EXPECT_EQ(server_.ConnectionsAccepted(), 1);
    EXPECT_EQ(server_.MaxConnectionsOpen(), 1);

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const std::vector<std::vector<std::string>> expected = {{"HEAD", "/file.bin", ""},
                                                            {"GET", "/file.bin", "bytes=0-499"},
                                                            {"GET", "/file.bin", "bytes=500-"},
                                                            {"GET", "/missing", ""}};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(
            (std::vector<std::string>{requests[i].method, requests[i].path, requests[i].range}),
            expected[i]);
        EXPECT_GE(requests[i].time, i == 0 ? before : requests[i - 1].time);
    }
}

TEST_F(FaultServerTest, RateLimitPacesTheBody) {
    server_.AddFault("/file.bin", Fault::RateLimit(4000));
    const auto start = Clock::now();
    const Reply reply = client_.Fetch(server_.Url("/file.bin"));
    // At 4000 bytes a second the last of 1000 bytes cannot leave before 200 ms.
    EXPECT_GE(Clock::now() - start, milliseconds(190));
    EXPECT_EQ(reply.code, CURLE_OK);
    EXPECT_TRUE(reply.body == kData);
}

TEST_F(FaultServerTest, StallAndSilenceLastUntilTheClientGivesUp) {
    server_.AddFault("/file.bin", Fault::StallAfter(50));
    server_.AddFault("/file.bin", Fault::NeverAnswer());
    const Reply stalled = client_.Fetch(server_.Url("/file.bin"), "GET", "", 300);
    EXPECT_EQ(stalled.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(stalled.status, 200);
    EXPECT_TRUE(stalled.body == Slice(0, 49));
    const Reply silent = client_.Fetch(server_.Url("/file.bin"), "HEAD", "", 300);
    EXPECT_EQ(silent.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(silent.status, 0);
    // The server notices the client leave and closes its side.
    EXPECT_TRUE(Eventually([this] { return server_.ConnectionsOpen(); }, 0));
}

TEST_F(FaultServerTest, HoldEndsAtItsBound) {
    server_.AddFault("/file.bin", Fault::NeverAnswer().HoldFor(milliseconds(100)));
    server_.AddFault("/file.bin", Fault::StallAfter(5).HoldFor(milliseconds(100)));
    EXPECT_EQ(client_.Fetch(server_.Url("/file.bin"), "HEAD", "", 60000).code, CURLE_GOT_NOTHING);
    const Reply stalled = client_.Fetch(server_.Url("/file.bin"), "GET", "", 60000);
    EXPECT_EQ(stalled.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(stalled.body, Slice(0, 4));
}

// Stalled, silent and idle connections, with their clients still waiting.
class StopTest : public ::testing::TestWithParam<bool> {};

TEST_P(StopTest, EndsEveryConnectionPromptly) {
    const bool destroy = GetParam();
    auto server = std::make_unique<FaultServer>();
    server->AddFile("/file.bin", kData);
    server->AddFault("/file.bin", Fault::StallAfter(10));
    server->AddFault("/file.bin", Fault::NeverAnswer());
    const std::string url = server->Url("/file.bin");
    Client idle;
    ASSERT_EQ(idle.ConnectOnly(url), CURLE_OK);
    std::vector<Reply> replies(4);
    std::vector<std::thread> clients;
    std::atomic<int> bodiesStarted{0};
    for (std::size_t i = 0; i < replies.size(); ++i) {
        clients.emplace_back([&, i] {
            Client client(&bodiesStarted);
            replies[i] = client.Fetch(url, i % 2 ? "HEAD" : "GET", "", 60000);
        });
    }
    EXPECT_TRUE(server->WaitForRequests(4, std::chrono::seconds(10)));
    EXPECT_TRUE(Eventually([&] { return bodiesStarted.load(); }, 2));  // both stalls began
    EXPECT_EQ(server->ConnectionsOpen(), 5);
    EXPECT_EQ(server->MaxConnectionsOpen(), 5);

    const auto start = Clock::now();
    if (destroy) {
        server.reset();
    } else {
        server->Stop();
        EXPECT_EQ(server->ConnectionsOpen(), 0);
        EXPECT_EQ(server->ConnectionsAccepted(), 5);
    }
    for (auto& client : clients)
        client.join();
    // Far below the 30 s a hold lasts on its own.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    for (std::size_t i = 0; i < replies.size(); ++i) {
        EXPECT_EQ(replies[i].code, i % 2 ? CURLE_GOT_NOTHING : CURLE_PARTIAL_FILE) << i;
    }
    if (server)
        server->Stop();  // a second Stop is harmless
}

INSTANTIATE_TEST_SUITE_P(StopOrDestroy, StopTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Destroy" : "Stop"; });

}  // namespace
}  // namespace fixtures

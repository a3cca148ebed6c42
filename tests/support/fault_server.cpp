#include "support/fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <stdexcept>

namespace fixtures {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// No single wait of a connection lasts longer, whatever the peer does.
constexpr milliseconds kIdleBound{30000};
constexpr milliseconds kWriteBound{30000};
constexpr std::size_t kMaxHead = 64 * 1024;

std::uint64_t SplitMix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

std::string Garbage(const std::string& data, std::int64_t from, std::int64_t count) {
    std::string out;
    for (std::int64_t p = from; p < from + count; ++p) {
        const bool inside = p >= 0 && p < static_cast<std::int64_t>(data.size());
        out += inside ? static_cast<char>(~data[static_cast<std::size_t>(p)]) : kGarbageBeyondEnd;
    }
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Digits only, short enough for an int64; -1 otherwise.
std::int64_t Number(const std::string& text) {
    if (text.empty() || text.size() > 18)
        return -1;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

struct Asked {
    enum class State { kWhole, kRange, kUnsatisfiable } state = State::kWhole;
    std::int64_t first = 0;
    std::int64_t last = -1;
    bool openEnded = true;  // the body runs to the file's end
};

// One byte range; a header that is not one (several ranges, bad syntax) is ignored, as the
// protocol allows, and the whole body follows.
Asked ParseRange(const std::string& header, std::int64_t size) {
    Asked asked;
    const std::string value = Trim(header);
    if (Lower(value.substr(0, 6)) != "bytes=")
        return asked;
    const std::string rangeText = Trim(value.substr(6));
    const auto dash = rangeText.find('-');
    if (dash == std::string::npos || rangeText.find(',') != std::string::npos)
        return asked;
    const std::string left = Trim(rangeText.substr(0, dash));
    const std::string right = Trim(rangeText.substr(dash + 1));
    std::int64_t first = 0;
    std::int64_t last = size - 1;
    if (left.empty()) {
        const std::int64_t suffix = Number(right);
        if (suffix < 0)
            return asked;
        if (suffix == 0 || size == 0) {
            asked.state = Asked::State::kUnsatisfiable;
            return asked;
        }
        first = std::max<std::int64_t>(0, size - suffix);
    } else {
        first = Number(left);
        if (first < 0)
            return asked;
        if (!right.empty()) {
            const std::int64_t end = Number(right);
            if (end < first)
                return asked;
            asked.openEnded = end >= size - 1;
            last = std::min(end, size - 1);
        }
        if (first >= size) {
            asked.state = Asked::State::kUnsatisfiable;
            return asked;
        }
    }
    asked.state = Asked::State::kRange;
    asked.first = first;
    asked.last = last;
    return asked;
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 416:
            return "Range Not Satisfiable";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

bool IsHeadKind(Fault::Kind kind) {
    return kind <= Fault::Kind::kNeverAnswer;
}

bool IsRangeKind(Fault::Kind kind) {
    return kind >= Fault::Kind::kIgnoreRange && kind <= Fault::Kind::kClaimFirstHalf;
}

void CloseAll(std::initializer_list<int> fds) {
    for (int fd : fds) {
        if (fd >= 0)
            close(fd);
    }
}

}  // namespace

std::string PatternBytes(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    for (std::size_t block = 0; block * 8 < size; ++block) {
        const std::uint64_t bits = SplitMix((static_cast<std::uint64_t>(seed) << 40) ^ block);
        for (std::size_t j = 0; j < 8 && block * 8 + j < size; ++j) {
            out[block * 8 + j] = static_cast<char>(bits >> (8 * j));
        }
    }
    return out;
}

Fault Fault::HeadStatus(int status, std::string location) {
    Fault fault(Kind::kHeadStatus, status);
    fault.location = location.empty() && status / 100 == 3 ? "/" : std::move(location);
    return fault;
}

Fault Fault::Times(int k) const {
    Fault copy = *this;
    copy.times = k;
    return copy;
}

Fault Fault::HoldFor(std::chrono::milliseconds bound) const {
    Fault copy = *this;
    copy.hold = bound;
    return copy;
}

enum class FaultServer::End { kKeep, kClose, kReset };

struct FaultServer::Connection {
    std::thread thread;
    std::atomic<bool> done{false};
};

struct FaultServer::Plan {
    int status = 200;
    std::vector<std::string> headers;
    std::string body;
    std::size_t sendLimit = std::string::npos;
    std::int64_t rate = 0;
    bool never = false;  // answer nothing
    bool stall = false;  // after sendLimit bytes
    milliseconds hold{0};
    End end = End::kKeep;
};

FaultServer::FaultServer() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (listenFd_ < 0 || pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listenFd_, 128) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        CloseAll({listenFd_, stopPipe_[0], stopPipe_[1]});
        throw std::runtime_error("fault server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

FaultServer::~FaultServer() {
    Stop();
}

void FaultServer::Stop() {
    std::lock_guard<std::mutex> lock(stopMutex_);
    if (stopped_.exchange(true))
        return;
    const char byte = 1;
    if (write(stopPipe_[1], &byte, 1) != 1) {
        // A full pipe is readable already; nothing else can fail here.
    }
    acceptThread_.join();
    Reap(true);
    CloseAll({listenFd_, stopPipe_[0], stopPipe_[1]});
    listenFd_ = stopPipe_[0] = stopPipe_[1] = -1;
}

std::string FaultServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void FaultServer::AddFile(const std::string& path, std::string bytes, Validators validators) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = std::make_shared<const std::string>(std::move(bytes));
    validators_[path] = std::move(validators);
}

void FaultServer::AddFault(const std::string& path, Fault fault) {
    if (fault.times == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[path].push_back(std::move(fault));
}

void FaultServer::ClearFaults(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.erase(path);
}

std::vector<FaultServer::Request> FaultServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FaultServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void FaultServer::AcceptLoop() {
    while (true) {
        const int ready = Wait(listenFd_, POLLIN, milliseconds(200));
        if (ready < 0)
            return;
        Reap(false);
        if (ready == 0)
            continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
        ++accepted_;
        const int now = ++open_;
        int before = maxOpen_.load();
        while (now > before && !maxOpen_.compare_exchange_weak(before, now)) {
        }
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        connections_.push_back(std::make_unique<Connection>());
        Connection* connection = connections_.back().get();
        connection->thread = std::thread([this, connection, fd] {
            Serve(fd);
            connection->done = true;
        });
    }
}

void FaultServer::Reap(bool all) {
    std::vector<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(connectionsMutex_);
        auto keep = std::partition(connections_.begin(), connections_.end(),
                                   [all](const auto& c) { return !all && !c->done; });
        std::move(keep, connections_.end(), std::back_inserter(finished));
        connections_.erase(keep, connections_.end());
    }
    for (auto& connection : finished)
        connection->thread.join();
}

int FaultServer::Wait(int fd, short events, std::chrono::milliseconds bound) const {
    const auto deadline = Clock::now() + bound;
    while (true) {
        pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {fd, events, 0}};
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        const int count =
            poll(fds, 2, static_cast<int>(std::max<milliseconds::rep>(0, left.count())));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || fds[0].revents != 0)
            return -1;
        if (fds[1].revents != 0)
            return 1;
        if (Clock::now() >= deadline)
            return 0;
    }
}

bool FaultServer::Send(int fd, const std::string& bytes, std::int64_t rate) const {
    const auto start = Clock::now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        std::size_t chunk = bytes.size() - sent;
        if (rate > 0) {
            // Twenty slices a second keep the pace smooth without a busy loop.
            chunk = std::min<std::size_t>(chunk, std::max<std::int64_t>(1, rate / 20));
            const auto due =
                start + std::chrono::microseconds(static_cast<std::int64_t>(sent) * 1000000 / rate);
            const auto wait = std::chrono::duration_cast<milliseconds>(due - Clock::now());
            if (wait.count() > 0 && Wait(stopPipe_[0], 0, wait) < 0)
                return false;
        }
        if (Wait(fd, POLLOUT, kWriteBound) <= 0)
            return false;
        const ssize_t written = send(fd, bytes.data() + sent, chunk, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

void FaultServer::Hold(int fd, std::chrono::milliseconds bound) const {
    // Ends early when the peer gives up, so the open-connection count stays true.
    const auto deadline = Clock::now() + bound;
    char scratch[4096];
    while (true) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || Wait(fd, POLLIN, left) <= 0)
            return;
        const ssize_t got = recv(fd, scratch, sizeof(scratch), 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
            return;
    }
}

void FaultServer::Serve(int fd) {
    std::string buffer;
    End end = End::kClose;
    while (true) {
        std::size_t headEnd;
        while (buffer.compare(0, 2, "\r\n") == 0)
            buffer.erase(0, 2);
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHead) {
                Send(fd,
                     "HTTP/1.1 431 " + std::string(Reason(431)) + "\r\nContent-Length: 0\r\n\r\n",
                     0);
                headEnd = std::string::npos;
                break;
            }
            if (Wait(fd, POLLIN, kIdleBound) <= 0)
                break;
            char chunk[4096];
            const ssize_t got = recv(fd, chunk, sizeof(chunk), 0);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0)
                break;
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
        if (headEnd == std::string::npos)
            break;
        const std::string head = buffer.substr(0, headEnd);
        buffer.erase(0, headEnd + 4);
        end = Answer(fd, head);
        if (end != End::kKeep)
            break;
    }
    if (end == End::kReset) {
        // What was sent must arrive before the reset, which discards unsent bytes.
        for (int i = 0; i < 200 && !stopped_; ++i) {
            int unsent = 0;
            if (ioctl(fd, SIOCOUTQ, &unsent) != 0 || unsent == 0)
                break;
            std::this_thread::sleep_for(milliseconds(5));
        }
        const linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    }
    close(fd);
    --open_;
}

FaultServer::End FaultServer::Answer(int fd, const std::string& head) {
    const auto lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const auto space1 = line.find(' ');
    const auto space2 = line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
    std::map<std::string, std::string> headers;
    for (auto at = lineEnd; at != std::string::npos && at < head.size();) {
        const auto next = head.find("\r\n", at + 2);
        const std::string field =
            head.substr(at + 2, next == std::string::npos ? next : next - at - 2);
        const auto colon = field.find(':');
        if (colon != std::string::npos) {
            headers[Lower(Trim(field.substr(0, colon)))] = Trim(field.substr(colon + 1));
        }
        at = next;
    }
    const std::string version = space2 == std::string::npos ? "" : line.substr(space2 + 1);
    if (space1 == 0 || space2 == std::string::npos || version.compare(0, 7, "HTTP/1.") != 0) {
        Send(fd, "HTTP/1.1 400 " + std::string(Reason(400)) + "\r\nContent-Length: 0\r\n\r\n", 0);
        return End::kClose;
    }
    const std::string method = line.substr(0, space1);
    std::string target = line.substr(space1 + 1, space2 - space1 - 1);
    if (target.compare(0, 7, "http://") == 0) {
        const auto slash = target.find('/', 7);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    const std::string path = target.substr(0, target.find('?'));
    std::string range = headers.count("range") ? headers["range"] : "";
    const std::string ifRange = headers.count("if-range") ? headers["if-range"] : "";
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({method, path, range, Clock::now(), ifRange});
    }
    requestArrived_.notify_all();

    const std::string connection = Lower(headers["connection"]);
    const bool keepAlive =
        version == "HTTP/1.1" ? connection != "close" : connection == "keep-alive";
    std::shared_ptr<const std::string> file;
    Validators validators;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = files_.find(path);
        if (found != files_.end()) {
            file = found->second;
            validators = validators_[path];
        }
    }
    // If-Range compares strongly: a weak tag never matches, a date only when it is the file's.
    const bool strongTag = !validators.etag.empty() && validators.etag.compare(0, 2, "W/") != 0;
    if (!ifRange.empty() && !(strongTag && ifRange == validators.etag) &&
        !(!validators.lastModified.empty() && ifRange == validators.lastModified))
        range.clear();
    Plan plan;
    if (method != "HEAD" && method != "GET") {
        // A body may follow that is never read, so the connection cannot go on.
        plan.status = 405;
        plan.headers = {"Allow: GET, HEAD", "Content-Length: 0"};
        plan.end = End::kClose;
    } else if (!file) {
        plan.status = 404;
        plan.headers = {"Content-Length: 0"};
    } else {
        plan = method == "HEAD" ? PlanHead(path, *file) : PlanGet(path, *file, range);
        if (plan.status == 200 || plan.status == 206) {
            if (!validators.etag.empty())
                plan.headers.push_back("ETag: " + validators.etag);
            if (!validators.lastModified.empty())
                plan.headers.push_back("Last-Modified: " + validators.lastModified);
        }
    }
    if (plan.never) {
        Hold(fd, plan.hold);
        return End::kClose;
    }
    std::string block =
        "HTTP/1.1 " + std::to_string(plan.status) + " " + Reason(plan.status) + "\r\n";
    for (const auto& header : plan.headers)
        block += header + "\r\n";
    block += "\r\n";
    const std::string body = method == "HEAD" ? "" : plan.body.substr(0, plan.sendLimit);
    const bool sent =
        plan.rate > 0 ? Send(fd, block, 0) && Send(fd, body, plan.rate) : Send(fd, block + body, 0);
    if (!sent)
        return End::kClose;
    if (plan.stall) {
        Hold(fd, plan.hold);
        return End::kClose;
    }
    if (plan.end == End::kKeep && !keepAlive)
        return End::kClose;
    return plan.end;
}

std::vector<Fault> FaultServer::TakeFaults(const std::string& path, bool head, std::int64_t first,
                                           bool openEnded) {
    const bool ranged = first >= 0;
    std::vector<Fault> taken;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = faults_.find(path);
    if (found == faults_.end())
        return taken;
    auto& faults = found->second;
    for (auto& fault : faults) {
        const bool fits = IsHeadKind(fault.kind)                          ? head
                          : fault.kind == Fault::Kind::kIgnoreRangeAtZero ? !head && first == 0
                          : IsRangeKind(fault.kind)                       ? !head && ranged
                          : fault.kind == Fault::Kind::kGarbageAfterEnd   ? !head && openEnded
                                                                          : !head;
        if (!fits)
            continue;
        taken.push_back(fault);
        if (fault.times > 0)
            --fault.times;
    }
    faults.erase(std::remove_if(faults.begin(), faults.end(),
                                [](const Fault& fault) { return fault.times == 0; }),
                 faults.end());
    return taken;
}

FaultServer::Plan FaultServer::PlanHead(const std::string& path, const std::string& data) {
    Plan plan;
    std::int64_t length = static_cast<std::int64_t>(data.size());
    bool withLength = true;
    std::string acceptRanges = "bytes";
    std::string location;
    bool lying = false;
    for (const Fault& fault : TakeFaults(path, true, -1, false)) {
        switch (fault.kind) {
            case Fault::Kind::kHeadStatus:
                plan.status = static_cast<int>(fault.value);
                location = fault.location;
                break;
            case Fault::Kind::kNoContentLength:
                withLength = false;
                break;
            case Fault::Kind::kLyingLength:
                length = fault.value;
                lying = true;
                break;
            case Fault::Kind::kNoAcceptRanges:
                acceptRanges.clear();
                break;
            case Fault::Kind::kAcceptRangesNone:
                acceptRanges = "none";
                break;
            case Fault::Kind::kNeverAnswer:
                plan.never = true;
                plan.hold = fault.hold;
                break;
            default:
                break;
        }
    }
    if (plan.status != 200) {
        // An error or a redirection describes no file.
        if (!lying)
            length = 0;
        acceptRanges.clear();
    }
    if (!location.empty())
        plan.headers.push_back("Location: " + location);
    if (withLength)
        plan.headers.push_back("Content-Length: " + std::to_string(length));
    if (!acceptRanges.empty())
        plan.headers.push_back("Accept-Ranges: " + acceptRanges);
    if (plan.status == 200)
        plan.headers.push_back("Content-Type: application/octet-stream");
    return plan;
}

FaultServer::Plan FaultServer::PlanGet(const std::string& path, const std::string& data,
                                       const std::string& range) {
    Plan plan;
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    const Asked asked = ParseRange(range, size);
    if (asked.state == Asked::State::kUnsatisfiable) {
        plan.status = 416;
        plan.headers = {"Content-Range: bytes */" + std::to_string(size), "Content-Length: 0"};
        return plan;
    }
    const bool ranged = asked.state == Asked::State::kRange;
    plan.status = ranged ? 206 : 200;
    std::int64_t first = ranged ? asked.first : 0;
    std::int64_t last = ranged ? asked.last : size - 1;
    std::int64_t total = size;
    std::int64_t garbage = 0;
    std::int64_t missing = 0;
    bool claimHalf = false;
    for (const Fault& fault : TakeFaults(path, false, ranged ? asked.first : -1, asked.openEnded)) {
        const std::int64_t value = std::max<std::int64_t>(0, fault.value);
        switch (fault.kind) {
            case Fault::Kind::kIgnoreRange:
            case Fault::Kind::kIgnoreRangeAtZero:
                plan.status = 200;
                first = 0;
                last = size - 1;
                break;
            case Fault::Kind::kShiftStart: {
                const std::int64_t length = last - first;
                first = std::clamp<std::int64_t>(first + fault.value, 0, size - 1);
                last = std::min(first + length, size - 1);
                break;
            }
            case Fault::Kind::kWrongTotal:
                total = fault.value;
                break;
            case Fault::Kind::kExtraClaimAsked:
            case Fault::Kind::kGarbageAfterEnd:
                garbage += value;
                break;
            case Fault::Kind::kExtraClaimHonest:
                last = std::min(last + value, size - 1);
                break;
            case Fault::Kind::kClaimFirstHalf:
                claimHalf = true;
                break;
            case Fault::Kind::kShortBody:
                missing = std::max(missing, value);
                plan.end = End::kClose;
                break;
            case Fault::Kind::kDropAfter:
                plan.sendLimit = std::min<std::size_t>(plan.sendLimit, value);
                plan.end = End::kReset;
                break;
            case Fault::Kind::kStallAfter:
                plan.sendLimit = std::min<std::size_t>(plan.sendLimit, value);
                plan.stall = true;
                plan.hold = fault.hold;
                break;
            case Fault::Kind::kRateLimit:
                plan.rate = value;
                break;
            default:
                break;
        }
    }
    // The last byte that Content-Range claims; with a half claim the body still runs to `last`.
    std::int64_t claimed = last;
    if (claimHalf && plan.status == 206)
        claimed = first + std::max<std::int64_t>(1, (last - first + 1) / 2) - 1;
    plan.body = data.substr(static_cast<std::size_t>(first),
                            static_cast<std::size_t>(claimed - first + 1)) +
                Garbage(data, claimed + 1, last - claimed + garbage);
    if (missing > 0) {
        const auto cut = std::min<std::size_t>(plan.body.size(), missing);
        plan.sendLimit = std::min(plan.sendLimit, plan.body.size() - cut);
    }
    plan.headers = {"Content-Type: application/octet-stream", "Accept-Ranges: bytes",
                    "Content-Length: " + std::to_string(plan.body.size())};
    if (plan.status == 206) {
        plan.headers.push_back("Content-Range: bytes " + std::to_string(first) + "-" +
                               std::to_string(claimed) + "/" + std::to_string(total));
    }
    return plan;
}

}  // namespace fixtures

#include "service/CPlatformSession.h"

#include "netlib/core/cpClock.h"
#include "netlib/core/vqCGarbageCollector.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqTimerLink.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/layers/vqIHttpClientExLayer.h"
#include "netlib/runtime/cpCQoSContextAction.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "platform/FileSystem.h"
#include "engine/ActivityLog.h"
#include "service/CPartFileRecord.h"
#include "service/CPlatformReporter.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/HttpConnection.h"
#include "netlib/layers/nwCHttpClientExLayer.h"
#include "netlib/layers/nwCDNLocalCodec.h"
#include "netlib/http/SizeContradiction.h"
#include "service/HttpTransferRules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
constexpr uintptr_t kTimerTag = 0x1000012;

bool IsRetriedStatus(int32_t status)
{
    // Answers that may differ on the next try; any other refusal stays.
    return status == 408 || status == 429 || (status >= 500 && status <= 599);
}

bool IsRedirect(int32_t status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

uint64_t NowMs()
{
    cpTIMEOFDAY now{};
    cpGetTimeOfDay(&now);
    return static_cast<uint64_t>(now.seconds) * 1000 + now.milliseconds;
}

// Retry-After in its seconds form; -1 for a date or anything else.
int ReadRetryAfter(const std::string& value)
{
    if (value.empty() || value.size() > 9) return -1;
    int seconds = 0;
    for (char ch : value) {
        if (ch < '0' || ch > '9') return -1;
        seconds = seconds * 10 + (ch - '0');
    }
    return seconds;
}

// What If-Range can carry: a strong ETag, else the modification date.
std::string ValidatorOf(const std::string& etag, const std::string& lastModified)
{
    if (!etag.empty() && etag.compare(0, 2, "W/") != 0) return etag;
    return lastModified;
}

std::string Reason(const std::string& path, int error)
{
    return path + ": " + strerror(error);
}
} // namespace

CPlatformSession::CPlatformSession() = default;

CPlatformSession::~CPlatformSession()
{
    StopTimer();
    DropConnection();
    CloseOutput();
}

void CPlatformSession::SetListener(IPlatFormSessionEventListener* listener, void* context)
{
    m_listener = listener;
    m_context = context;
}

void CPlatformSession::Begin(const std::vector<std::unique_ptr<CJobFile>>& files)
{
    m_copies.clear();
    m_bytesPresent = 0;
    m_bytesResumed = 0;
    m_copies.reserve(files.size());
    for (const auto& file : files) {
        FileCopy copy;
        copy.file = *file;
        const size_t index = m_copies.size();
        copy.knownSize = index < m_knownSizes.size() && m_knownSizes[index] >= 0 ? m_knownSizes[index] : file->size;
        copy.file.size = 0;
        copy.file.bytesDone = 0;
        copy.file.startOffset = 0;
        m_copies.push_back(copy);
    }
    if (m_copies.empty()) {
        m_current = nullptr;
        m_state = State::kDone;
        m_listener->OnAllFilesDone(m_context);
        return;
    }
    SelectFile(0);
    Resume(State::kOpenFile);
}

const CJobFile* CPlatformSession::GetCurrentFile() const
{
    return m_current ? &m_current->file : nullptr;
}

int32_t CPlatformSession::ListTransferredFiles(std::vector<unsigned char>* entries) const
{
    int32_t count = 0;
    for (const FileCopy& copy : m_copies) {
        if (copy.transferred <= 0) continue;
        ++count;
        if (!entries) continue;
        CPlatformReporter::AppendEntry(entries, copy.file.serviceId, copy.file.url, copy.transferred);
    }
    return count;
}

void CPlatformSession::Resume(State next)
{
    m_next = next;
    if (!m_inLoop) DoLoop();
}

void CPlatformSession::DoLoop()
{
    const auto alive = m_life.Watch();
    m_inLoop = true;
    while (m_next != State::kNone) {
        const State state = m_next;
        m_next = State::kNone;
        m_state = state;
        State next = State::kNone;
        switch (state) {
        case State::kOpenFile:
            next = DoOpenFile();
            break;
        case State::kConnect:
            next = DoConnect();
            break;
        case State::kReadHeaderComplete:
            next = DoReadHeaderComplete();
            break;
        case State::kReadBodyComplete:
            next = DoReadBodyComplete();
            break;
        case State::kRedirect:
            next = DoRedirect();
            break;
        case State::kAttemptFailed:
            next = DoAttemptFailed();
            break;
        case State::kFinishFile:
            next = DoFinishFile();
            break;
        case State::kGiveUp:
            next = DoGiveUp();
            break;
        case State::kNone:
        case State::kReadHeader:
        case State::kReadBody:
        case State::kBackOff:
        case State::kDone:
            break;
        }
        if (!*alive) return;
        // An event raised inside the step has already chosen what follows.
        if (m_next != State::kNone) continue;
        const bool waits = next == State::kReadHeader || next == State::kReadBody || next == State::kBackOff ||
                           next == State::kDone || next == State::kNone;
        if (waits) m_state = next == State::kNone ? m_state : next;
        else m_next = next;
    }
    m_inLoop = false;
}

void CPlatformSession::SelectFile(size_t index)
{
    m_fileIndex = index;
    m_current = &m_copies[index];
    m_alternatives = SplitAlternatives(m_current->file.url);
    m_alternativeIndex = 0;
    m_currentUrl = m_alternatives.empty() ? std::string() : m_alternatives[0];
    m_attempts = 0;
    m_redirects = 0;
    m_total = -1;
    m_validator.clear();
    m_failureText.clear();
    m_lastDataMs = NowMs();
}

bool CPlatformSession::NextAlternative()
{
    if (m_alternativeIndex + 1 >= m_alternatives.size()) return false;
    ++m_alternativeIndex;
    m_currentUrl = m_alternatives[m_alternativeIndex];
    m_attempts = 0;
    m_redirects = 0;
    return true;
}

CPlatformSession::State CPlatformSession::DoOpenFile()
{
    FileCopy& copy = *m_current;
    std::string folder = copy.file.folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    const std::string path = folder + copy.file.name;
    int error = 0;
    if (!IsSafeFileName(copy.file.name)) error = EINVAL;
    // A folder that cannot be made shows as the open failing.
    if (!error) CreateDirectoryChain(folder);
    if (!error && DirectoryExists(path)) error = EISDIR;
    if (error) {
        LogPrintf("[MeshpullLib] CreateFile Failed(%d) : %s", error, path.c_str());
        LogPrintf("[MeshpullLib] WriteFileOpen Failed : %s", m_currentUrl.c_str());
        m_failureText = Reason(path, error);
        return State::kGiveUp;
    }
    m_currentPath = path;
    const bool device = COutputFile::IsCharacterDevice(path);
    m_partSuffix = device ? "" : CPartFileRecord::kPartSuffix;
    const COutputFile::LockResult opened =
        device ? (m_output.Open(path) ? COutputFile::LockResult::kOpened : COutputFile::LockResult::kFailed)
               : m_output.OpenLocked(PartPath());
    if (opened == COutputFile::LockResult::kBusy) {
        LogPrintf("[MeshpullLib] File In Use : %s", PartPath().c_str());
        m_failureText = PartPath() + ": in use by another download";
        m_currentPath.clear();
        return State::kGiveUp;
    }
    if (opened == COutputFile::LockResult::kFailed) {
        LogPrintf("[MeshpullLib] CreateFile Failed(%d) : %s", m_output.LastError(), PartPath().c_str());
        LogPrintf("[MeshpullLib] WriteFileOpen Failed : %s", m_currentUrl.c_str());
        m_failureText = Reason(PartPath(), m_output.LastError());
        m_currentPath.clear();
        return State::kGiveUp;
    }
    // A part from an earlier run counts only with a record that still fits
    // this file; the server confirms it through If-Range.
    CPartFileRecord record;
    const int64_t onDisk = m_output.Length();
    if (!device && onDisk > 0 && record.Load(PartPath()) && record.url == copy.file.url &&
        (copy.knownSize < 0 || record.total == copy.knownSize) && onDisk <= record.total) {
        m_total = record.total;
        m_validator = record.validator;
        copy.file.size = m_total;
    } else if (!device && !RestartFromZero()) {
        WriteFailed();
        return State::kNone;
    }
    copy.file.bytesDone = 0;
    copy.file.startOffset = m_output.Length();
    copy.resumed = copy.file.startOffset;
    m_bytesPresent += copy.file.startOffset;
    m_bytesResumed += copy.resumed;
    return State::kConnect;
}

CPlatformSession::State CPlatformSession::DoConnect()
{
    CJobFile& file = m_current->file;
    // Only the last attempt's cause is told, should the file fail.
    m_failureText.clear();
    // Every request asks for what the file still lacks; what was written so
    // far stays counted once.
    m_bytesPresent += m_output.Length() - (file.startOffset + file.bytesDone);
    file.startOffset = m_output.Length();
    file.bytesDone = 0;
    const auto alive = m_life.Watch();
    m_listener->OnFileOpened(m_context, m_currentPath.c_str());
    if (!*alive) return State::kNone;

    ConnectionOptions options;
    options.action = cpQOS_OWN;
    options.laterAction = cpQOS_OWN_RECEIVE_ONLY;
    options.connectTimeoutSeconds = kTimeoutSeconds;
    options.idleSeconds = kTimeoutSeconds;
    options.receiveLimit = m_mode != 0 ? kBudgetFast : kBudgetSlow;
    options.listener = this;
    // A URL that cannot be connected to at all brings no event.
    if (!OpenHttpConnection(options, m_currentUrl.c_str(), m_connection)) return Fail(Failure::kRetryNow, "NoConnection");
    vqIHttpClientExLayer* layer = Layer();
    char range[48];
    snprintf(range, sizeof range, "bytes=%lld-", file.startOffset);
    layer->SetRequestHeader("Range", range);
    // Resumed bytes must belong to the same file as the rest: the server
    // sends all of it (200) when its file is no longer ours.
    if (file.startOffset > 0 && !m_validator.empty()) layer->SetRequestHeader("If-Range", m_validator.c_str());
    layer->SendGetRequest();
    m_answerEnd = -1;
    m_windowStartMs = NowMs();
    m_windowBytes = 0;
    StartTimer(kTickMs);
    return State::kReadHeader;
}

CPlatformSession::State CPlatformSession::DoReadHeaderComplete()
{
    vqIHttpClientExLayer* layer = Layer();
    if (!layer) return Fail(Failure::kRetry, "Closed");
    int32_t status = 0;
    int64_t length = 0;
    layer->GetStatusCode(&status);
    const BodyCoding coding = BodyCodingOf(layer);
    m_chunked = coding == BodyCoding::kChunked;
    m_chunks = nwCChunkedDecoder();
    // A chunked body carries its own end; a Content-Length beside it is none.
    const bool lengthUsable = m_chunked || VQ_SUCCEEDED(layer->GetContentLength(&length));
    // Without a length the end of the body cannot be told from a cut.
    const bool hasLength = !m_chunked && lengthUsable && !Header("Content-Length").empty();
    const std::string validator = ValidatorOf(Header("ETag"), Header("Last-Modified"));
    CJobFile& file = m_current->file;
    const int64_t offset = m_output.Length();

    if (IsRedirect(status)) return State::kRedirect;
    // A body in a coding not read here cannot be written as the file.
    if (coding == BodyCoding::kOther && (status == 200 || status == 206))
        return Fail(Failure::kGiveUpAlternative, "Coding");
    if (!lengthUsable) {
        LogPrintf("[MeshpullLib] Bad Content-Length : %s", m_currentUrl.c_str());
        return Fail(Failure::kGiveUpAlternative, "BadLength");
    }
    if (status == 200) {
        // A chunked 200 is as long as the size the job holds; without one
        // its end could not be checked against anything.
        if (m_chunked && m_current->knownSize > 0) length = m_current->knownSize;
        else if (!hasLength) return Fail(Failure::kRetry, "NoLength");
        // An answer of another length than the job's size (an empty one for
        // a file known to hold bytes) is no copy of the file.
        if (m_current->knownSize > 0 && length != m_current->knownSize) return FailOtherSize(length);
        if (offset > 0 && !RestartFromZero()) {
            WriteFailed();
            return State::kNone;
        }
        m_total = length;
        m_validator = validator;
        m_answerEnd = length;
        file.size = length;
        SaveRecord();
        return length == 0 ? State::kFinishFile : State::kReadBody;
    }
    if (status == 206) {
        int64_t first = 0;
        int64_t last = 0;
        int64_t total = 0;
        const bool rangeRead = ParseContentRange(Header("Content-Range").c_str(), &first, &last, &total);
        // A chunked 206 is as long as the range it says it covers.
        if (m_chunked && rangeRead && first >= 0) length = last - first + 1;
        if (!(hasLength || m_chunked) || length <= 0) return Fail(Failure::kRetry, "NoLength");
        if (!rangeRead || first != offset || last - first + 1 != length) return Fail(Failure::kRetry, "BadRange");
        if (total < 0) total = m_total;
        const bool sameFile = total > 0 && (m_total < 0 || total == m_total) &&
                              (validator.empty() || m_validator.empty() || validator == m_validator);
        const bool otherSize = total > 0 && m_current->knownSize > 0 && total != m_current->knownSize;
        if (!sameFile || otherSize) {
            // Another file answers for this one: what is on disk is not its
            // start, so the next attempt fetches all of it.
            if (!RestartFromZero()) {
                WriteFailed();
                return State::kNone;
            }
            return otherSize ? FailOtherSize(total) : Fail(Failure::kRetry, "OtherFile");
        }
        m_total = total;
        if (m_validator.empty() && offset == 0) m_validator = validator;
        m_answerEnd = last + 1;
        file.size = total;
        SaveRecord();
        return State::kReadBody;
    }
    if (status == 416) {
        int64_t first = 0;
        int64_t last = 0;
        int64_t total = 0;
        // Only a part confirmed by its validator and exactly as long as the
        // server's file is whole already.
        if (ParseContentRange(Header("Content-Range").c_str(), &first, &last, &total) && first < 0 &&
            total > 0 && total == offset && total == m_total && !m_validator.empty()) {
            file.size = total;
            return State::kFinishFile;
        }
        if (!RestartFromZero()) {
            WriteFailed();
            return State::kNone;
        }
        return Fail(Failure::kRetry, "ResCode:416");
    }
    const std::string code = "ResCode:" + std::to_string(status);
    if (IsRetriedStatus(status)) return Fail(Failure::kRetry, code.c_str(), ReadRetryAfter(Header("Retry-After")));
    // Not found, refused: another try would answer the same.
    return Fail(Failure::kGiveUpAlternative, code.c_str());
}

CPlatformSession::State CPlatformSession::DoReadBodyComplete()
{
    StopTimer();
    DropConnection();
    if (m_output.Length() != m_answerEnd) return Fail(Failure::kRetry, "ShortBody");
    if (m_output.Length() == m_total) return State::kFinishFile;
    // The server sent less than was asked (a legal 206): ask for the rest.
    return State::kConnect;
}

CPlatformSession::State CPlatformSession::DoRedirect()
{
    const std::string target = RedirectTargetOf(Layer(), m_currentUrl);
    StopTimer();
    DropConnection();
    if (target.empty()) {
        LogPrintf("[MeshpullLib] eNWHSC_HTTP_SEEOTHER  : %s", m_currentUrl.c_str());
        return State::kGiveUp;
    }
    if (++m_redirects > kMaxRedirects) return Fail(Failure::kGiveUpAlternative, "TooManyRedirects");
    m_currentUrl = target;
    m_attempts = 0;
    return State::kConnect;
}

std::string CPlatformSession::Explain(const std::string& reason) const
{
    if (reason == "NoConnection") {
        const std::string why = nwCHttpClientExLayer::WhyUnusable(m_currentUrl.c_str());
        return why.empty() ? "the connection could not be started" : why;
    }
    if (reason == "ConnectTimeout") return ConnectFailureText(m_connection, kTimeoutSeconds);
    if (reason == "Closed") return "the connection closed before the whole answer arrived";
    if (reason == "RecvTimeout") return "no data for " + std::to_string(kTimeoutSeconds) + " s";
    if (reason == "NoData") return "no data for " + std::to_string(kMaxSilenceSeconds) + " s";
    if (reason == "TooSlow")
        return "fewer than " + std::to_string(kFloorBytes) + " bytes in " + std::to_string(kFloorWindowMs / 1000) + " s";
    if (reason == "TooManyRedirects") return "more than " + std::to_string(kMaxRedirects) + " redirects";
    if (reason == "BadChunk") return "a broken chunk in the answer";
    if (reason == "LongBody") return "more bytes than the answer said it holds";
    if (reason == "ShortBody") return "fewer bytes than the answer said it holds";
    const std::string status = StatusText(Layer());
    if (reason == "NoLength") return status + " without a Content-Length";
    if (reason == "BadLength") return status + " with an unusable Content-Length";
    if (reason == "BadRange") return status + " for another range than the one asked for";
    if (reason == "OtherFile") return status + " of another file than the one begun";
    if (reason == "Coding") return status + " in a transfer coding not read here";
    return status;
}

CPlatformSession::State CPlatformSession::Fail(Failure failure, const char* reason, int retryAfterSeconds)
{
    StopTimer();
    const std::string why = Explain(reason);
    m_failureText = m_currentUrl + ": " + why;
    DropConnection();
    std::string cause = reason;
    // A pause longer than the file may go without data is not waited for.
    if (retryAfterSeconds > kMaxSilenceSeconds) {
        failure = Failure::kGiveUpAlternative;
        cause += " RetryAfter:" + std::to_string(retryAfterSeconds);
    }
    if (failure == Failure::kGiveUpAlternative) m_attempts = kAttemptsPerUrl;
    else ++m_attempts;
    // Also an attempt that a later one makes good leaves its cause behind.
    LogPrintf("[MeshpullLib] Transfer Attempt Failed reason:%s try:%d url:%s (%s)", cause.c_str(), m_attempts,
              m_currentUrl.c_str(), why.c_str());
    m_retryAfter = failure == Failure::kRetryNow ? 0 : retryAfterSeconds;
    return State::kAttemptFailed;
}

CPlatformSession::State CPlatformSession::FailOtherSize(int64_t answered)
{
    const State next = Fail(Failure::kRetry, "OtherSize");
    m_failureText = m_currentUrl + ": " + SizeContradiction(answered, m_current->knownSize);
    return next;
}

CPlatformSession::State CPlatformSession::DoAttemptFailed()
{
    const uint64_t silentMs = NowMs() - m_lastDataMs;
    if (silentMs >= kMaxSilenceSeconds * 1000ull) return SilenceOver();
    if (m_attempts >= kAttemptsPerUrl) {
        if (!NextAlternative()) {
            LogPrintf("[MeshpullLib] TryMax Over : %s", m_currentUrl.c_str());
            return State::kGiveUp;
        }
        return State::kConnect;
    }
    // A struggling server is given time: 1, 2, 4... seconds, or what it asked,
    // within what the file may still go without data.
    const int seconds = m_retryAfter >= 0 ? m_retryAfter : 1 << (m_attempts - 1);
    if (silentMs + static_cast<uint64_t>(seconds) * 1000 >= kMaxSilenceSeconds * 1000ull) return SilenceOver();
    if (seconds == 0) return State::kConnect;
    StartTimer(static_cast<uint32_t>(seconds) * 1000);
    return State::kBackOff;
}

CPlatformSession::State CPlatformSession::SilenceOver()
{
    LogPrintf("[MeshpullLib] No Data For %d s : %s", kMaxSilenceSeconds, m_currentUrl.c_str());
    return State::kGiveUp;
}

CPlatformSession::State CPlatformSession::DoFinishFile()
{
    StopTimer();
    DropConnection();
    FileCopy* finished = m_current;
    if (!m_output.Flush()) {
        WriteFailed();
        return State::kNone;
    }
    if (m_partSuffix.empty()) {
        m_output.Close();
    } else if (m_output.Length() != m_total || !m_output.CommitAs(m_currentPath)) {
        const int error = m_output.LastError() ? m_output.LastError() : EIO;
        LogPrintf("[MeshpullLib] Rename Failed(%d) : %s", error, m_currentPath.c_str());
        m_failureText = Reason(m_currentPath, error);
        return State::kGiveUp;
    }
    if (!m_partSuffix.empty()) {
        CPartFileRecord::Remove(PartPath());
        // What the engine kept of this file for a resume (it gave the file
        // up to us) is stale now that the file is whole.
        DeleteOneFile(m_currentPath + kLocalPartSuffix);
        DeleteOneFile(m_currentPath + kLocalControlSuffix);
    }
    finished->file.size = m_total;
    m_currentPath.clear();
    const size_t next = m_fileIndex + 1;
    if (next < m_copies.size()) {
        SelectFile(next);
    } else {
        m_fileIndex = next;
        m_current = nullptr;
    }
    const auto alive = m_life.Watch();
    m_listener->OnFileDone(m_context, finished->file);
    if (!*alive) return State::kNone;
    if (m_current) return State::kOpenFile;
    m_listener->OnAllFilesDone(m_context);
    return State::kDone;
}

CPlatformSession::State CPlatformSession::DoGiveUp()
{
    StopTimer();
    DropConnection();
    CloseOutput();
    const std::string text = m_failureText.empty() ? m_currentUrl : m_failureText;
    m_listener->OnTransferFailed(m_context, text.c_str());
    return State::kDone;
}

void CPlatformSession::SaveRecord() const
{
    // Without a validator no later run could tell the part is still good.
    if (m_partSuffix.empty() || m_validator.empty() || m_total <= 0) return;
    CPartFileRecord{m_current->file.url, m_total, m_validator}.Save(PartPath());
}

void CPlatformSession::DropConnection()
{
    ReleaseHttpConnection(m_connection);
}

bool CPlatformSession::RestartFromZero()
{
    FileCopy& copy = *m_current;
    CPartFileRecord::Remove(PartPath());
    m_bytesPresent -= copy.file.startOffset + copy.file.bytesDone;
    m_bytesResumed -= copy.resumed;
    copy.resumed = 0;
    copy.file.startOffset = 0;
    copy.file.bytesDone = 0;
    m_total = -1;
    m_validator.clear();
    return m_partSuffix.empty() || m_output.Truncate();
}

void CPlatformSession::CloseOutput()
{
    if (!m_output.IsOpen()) return;
    m_output.Close();
    if (m_partSuffix.empty() || m_currentPath.empty()) return;
    // A part that a later run cannot resume is only clutter.
    CPartFileRecord record;
    if (!record.Load(PartPath())) DeleteOneFile(PartPath());
}

void CPlatformSession::WriteFailed()
{
    LogPrintf("[MeshpullLib] WriteFile Failed(%d) : %s", m_output.LastError(), PartPath().c_str());
    // What reached the disk is still a true start of the file; what the
    // buffer held is lost.
    m_output.Discard();
    StopTimer();
    DropConnection();
    m_next = State::kNone;
    m_state = State::kDone;
    // The file lacks data: it must not be reported done.
    const auto alive = m_life.Watch();
    const std::string url = m_currentUrl;
    m_listener->OnNotice(m_context, DL_NOTICE_DISK_FULL, url.c_str());
    if (*alive) m_listener->OnTransferFailed(m_context, url.c_str());
}

vqIHttpClientExLayer* CPlatformSession::Layer() const
{
    return HttpLayerOf(m_connection);
}

std::string CPlatformSession::Header(const char* name) const
{
    vqCString value;
    vqIHttpClientExLayer* layer = Layer();
    if (!layer || VQ_FAILED(layer->GetResponseHeader(name, &value))) return std::string();
    return value.GetString();
}

void CPlatformSession::StartTimer(uint32_t periodMs)
{
    vqStartTimer(m_timer, periodMs, &CPlatformSession::OnTimer, this, kTimerTag);
}

void CPlatformSession::StopTimer()
{
    vqStopTimer(m_timer);
}

void CPlatformSession::OnTimer(void* self)
{
    static_cast<CPlatformSession*>(self)->OnTick();
}

void CPlatformSession::OnTick()
{
    if (m_state == State::kBackOff) {
        StopTimer();
        Resume(State::kConnect);
        return;
    }
    if (m_state != State::kReadHeader && m_state != State::kReadBody) return;
    const uint64_t now = NowMs();
    // Answers without data (redirects, headers, a body that does not start)
    // do not keep a file going past its bound.
    if (now - m_lastDataMs >= kMaxSilenceSeconds * 1000ull) {
        Resume(Fail(Failure::kRetry, "NoData"));
        return;
    }
    // A server that trickles bytes never trips the idle limit: below the
    // floor over a whole window the attempt has failed.
    if (now - m_windowStartMs < static_cast<uint64_t>(kFloorWindowMs)) return;
    if (m_windowBytes < kFloorBytes) {
        LogPrintf("[MeshpullLib] TooSlow : %s", m_currentUrl.c_str());
        Resume(Fail(Failure::kRetry, "TooSlow"));
        return;
    }
    m_windowStartMs = now;
    m_windowBytes = 0;
}


void CPlatformSession::OnResponseHeader(int32_t)
{
    if (m_state == State::kReadHeader) Resume(State::kReadHeaderComplete);
}

int32_t CPlatformSession::OnReceiveData(int32_t, const unsigned char* data, int32_t length)
{
    if (m_state != State::kReadBody || !m_output.IsOpen()) return length;
    if (m_chunked) {
        TakeChunked(data, length);
        return length;
    }
    bool ended = false;
    // Never past what this answer covers: bytes beyond its length are not the file's.
    const int64_t room = std::max<int64_t>(m_answerEnd - m_output.Length(), 0);
    TakeBody(data, std::min<int64_t>(length, room), &ended);
    if (ended) return length;
    m_listener->OnProgress(m_context);
    return length;
}

bool CPlatformSession::TakeBody(const unsigned char* data, int64_t length, bool* ended)
{
    if (length > m_answerEnd - m_output.Length()) return false;
    if (length > 0 && !m_output.Write(data, static_cast<size_t>(length))) {
        *ended = true;
        WriteFailed();
        return true;
    }
    m_bytesPresent += length;
    m_current->file.bytesDone += length;
    m_current->transferred += length;
    m_windowBytes += length;
    if (length > 0) m_lastDataMs = NowMs();
    return true;
}

void CPlatformSession::TakeChunked(const unsigned char* data, int32_t length)
{
    size_t at = 0;
    nwCChunkedDecoder::Status status = m_chunks.GetStatus();
    bool fits = true;
    while (at < static_cast<size_t>(length) && status == nwCChunkedDecoder::Status::kMore && fits) {
        size_t used = 0;
        const unsigned char* body = nullptr;
        size_t run = 0;
        status = m_chunks.Next(data + at, static_cast<size_t>(length) - at, &used, &body, &run);
        at += used;
        bool ended = false;
        fits = TakeBody(body, static_cast<int64_t>(run), &ended);
        if (ended) return;
    }
    const auto alive = m_life.Watch();
    m_listener->OnProgress(m_context);
    if (!*alive) return;
    if (!fits) {
        // More than the answer said it covers: not the file asked for, and
        // what it wrote before cannot be told apart from the file's bytes.
        if (!RestartFromZero()) {
            WriteFailed();
            return;
        }
        Resume(Fail(Failure::kRetry, "LongBody"));
    } else if (status == nwCChunkedDecoder::Status::kBad) {
        Resume(Fail(Failure::kRetry, "BadChunk"));
    } else if (status == nwCChunkedDecoder::Status::kDone) {
        Resume(State::kReadBodyComplete);
    }
}

void CPlatformSession::OnReceiveComplete(int32_t)
{
    // A chunked body ends with its last chunk, whatever length was announced.
    if (m_state == State::kReadBody && !m_chunked) Resume(State::kReadBodyComplete);
}


void CPlatformSession::OnClosed(int32_t)
{
    // The layer has let go of this session already.
    vqSmartPtr connection = m_connection;
    m_connection.Assign(nullptr);
    vqCGarbageCollector::Instance()->Add(connection);
    if (!Waiting()) return;
    const std::string tls = TlsFailureText(connection);
    const State next = Fail(Failure::kRetry, "Closed");
    if (!tls.empty()) m_failureText = m_currentUrl + ": " + tls;
    Resume(next);
}

void CPlatformSession::OnConnectTimeout(int32_t)
{
    if (Waiting()) Resume(Fail(Failure::kRetry, "ConnectTimeout"));
}

void CPlatformSession::OnRecvTimeout(int32_t)
{
    if (Waiting()) Resume(Fail(Failure::kRetry, "RecvTimeout"));
}

bool CPlatformSession::Waiting() const
{
    // kConnect: the connection failed while its request was being made.
    return m_state == State::kReadHeader || m_state == State::kReadBody || m_state == State::kConnect;
}


#include "service/CEngineDownloader.h"

#include "engine/ActivityLog.h"
#include "engine/CEngineLauncher.h"
#include "netlib/core/cpCAutoLock.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/core/cpClock.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/layers/ConnectionOpener.h"
#include "netlib/layers/vqICDNLocalClientLayer.h"
#include "netlib/runtime/cpADDRESS.h"
#include "netlib/runtime/cpResolver.h"
#include "netlib/runtime/vqIQoSContext.h"
#include "platform/Connectivity.h"
#include "platform/FileSystem.h"
#include "platform/PeerOwner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

constexpr const char* kEngineHost = "127.0.0.1";
// The context reports a connect that times out, is refused or finds the
// host unreachable; the engine's connection is never idle-limited.
constexpr uint32_t kEventMask = QOS_EVENT_CONNECT_TIMEOUT;
constexpr int kFileNameChars = 65;
// The URL length field of the job-file message.
constexpr size_t kMaxUrlBytes = 65535;

int64_t SystemSeconds()
{
    uint32_t seconds = 0;
    cpGetTime(&seconds);
    return seconds;
}

std::unique_ptr<CEngineLauncher> MakeLauncher(cpCMutex* networkLock)
{
    return std::make_unique<CEngineLauncher>(networkLock);
}

int32_t Percent(int64_t part, int64_t whole)
{
    if (whole <= 0 || part <= 0) return 0;
    const int64_t percent = part * 100 / whole;
    return static_cast<int32_t>(percent > 100 ? 100 : percent);
}

// Bytes left divided by the speed (1 when it is 0); nothing is left once
// the bytes present reach the total.
int64_t Remaining(int64_t total, int64_t present, int64_t speed)
{
    if (present >= total) return 0;
    const uint64_t left = static_cast<uint64_t>(total - present);
    return static_cast<int64_t>(left / static_cast<uint64_t>(speed > 0 ? speed : 1));
}

// Copies text into a fixed NUL-terminated field; false when it does not fit.
bool CopyField(char* field, size_t capacity, const std::string& text)
{
    if (text.size() >= capacity) return false;
    memset(field, 0, capacity);
    memcpy(field, text.data(), text.size());
    return true;
}

} // namespace

CEngineDownloader::CEngineDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock, Clock clock,
                                     LauncherMaker makeLauncher, OwnerLookup ownerOf)
    : CJobDownloader(manager), m_clock(clock ? clock : &SystemSeconds),
      m_makeLauncher(makeLauncher ? makeLauncher : &MakeLauncher), m_ownerOf(ownerOf ? ownerOf : &PeerOwner)
{
    m_networkLock.Assign(networkLock);
    m_jobRate.Reset();
    m_fileRate.Reset();
    RenewLauncher();
}

CEngineDownloader::~CEngineDownloader()
{
    ReleaseConnection();
    DropLauncher();
    m_requests.clear();
    LogWrite("[MeshpullLib] CEngineDownloader Destroy");
}

uint16_t CEngineDownloader::EnginePort()
{
    const char* text = getenv("ZDR_ENGINE_PORT");
    if (!text || !*text) return kLocalEnginePort;
    char* end = nullptr;
    const long port = strtol(text, &end, 10);
    return *end == 0 && port > 0 && port < 65536 ? static_cast<uint16_t>(port) : kLocalEnginePort;
}

int64_t CEngineDownloader::SilenceSeconds()
{
    const char* text = getenv("ZDR_ENGINE_SILENCE_SECONDS");
    if (!text || !*text) return kSilenceSeconds;
    char* end = nullptr;
    const long seconds = strtol(text, &end, 10);
    return *end == 0 && seconds >= 1 && seconds <= kSilenceSeconds ? seconds : kSilenceSeconds;
}

int64_t CEngineDownloader::Now() const
{
    return m_clock();
}

void CEngineDownloader::RenewLauncher()
{
    m_engineReady = false;
    m_launcher = m_makeLauncher(m_networkLock.As<cpCMutex>());
    if (m_launcher) m_launcher->SetListener(this);
    ++m_launchAttempts;
}

void CEngineDownloader::DropLauncher()
{
    if (!m_launcher) return;
    m_launcher->SetListener(nullptr);
    m_launcher.reset();
}

vqICDNLocalClientLayer* CEngineDownloader::Layer() const
{
    auto* context = m_connection.As<vqIQoSContext>();
    return context ? static_cast<vqICDNLocalClientLayer*>(context->GetTopLayer()) : nullptr;
}

void CEngineDownloader::ReleaseConnection()
{
    if (auto* layer = Layer()) layer->SetEventListener(nullptr, 0);
    DiscardConnection(m_connection);
}

void CEngineDownloader::ConnectEngine()
{
    uint32_t ip = 0;
    if (VQ_FAILED(cpResolveHost(kEngineHost, &ip))) return;
    const cpADDRESS address{ip, EnginePort()};
    if (m_connection.Get()) return;
    cpCAutoLock lock(m_networkLock.As<cpCMutex>());
    ConnectionOptions options;
    options.eventMask = kEventMask;
    options.connectTimeoutSeconds = kConnectTimeoutSeconds;
    options.layerClass = CLSID_nwCCDNLocalClientLayer;
    vqSmartPtr connection;
    if (!OpenConnection(options, connection)) {
        // Held jobs do not wait for it: the ready bound gives the path up.
        LogWrite(connection.Get() ? "[MeshpullLib] CEngineDownloader Connect Failed (connection set-up)"
                                  : "[MeshpullLib] CEngineDownloader Connect Failed (no connection context)");
        DiscardConnection(connection);
        return;
    }
    m_connection = connection;
    m_statusAsked = 0;
    // Nothing is queued before the connection is up: the listener on the
    // port has yet to prove it is our engine.
    Layer()->SetEventListener(this, 0);
    connection.As<vqIQoSContext>()->Connect(address);
}

void CEngineDownloader::SetServiceId(const char* identifier)
{
    m_serviceId = identifier ? identifier : "";
    if (Connected()) Layer()->SendServiceId(m_serviceId.c_str());
}

// ---- jobs ----

CEngineDownloader::EngineRequest* CEngineDownloader::FindRequest(int32_t jobNumber)
{
    for (EngineRequest& request : m_requests)
        if (request.jobNumber == jobNumber) return &request;
    return nullptr;
}

CEngineDownloader::EngineRequest* CEngineDownloader::FindRequest(int32_t jobNumber, int32_t taskNumber)
{
    for (EngineRequest& request : m_requests)
        if (request.jobNumber == jobNumber && request.taskNumber == taskNumber) return &request;
    return nullptr;
}

CEngineDownloader::EngineRequest* CEngineDownloader::FindRequest(const CJob* job)
{
    for (EngineRequest& request : m_requests)
        if (request.job == job) return &request;
    return nullptr;
}

void CEngineDownloader::RemoveRequest(const EngineRequest* request)
{
    auto found = std::find_if(m_requests.begin(), m_requests.end(),
                              [request](const EngineRequest& held) { return &held == request; });
    if (found != m_requests.end()) m_requests.erase(found);
}

int CEngineDownloader::BeginJob(CJob* job)
{
    if (FindRequest(job->Number())) return DL_ERR_GENERAL;
    if (NetworkDown()) return kHeldForNetwork;
    if (!Connected()) return DL_OK;
    if (!FitsEngine(job)) {
        if (DropJob(job)) Manager()->OnJobFallback(job->Handle());
        return DL_OK;
    }
    // The engine owes nothing before its first job: its silence counts from here.
    if (m_requests.empty()) m_lastHeard = Now();
    m_requests.push_back(EngineRequest{-1, job->Number(), job});
    vqICDNLocalClientLayer* layer = Layer();
    if (job->Tag()[0]) {
        char tag[kLocalTagField] = {};
        strncpy(tag, job->Tag(), sizeof tag - 1);
        layer->SendJobTag(tag);
    }
    layer->SendJobOptions(job->Mode() != 0 ? kLocalOptionsHighSpeed : kLocalOptionsPlain);
    if (job->EngineFlag()) layer->SendJobEngineFlag(job->Number());
    SendJobFiles(job);
    return DL_OK;
}

void CEngineDownloader::SendJobFiles(CJob* job)
{
    const auto& files = job->Files();
    vqLOCALJOBHEADER header{};
    header.jobNumber = job->Number();
    header.fileCount = static_cast<int32_t>(files.size());
    CopyField(header.serviceId, sizeof header.serviceId, job->ServiceId());
    std::vector<vqLOCALJOBFILE> records(files.size());
    uint64_t length = kLocalJobHeaderSize;
    for (size_t i = 0; i < files.size(); ++i) {
        const CJobFile& file = *files[i];
        vqLOCALJOBFILE& record = records[i];
        record.flagA = static_cast<uint8_t>(file.flagA);
        record.flagB = static_cast<uint8_t>(file.flagB);
        record.size = file.size;
        record.url = file.url.c_str();
        CopyField(record.folder, sizeof record.folder, file.folder);
        CopyField(record.fileName, sizeof record.fileName, file.name);
        length += kLocalJobFileOverhead + file.url.size();
    }
    vqICDNLocalClientLayer* layer = Layer();
    if (length < kLocalSingleJobLimit) {
        layer->SendJob(header, records.data());
        return;
    }
    layer->SendJobHeader(header);
    for (size_t i = 0; i < records.size(); ++i) layer->SendJobFile(header.jobNumber, static_cast<int32_t>(i), records[i]);
    layer->SendJobEnd(header.jobNumber);
}

bool CEngineDownloader::FitsEngine(const CJob* job)
{
    if (job->Files().size() > static_cast<size_t>(kLocalMaxJobFiles)) {
        LogPrintf("[MeshpullLib] CEngineDownloader Job Does Not Fit The Engine (%zu files): plain path",
                  job->Files().size());
        return false;
    }
    // A path cut short would make the engine write elsewhere; a URL longer
    // than the file message's length field could not be sent at all.
    for (const auto& file : job->Files()) {
        if (file->folder.size() < kLocalPathField && file->name.size() < kLocalPathField &&
            file->url.size() <= kMaxUrlBytes)
            continue;
        LogPrintf("[MeshpullLib] CEngineDownloader File Does Not Fit The Engine (%s%s): plain path",
                  file->folder.c_str(), file->name.c_str());
        return false;
    }
    return true;
}

void CEngineDownloader::EndJob(CJob* job)
{
    EngineRequest* request = FindRequest(job);
    if (!request) return;
    const int32_t jobNumber = request->jobNumber;
    const int32_t taskNumber = request->taskNumber;
    RemoveRequest(request);
    if (Connected()) Layer()->SendStopJob(jobNumber, taskNumber);
}

int CEngineDownloader::AnswerResume(CJob* job, unsigned char resume, unsigned char applyToAll)
{
    const EngineRequest* request = FindRequest(job);
    if (Connected() && request)
        Layer()->SendResumeAnswer(job->EngineTaskNumber(), job->Number(), resume, applyToAll);
    return DL_OK;
}

void CEngineDownloader::TickJob(CJob* job)
{
    const bool online = HasInternetConnection();
    if (!online && !NetworkDown()) {
        OnOffline();
    } else if (online && NetworkDown()) {
        SetNetworkDown(false);
        PutNotice(job, DL_NOTICE_NETWORK_RESTORED, nullptr);
    }
    if (GiveUpIfNeverReady()) return;
    GiveUpIfSilent();
}

bool CEngineDownloader::GiveUpIfSilent()
{
    if (!Connected() || m_requests.empty()) return false;
    const int64_t bound = SilenceSeconds();
    const int64_t silent = Now() - m_lastHeard;
    if (silent >= bound) {
        LogPrintf("[MeshpullLib] CEngineDownloader Engine Silent (%lld s): jobs move to the plain path",
                  static_cast<long long>(silent));
        Manager()->OnEngineUnavailable();
        return true;
    }
    if (silent >= std::max<int64_t>(1, bound / 3) && m_statusAsked == 0) {
        ++m_statusAsked;
        Layer()->SendMessage22();
    }
    return false;
}

bool CEngineDownloader::GiveUpIfNeverReady()
{
    // Ready and connecting is on its way (the connect times out in 1 s);
    // ready without a connection (it could not be set up) is not.
    const bool onItsWay = Connected() || (m_engineReady && m_connection.Get());
    if (onItsWay || HeldCount() == 0) {
        m_waitingSince = -1;
        return false;
    }
    const int64_t now = Now();
    if (m_waitingSince < 0) {
        m_waitingSince = now;
        return false;
    }
    if (now - m_waitingSince < kReadyBoundSeconds) return false;
    LogPrintf("[MeshpullLib] CEngineDownloader Engine Not Ready (%lld s): jobs move to the plain path",
              static_cast<long long>(now - m_waitingSince));
    Manager()->OnEngineUnavailable();
    return true;
}

// ---- launcher events ----

void CEngineDownloader::OnUpdateBegin(const char* url, uint32_t sizeLow, uint32_t sizeHigh)
{
    Manager()->OnEngineUpdateBegin(url, sizeLow, static_cast<int>(sizeHigh));
}

void CEngineDownloader::OnUpdateProgress(const char* url, uint32_t bytesLow, uint32_t bytesHigh)
{
    Manager()->OnEngineUpdateProgress(url, bytesLow, static_cast<int>(bytesHigh));
}

void CEngineDownloader::OnEngineReady()
{
    m_engineReady = true;
    m_waitingSince = -1;
    SetNetworkDown(false);
    ConnectEngine();
    Manager()->OnEngineUpdateSucceeded();
}

void CEngineDownloader::OnEngineFailed()
{
    SetNetworkDown(false);
    ConnectEngine();
    Manager()->OnEngineUpdateFailed();
    LogWrite("[MeshpullLib] CEngineDownloader Engine Failed: jobs move to the plain path");
    Manager()->OnEngineUnavailable();
}

void CEngineDownloader::OnOffline()
{
    SetNetworkDown(true);
    // A notice may let the application stop jobs: walk a copy.
    const std::vector<CJob*> held = HeldJobs();
    for (CJob* job : held) PutNotice(job, DL_NOTICE_NETWORK_LOST, nullptr);
}

void CEngineDownloader::OnPathFailed(int kind)
{
    Manager()->OnPathAccessFailed(kind);
    if (kind == IJobDownloadEventListener::kEngineFolder) Manager()->OnEngineUnavailable();
}

// ---- engine events ----

CEngineDownloader::PortHolder CEngineDownloader::CheckPortHolder()
{
    const uint16_t port = EnginePort();
    auto* context = m_connection.As<vqIQoSContext>();
    cpADDRESS local{};
    const long owner = context && VQ_SUCCEEDED(context->GetLocalAddress(&local)) ? m_ownerOf(port, local.port) : -1;
    if (owner >= 0 && owner == static_cast<long>(geteuid())) return PortHolder::Ours;
    ReleaseConnection();
    if (owner < 0) {
        LogPrintf("[MeshpullLib] CEngineDownloader Engine Port %u Holder Unknown: connection closed", port);
        return PortHolder::Unknown;
    }
    LogPrintf("[MeshpullLib] CEngineDownloader Engine Port %u Held By Another User (uid %ld): jobs move to the plain path",
              port, owner);
    return PortHolder::AnotherUser;
}

void CEngineDownloader::OnLocalConnected(int32_t)
{
    // The folder, the URLs and the service identifier go to our own user's
    // engine only; another user's listener could also claim files done.
    switch (CheckPortHolder()) {
    case PortHolder::Ours:
        break;
    case PortHolder::Unknown:
        // Gone before it could be looked up: as any other close.
        OnLocalClosed(0);
        return;
    case PortHolder::AnotherUser:
        Manager()->OnEngineUnavailable();
        return;
    }
    m_lastConnectTime = Now();
    m_lastHeard = m_lastConnectTime;
    m_waitingSince = -1;
    Layer()->SendServiceId(m_serviceId.c_str());
    const std::vector<CJob*> held = HeldJobs();
    for (CJob* job : held)
        if (Holds(job, false)) BeginJob(job);
}

void CEngineDownloader::OnLocalJobAccepted(const vqLOCALJOBACCEPTED* record, int32_t)
{
    Heard();
    EngineRequest* request = FindRequest(record->jobNumber);
    if (!request) return;
    request->taskNumber = record->taskNumber;
    CJob* job = request->job;
    job->SetEngineTaskNumber(record->taskNumber);
    PutSize(job, record->fileCount, record->totalBytes);
}

void CEngineDownloader::OnLocalJobRejected(const vqLOCALJOBREJECTED* record, int32_t)
{
    Heard();
    EngineRequest* request = FindRequest(record->jobNumber);
    if (!request) return;
    CJob* job = request->job;
    RemoveRequest(request);
    PutNoticeAndDrop(job, DL_NOTICE_DOWNLOAD_FAILED, record->reason);
}

void CEngineDownloader::OnLocalJobProgress(const vqLOCALPROGRESS* record, int32_t)
{
    Heard();
    EngineRequest* request = FindRequest(record->jobNumber, record->taskNumber);
    if (!request) return;
    CJob* job = request->job;
    DlProgress progress{};
    progress.totalBytes = record->totalBytes;
    progress.bytesPresent = record->bytesPresent;
    progress.fileCount = record->fileCount;
    progress.filesDone = record->filesCompleted;
    progress.elapsedSeconds = record->elapsedSeconds;
    m_jobRate.Add(record->elapsedSeconds, record->rate);
    progress.speed = m_jobRate.Average();
    progress.remainingSeconds = Remaining(record->totalBytes, record->bytesPresent, progress.speed);
    progress.percent = Percent(record->bytesPresent, record->totalBytes);
    if (record->recordCount > 0 && record->records) {
        const vqLOCALFILERECORD& file = record->records[0];
        progress.fileSize = file.fileSize;
        progress.fileBytesPresent = file.bytesPresent;
        progress.filePercent = Percent(file.bytesPresent, file.fileSize);
        m_fileRate.Add(record->elapsedSeconds, file.rate);
        progress.speed64 = m_fileRate.Average();
        progress.remainingSeconds64 = Remaining(file.fileSize, file.bytesPresent, progress.speed64);
    }
    const auto& files = job->Files();
    const int last = static_cast<int>(files.size()) - 1;
    progress.fileIndex = std::max(0, std::min(record->filesCompleted, last));
    if (progress.fileIndex < static_cast<int>(files.size()))
        strncpy(progress.fileName, files[static_cast<size_t>(progress.fileIndex)]->name.c_str(), kFileNameChars);
    PutProgress(job, progress);
}

void CEngineDownloader::OnLocalFileDone(const vqLOCALFILEDONE* record, int32_t)
{
    FileDone(record->localPath, nullptr, record->source, record->jobNumber, record->taskNumber);
}

void CEngineDownloader::OnLocalFileDoneEx(const vqLOCALFILEDONEEX* record, int32_t)
{
    FileDone(record->localPath, record->secondText, record->source, record->jobNumber, record->taskNumber);
}

void CEngineDownloader::FileDone(const char* path, const char* secondText, const char* source, int32_t jobNumber,
                                 int32_t taskNumber)
{
    Heard();
    EngineRequest* request = FindRequest(jobNumber, taskNumber);
    if (!request) return;
    m_fileRate.Reset();
    if (!OnDisk(request->job, path)) {
        LogPrintf("[MeshpullLib] CEngineDownloader File Done Not On Disk (%s): plain path", path);
        MoveToPlainPath(request);
        return;
    }
    PutFileDone(request->job, path, secondText, source);
}

bool CEngineDownloader::OnDisk(const CJob* job, const char* path)
{
    for (const auto& file : job->Files()) {
        if (file->LocalPath() != path) continue;
        const int64_t size = RegularFileSize(path);
        return size >= 0 && (file->size < 0 || size == file->size);
    }
    return false;
}

void CEngineDownloader::MoveToPlainPath(EngineRequest* request)
{
    CJob* job = request->job;
    const int32_t jobNumber = request->jobNumber;
    const int32_t taskNumber = request->taskNumber;
    RemoveRequest(request);
    if (Connected()) Layer()->SendStopJob(jobNumber, taskNumber);
    PutNoticeAndDrop(job, DL_NOTICE_ENGINE_GAVE_UP, nullptr);
    Manager()->OnJobFallback(job->Handle());
}

void CEngineDownloader::Heard()
{
    m_lastHeard = Now();
}

void CEngineDownloader::OnLocalJobFinished(const vqLOCALJOBFINISHED* record, int32_t)
{
    Heard();
    EngineRequest* request = FindRequest(record->jobNumber, record->taskNumber);
    if (!request) return;
    CJob* job = request->job;
    if (record->valueB == 0) {
        for (const auto& file : job->Files()) {
            if (OnDisk(job, file->LocalPath().c_str())) continue;
            LogPrintf("[MeshpullLib] CEngineDownloader Job Finished Without Its Files (%s): plain path",
                      file->LocalPath().c_str());
            MoveToPlainPath(request);
            return;
        }
    }
    RemoveRequest(request);
    if (record->valueB != 0) {
        LogPrintf("[MeshpullLib] CEngineDownloader Job Given Up (%d): plain path", record->valueB);
        PutNoticeAndDrop(job, DL_NOTICE_ENGINE_GAVE_UP, nullptr);
        Manager()->OnJobFallback(job->Handle());
        return;
    }
    PutComplete(job, record->valueA, record->valueB);
}

void CEngineDownloader::OnLocalJobError(const vqLOCALJOBERROR* record, int32_t)
{
    Heard();
    EngineRequest* request = FindRequest(record->jobNumber, record->taskNumber);
    if (!request) return;
    if (record->kind == kLocalErrorDiskSpace) return PutNotice(request->job, DL_NOTICE_DISK_FULL, nullptr);
    // The cause of a give-up that follows: the plain path goes on, the log keeps why.
    LogPrintf("[MeshpullLib] CEngineDownloader Job Error (%d): %s", record->kind, record->text ? record->text : "");
}

void CEngineDownloader::OnLocalNetworkLost(const vqLOCALNETWORKNOTICE*, int32_t)
{
    Heard();
    if (!m_requests.empty()) PutNotice(m_requests.front().job, DL_NOTICE_NETWORK_LOST, nullptr);
}

void CEngineDownloader::OnLocalNetworkRestored(const vqLOCALNETWORKNOTICE*, int32_t)
{
    Heard();
    if (!m_requests.empty()) PutNotice(m_requests.front().job, DL_NOTICE_NETWORK_RESTORED, nullptr);
}

void CEngineDownloader::OnLocalClosed(int32_t)
{
    ReleaseConnection();
    if (m_lastConnectTime != 0 && Now() - m_lastConnectTime > kAttemptResetSeconds) {
        m_launchAttempts = 0;
        m_lastConnectTime = 0;
    }
    LogWrite("[MeshpullLib] localClosed()");
    if (m_launchAttempts >= kMaxCloses) {
        LogWrite("[MeshpullLib] CEngineDownloader MaxTry Over");
        Manager()->OnEngineUnavailable();
        return;
    }
    DropLauncher();
    m_requests.clear();
    RenewLauncher();
}

void CEngineDownloader::OnLocalConnectTimeout(int32_t) {}

void CEngineDownloader::OnLocalAskResume(int32_t jobNumber)
{
    Heard();
    EngineRequest* request = FindRequest(jobNumber);
    if (request) request->job->AskResume();
}

void CEngineDownloader::OnLocalStatus(int32_t value, int32_t)
{
    Heard();
    // The answer to our own status request is no news for the application.
    if (m_statusAsked > 0) {
        --m_statusAsked;
        return;
    }
    Manager()->OnEngineStatus(value);
}

void CEngineDownloader::OnLocalProtocolError(int32_t)
{
    ReleaseConnection();
    LogPrintf("[MeshpullLib] CEngineDownloader Engine Port %u Speaks No Engine Protocol: jobs move to the plain path",
              EnginePort());
    Manager()->OnEngineUnavailable();
}

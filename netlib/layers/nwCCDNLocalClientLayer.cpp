#include "netlib/layers/nwCCDNLocalClientLayer.h"

#include "netlib/core/vqClassIds.h"

#include <cstring>

nwCCDNLocalClientLayer::nwCCDNLocalClientLayer()
{
    Initialize();
}

nwCCDNLocalClientLayer::~nwCCDNLocalClientLayer()
{
    m_listener = nullptr;
}

template <nwCCDNLocalClientLayer::Handler handler>
void nwCCDNLocalClientLayer::Thunk(const unsigned char* payload, uint32_t length, void* self)
{
    (static_cast<nwCCDNLocalClientLayer*>(self)->*handler)(payload, length);
}

void nwCCDNLocalClientLayer::Initialize()
{
    const struct {
        uint16_t code;
        nwFrameCallback callback;
    } handlers[] = {
        {kLocalJobAccepted, &Thunk<&nwCCDNLocalClientLayer::OnJobAccepted>},
        {kLocalJobRejected, &Thunk<&nwCCDNLocalClientLayer::OnJobRejected>},
        {kLocalJobProgress, &Thunk<&nwCCDNLocalClientLayer::OnJobProgress>},
        {kLocalJobFinished, &Thunk<&nwCCDNLocalClientLayer::OnJobFinished>},
        {kLocalFileDone, &Thunk<&nwCCDNLocalClientLayer::OnFileDone>},
        {kLocalJobError, &Thunk<&nwCCDNLocalClientLayer::OnJobError>},
        {kLocalNetworkLost, &Thunk<&nwCCDNLocalClientLayer::OnNetworkLost>},
        {kLocalNetworkRestored, &Thunk<&nwCCDNLocalClientLayer::OnNetworkRestored>},
        {kLocalFileDoneEx, &Thunk<&nwCCDNLocalClientLayer::OnFileDoneEx>},
        {kLocalAskResume, &Thunk<&nwCCDNLocalClientLayer::OnAskResume>},
        {kLocalStatus, &Thunk<&nwCCDNLocalClientLayer::OnStatus>},
    };
    for (const auto& entry : handlers) m_dispatcher.RegisterHandler(kLocalFrameType, entry.code, entry.callback, this);
}

vqRESULT nwCCDNLocalClientLayer::AddRef()
{
    ++m_refCount;
    return VQ_OK;
}

vqRESULT nwCCDNLocalClientLayer::Release()
{
    if (--m_refCount == 0) delete this;
    return VQ_OK;
}

vqRESULT nwCCDNLocalClientLayer::QueryInterface(uint32_t interfaceId, void** out)
{
    if (interfaceId != IID_nwIQoSNetStack) return VQ_E_NETWORK;
    *out = static_cast<nwIQoSNetStack*>(this);
    return VQ_OK_NETWORK;
}

vqRESULT nwCCDNLocalClientLayer::SetEventListener(nwICDNLocalClientEventListener* listener, int32_t cookie)
{
    m_listener = listener;
    m_cookie = cookie;
    return VQ_OK_NETWORK;
}

vqRESULT nwCCDNLocalClientLayer::Send(uint16_t code, const nwCDNLocalCodec::Bytes& payload, uint16_t type)
{
    const uint32_t length = static_cast<uint32_t>(payload.size());
    unsigned char* frame = AllocFrame(length);
    if (length > 0) memcpy(frame, payload.data(), length);
    return SendFrame(code, frame, length, type);
}

vqRESULT nwCCDNLocalClientLayer::SendJobOptions(uint8_t mode)
{
    return Send(kLocalJobOptions, nwCDNLocalCodec::EncodeJobOptions(mode));
}

vqRESULT nwCCDNLocalClientLayer::SendJobTag(const char tag[kLocalTagField])
{
    return Send(kLocalJobTag, nwCDNLocalCodec::EncodeJobTag(tag));
}

vqRESULT nwCCDNLocalClientLayer::SendJob(const vqLOCALJOBHEADER& header, const vqLOCALJOBFILE* files)
{
    nwCDNLocalCodec::Bytes payload;
    if (!nwCDNLocalCodec::EncodeJob(header, files, &payload)) return VQ_E_NETWORK;
    return Send(kLocalJob, payload, kLocalJobFrameType);
}

vqRESULT nwCCDNLocalClientLayer::SendJobHeader(const vqLOCALJOBHEADER& header)
{
    return Send(kLocalJobHeader, nwCDNLocalCodec::EncodeJobHeader(header));
}

vqRESULT nwCCDNLocalClientLayer::SendJobFile(int32_t jobNumber, int32_t fileIndex, const vqLOCALJOBFILE& file)
{
    nwCDNLocalCodec::Bytes payload;
    if (!nwCDNLocalCodec::EncodeJobFile(jobNumber, fileIndex, file, &payload)) return VQ_E_NETWORK;
    return Send(kLocalJobFile, payload);
}

vqRESULT nwCCDNLocalClientLayer::SendJobEnd(int32_t jobNumber)
{
    return Send(kLocalJobEnd, nwCDNLocalCodec::EncodeJobEnd(jobNumber));
}

vqRESULT nwCCDNLocalClientLayer::SendStopJob(int32_t jobNumber, int32_t taskNumber)
{
    return Send(kLocalStopJob, nwCDNLocalCodec::EncodeStopJob(jobNumber, taskNumber));
}

vqRESULT nwCCDNLocalClientLayer::SendServiceId(const char* serviceId)
{
    return Send(kLocalServiceId, nwCDNLocalCodec::EncodeServiceId(serviceId));
}

vqRESULT nwCCDNLocalClientLayer::SendMessage13(const unsigned char bytes[kLocalMessage13Size])
{
    return Send(kLocalMessage13, nwCDNLocalCodec::EncodeMessage13(bytes));
}

vqRESULT nwCCDNLocalClientLayer::SendJobEngineFlag(int32_t jobNumber)
{
    return Send(kLocalEngineFlag, nwCDNLocalCodec::EncodeEngineFlag(jobNumber));
}

vqRESULT nwCCDNLocalClientLayer::SendResumeAnswer(int32_t taskNumber, int32_t jobNumber, uint8_t resume,
                                                  uint8_t applyToAll)
{
    return Send(kLocalResumeAnswer,
                nwCDNLocalCodec::EncodeResumeAnswer(vqLOCALRESUMEANSWER{taskNumber, jobNumber, resume, applyToAll}));
}

vqRESULT nwCCDNLocalClientLayer::SendMessage22()
{
    return Send(kLocalStatus, nwCDNLocalCodec::EncodeMessage22());
}

bool nwCCDNLocalClientLayer::OnConnected()
{
    if (m_listener) m_listener->OnLocalConnected(m_cookie);
    return true;
}

void nwCCDNLocalClientLayer::OnClosed()
{
    if (m_listener) m_listener->OnLocalClosed(m_cookie);
}

bool nwCCDNLocalClientLayer::OnConnectTimeout()
{
    if (m_listener) m_listener->OnLocalConnectTimeout(m_cookie);
    return true;
}

int32_t nwCCDNLocalClientLayer::OnReceive(const unsigned char* bytes, uint32_t length)
{
    if (m_malformed) return -1;
    const int32_t consumed = m_dispatcher.Feed(bytes, length);
    if (!m_malformed && consumed >= 0) return consumed;
    Malformed();
    // The listener may detach or end the connection in here; the close the
    // answer asks for then finds it closed already.
    if (m_listener) m_listener->OnLocalProtocolError(m_cookie);
    return -1;
}

void nwCCDNLocalClientLayer::Malformed()
{
    m_malformed = true;
    m_dispatcher.Stop();
}

void nwCCDNLocalClientLayer::OnJobAccepted(const unsigned char* payload, uint32_t length)
{
    vqLOCALJOBACCEPTED record{};
    if (!nwCDNLocalCodec::DecodeJobAccepted(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalJobAccepted(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnJobRejected(const unsigned char* payload, uint32_t length)
{
    vqLOCALJOBREJECTED record{};
    if (!nwCDNLocalCodec::DecodeJobRejected(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalJobRejected(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnJobProgress(const unsigned char* payload, uint32_t length)
{
    vqLOCALPROGRESS record{};
    std::vector<vqLOCALFILERECORD> records;
    if (!nwCDNLocalCodec::DecodeProgress(payload, length, &record, &records)) return Malformed();
    if (m_listener) m_listener->OnLocalJobProgress(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnJobFinished(const unsigned char* payload, uint32_t length)
{
    vqLOCALJOBFINISHED record{};
    if (!nwCDNLocalCodec::DecodeJobFinished(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalJobFinished(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnFileDone(const unsigned char* payload, uint32_t length)
{
    vqLOCALFILEDONE record{};
    if (!nwCDNLocalCodec::DecodeFileDone(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalFileDone(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnJobError(const unsigned char* payload, uint32_t length)
{
    vqLOCALJOBERROR record{};
    if (!nwCDNLocalCodec::DecodeJobError(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalJobError(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnNetworkLost(const unsigned char* payload, uint32_t length)
{
    vqLOCALNETWORKNOTICE record{};
    if (!nwCDNLocalCodec::DecodeNetworkNotice(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalNetworkLost(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnNetworkRestored(const unsigned char* payload, uint32_t length)
{
    vqLOCALNETWORKNOTICE record{};
    if (!nwCDNLocalCodec::DecodeNetworkNotice(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalNetworkRestored(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnFileDoneEx(const unsigned char* payload, uint32_t length)
{
    vqLOCALFILEDONEEX record{};
    if (!nwCDNLocalCodec::DecodeFileDoneEx(payload, length, &record)) return Malformed();
    if (m_listener) m_listener->OnLocalFileDoneEx(&record, m_cookie);
}

void nwCCDNLocalClientLayer::OnAskResume(const unsigned char* payload, uint32_t length)
{
    int32_t jobNumber = 0;
    if (!nwCDNLocalCodec::DecodeAskResume(payload, length, &jobNumber)) return Malformed();
    if (m_listener) m_listener->OnLocalAskResume(jobNumber);
}

void nwCCDNLocalClientLayer::OnStatus(const unsigned char* payload, uint32_t length)
{
    int32_t value = 0;
    if (!nwCDNLocalCodec::DecodeStatus(payload, length, &value)) return Malformed();
    if (m_listener) m_listener->OnLocalStatus(value, m_cookie);
}

#include "service/CPlatformFileSizeChecker.h"

#include <algorithm>
#include <string>

CPlatformFileSizeChecker::CPlatformFileSizeChecker() = default;

CPlatformFileSizeChecker::~CPlatformFileSizeChecker()
{
    m_running.clear();
}

void CPlatformFileSizeChecker::SetListener(ICheckerEventListener* listener, void* context)
{
    m_listener = listener;
    m_context = context;
}

void CPlatformFileSizeChecker::Begin(const std::vector<std::unique_ptr<CJobFile>>& files)
{
    m_knownTotal = 0;
    m_knownPresent = 0;
    m_knownCount = 0;
    for (const auto& file : files) {
        m_sizes.push_back(file->size);
        if (file->size != -1) {
            m_knownTotal += file->size;
            m_knownPresent += file->bytesDone;
            ++m_knownCount;
        } else {
            m_slots.push_back(m_sizes.size() - 1);
            m_files.push_back(std::make_unique<CJobFile>(*file));
        }
    }
    if (m_files.empty()) Report();
    else StartMore();
}

void CPlatformFileSizeChecker::StartMore()
{
    const auto alive = m_life.Watch();
    while (m_started < m_files.size() && m_running.size() < kMaxProbes) {
        auto session = std::make_unique<CPlatformFileSizeCheckSession>();
        CPlatformFileSizeCheckSession* probe = session.get();
        probe->SetListener(this, probe);
        m_running.push_back(std::move(session));
        probe->Begin(m_files[m_started++].get());
        if (!*alive) return;
    }
    if (m_finished == m_files.size()) Report();
}

void CPlatformFileSizeChecker::OnSizeKnown(void* context)
{
    auto it = std::find_if(m_running.begin(), m_running.end(),
                           [context](const auto& session) { return session.get() == context; });
    if (it != m_running.end()) m_running.erase(it);
    ++m_finished;
    StartMore();
}

void CPlatformFileSizeChecker::OnSizeFailed(void*, int code, const char* text)
{
    const std::string entry = text ? text : "";
    m_listener->OnCheckFailed(m_context, code, entry.c_str());
}

void CPlatformFileSizeChecker::Report()
{
    CPlatformSizeCheckResult result;
    result.totalBytes = m_knownTotal;
    result.bytesPresent = m_knownPresent;
    result.fileCount = m_knownCount + static_cast<int32_t>(m_files.size());
    for (size_t i = 0; i < m_files.size(); ++i) {
        result.totalBytes += m_files[i]->size;
        result.bytesPresent += m_files[i]->bytesDone;
        m_sizes[m_slots[i]] = m_files[i]->size;
    }
    result.sizes = m_sizes;
    m_listener->OnCheckDone(m_context, result);
}

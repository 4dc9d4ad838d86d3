#include "service/DownloaderFactory.h"

#include "engine/ActivityLog.h"
#include "service/CEngineDownloader.h"
#include "service/CJobDownloader.h"
#include "service/CPlatFormDownloader.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::unique_ptr<CJobDownloader> MakeEngineDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock)
{
    const char* skip = getenv("ZDR_NO_ENGINE");
    if (skip && strcmp(skip, "1") == 0) {
        LogWrite("[MeshpullLib] Engine path skipped (ZDR_NO_ENGINE=1)");
        return nullptr;
    }
    return std::make_unique<CEngineDownloader>(manager, networkLock);
}

std::unique_ptr<CJobDownloader> MakePlainDownloader(IJobDownloadEventListener* manager, cpCMutex*)
{
    return std::make_unique<CPlatFormDownloader>(manager);
}

std::atomic<DownloaderMaker> g_engineMaker{&MakeEngineDownloader};
std::atomic<DownloaderMaker> g_plainMaker{&MakePlainDownloader};

} // namespace

std::unique_ptr<CJobDownloader> MakeNoDownloader(IJobDownloadEventListener*, cpCMutex*)
{
    return nullptr;
}

std::unique_ptr<CJobDownloader> CreateEngineDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock)
{
    return g_engineMaker.load()(manager, networkLock);
}

std::unique_ptr<CJobDownloader> CreatePlainDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock)
{
    return g_plainMaker.load()(manager, networkLock);
}

void SetDownloaderMakersForTesting(DownloaderMaker engine, DownloaderMaker plain)
{
    g_engineMaker.store(engine ? engine : &MakeEngineDownloader);
    g_plainMaker.store(plain ? plain : &MakePlainDownloader);
}

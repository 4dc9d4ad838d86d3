#include "service/DownloaderFactory.h"

#include "service/CJobDownloader.h"
#include "service/CPlatFormDownloader.h"

#include <atomic>

namespace {

// The engine downloader does not exist yet: without it every job runs on the
// plain downloader, as after the engine path has been given up.
std::unique_ptr<CJobDownloader> NoDownloader(IJobDownloadEventListener*)
{
    return nullptr;
}

std::unique_ptr<CJobDownloader> MakePlainDownloader(IJobDownloadEventListener* manager)
{
    return std::make_unique<CPlatFormDownloader>(manager);
}

std::atomic<DownloaderMaker> g_engineMaker{&NoDownloader};
std::atomic<DownloaderMaker> g_plainMaker{&MakePlainDownloader};

} // namespace

std::unique_ptr<CJobDownloader> CreateEngineDownloader(IJobDownloadEventListener* manager)
{
    return g_engineMaker.load()(manager);
}

std::unique_ptr<CJobDownloader> CreatePlainDownloader(IJobDownloadEventListener* manager)
{
    return g_plainMaker.load()(manager);
}

void SetDownloaderMakersForTesting(DownloaderMaker engine, DownloaderMaker plain)
{
    g_engineMaker.store(engine ? engine : &NoDownloader);
    g_plainMaker.store(plain ? plain : &MakePlainDownloader);
}

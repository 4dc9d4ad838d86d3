#include "service/DownloaderFactory.h"

#include "service/CJobDownloader.h"

#include <atomic>

namespace {

// The plain downloader joins with issue #8 and the engine downloader after
// it; a downloader that does not exist is simply absent, and a start with
// neither answers 517.
std::unique_ptr<CJobDownloader> NoDownloader(IJobDownloadEventListener*)
{
    return nullptr;
}

std::atomic<DownloaderMaker> g_engineMaker{&NoDownloader};
std::atomic<DownloaderMaker> g_plainMaker{&NoDownloader};

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
    g_plainMaker.store(plain ? plain : &NoDownloader);
}

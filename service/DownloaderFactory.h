#pragma once
// Makes the two job downloaders for the job manager. The manager does not
// know their classes; each downloader's module supplies its maker here. A
// maker may answer null (that downloader is not available), and tests may
// replace the makers.
//
// The built-in engine maker makes the engine downloader unless the
// environment says ZDR_NO_ENGINE=1 when the manager is configured: then
// there is none and every job runs on the plain downloader.

#include <memory>

class CJobDownloader;
class IJobDownloadEventListener;
class cpCMutex;

typedef std::unique_ptr<CJobDownloader> (*DownloaderMaker)(IJobDownloadEventListener* manager, cpCMutex* networkLock);

std::unique_ptr<CJobDownloader> CreateEngineDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock);
std::unique_ptr<CJobDownloader> CreatePlainDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock);

// A maker that answers null: for tests that run without an engine path.
std::unique_ptr<CJobDownloader> MakeNoDownloader(IJobDownloadEventListener* manager, cpCMutex* networkLock);

// Null restores the built-in maker.
void SetDownloaderMakersForTesting(DownloaderMaker engine, DownloaderMaker plain);

#pragma once
// Makes the two job downloaders for the job manager. The manager does not
// know their classes; each downloader's module supplies its maker here. A
// maker may answer null (that downloader is not available), and tests may
// replace the makers.

#include <memory>

class CJobDownloader;
class IJobDownloadEventListener;

typedef std::unique_ptr<CJobDownloader> (*DownloaderMaker)(IJobDownloadEventListener* manager);

std::unique_ptr<CJobDownloader> CreateEngineDownloader(IJobDownloadEventListener* manager);
std::unique_ptr<CJobDownloader> CreatePlainDownloader(IJobDownloadEventListener* manager);

// Null restores the built-in maker.
void SetDownloaderMakersForTesting(DownloaderMaker engine, DownloaderMaker plain);

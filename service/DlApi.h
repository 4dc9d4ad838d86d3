#pragma once
// The download service's flat interface: the only way a front end (the GUI,
// the command-line program, tests) reaches the service.
//
// Contract:
// - Every function is called on the application's thread; only DlInitialize
//   and DlFinalize start and end the service. Every function but those two
//   and DlGetUserData answers DL_ERR_GENERAL while the service is not
//   running, and for a job handle it does not know (handles are never 0).
// - Events reach the application twice: as WM_DL_EVENT posted to the window
//   given to DlInitialize (wParam: event code, lParam: the job handle or 0),
//   and as a call of the callback with the network lock held: on the service
//   thread, or on the caller's thread for a failure found inside a call
//   (DlAddJobFile's DL_EVENT_DOWNLOAD_PATH_FAILED). It must return quickly;
//   it may call the query functions (the lock is recursive) but not
//   DlInitialize, DlFinalize, DlStartJob, DlStopJob or DlRemoveJob (a
//   downloader may be on the stack). An event carries no payload: the
//   application fetches it with the query function, as it is at that time.
// - The service never allocates for the caller: every buffer is the
//   caller's, sized with the matching size query, and is never written past
//   the size that query answered.
// - Strings are NUL-terminated narrow strings in the locale's encoding.
// - After DlFinalize nothing of the service is valid: job handles are
//   unknown, fetched bodies and size-check totals are gone, and
//   DlGetUserData answers null. No event follows, except from a service
//   thread that DlFinalize had to leave behind, from inside the processing
//   it was stuck in.

#include "platform/WinTypes.h"

// Results (also the numeric space of events and notices).
constexpr int DL_OK = 512;
constexpr int DL_ERR_URL = 513;
constexpr int DL_ERR_FOLDER = 514;
constexpr int DL_ERR_ALREADY_RUNNING = 515;
constexpr int DL_ERR_NOT_HELD = 516;
constexpr int DL_ERR_GENERAL = 517;
constexpr int DL_ERR_RUNNING = 518;
constexpr int DL_ERR_SIZE = 520;

// Events.
constexpr int DL_EVENT_JOB_SIZE = 513;
constexpr int DL_EVENT_JOB_PROGRESS = 514;
constexpr int DL_EVENT_FILE_DONE = 515;
constexpr int DL_EVENT_JOB_COMPLETE = 516;
constexpr int DL_EVENT_NOTICE = 517;
constexpr int DL_EVENT_UPDATE_BEGIN = 518;
constexpr int DL_EVENT_UPDATE_PROGRESS = 519;
constexpr int DL_EVENT_UPDATE_SUCCEEDED = 520;
constexpr int DL_EVENT_UPDATE_FAILED = 521;
constexpr int DL_EVENT_FETCH_DONE = 522;
constexpr int DL_EVENT_FETCH_FAILED = 523;
constexpr int DL_EVENT_ASK_RESUME = 524;
constexpr int DL_EVENT_SIZE_CHECK_DONE = 525;
constexpr int DL_EVENT_SIZE_CHECK_FAILED = 526;
constexpr int DL_EVENT_ENGINE_PATH_FAILED = 527;
constexpr int DL_EVENT_DOWNLOAD_PATH_FAILED = 528;
constexpr int DL_EVENT_FETCH_TICK = 529;
constexpr int DL_EVENT_ENGINE_STATUS = 530;

// Notice codes (DlNotice::code).
constexpr int DL_NOTICE_NONE = 512;
constexpr int DL_NOTICE_DISK_FULL = 513;
constexpr int DL_NOTICE_NETWORK_LOST = 515;
constexpr int DL_NOTICE_NETWORK_RESTORED = 516;
constexpr int DL_NOTICE_DOWNLOAD_FAILED = 517;
constexpr int DL_NOTICE_ENGINE_GAVE_UP = 518;

constexpr UINT WM_DL_EVENT = WM_USER + 10000; // 11024

// size: the bytes at data, which must equal the fetched body's size exactly.
struct DlDataBuffer { void* data; long long size; };
// text: null (the text is not wanted) or a buffer of the size that
// DlGetJobNoticeSize answered just before.
struct DlNotice     { int code; char* text; };
// text: "source,local path" of the completed file, NUL-terminated when it fits.
struct DlFileDone   { int fileCount; int sequence; char text[1024]; };
struct DlSizeInfo   { int fileCount; long long totalBytes; };
// valueA/valueB: what the finishing downloader reports; the plain
// downloader gives the files completed and 0.
struct DlJobResult  { int fileCount; int valueA; int valueB; };
// The engine update's latest report (DlGetEngineUpdate): fileCount update
// files have begun arriving in this run of the update; fileNumber (1-based)
// is the one the other fields describe, the last to report.
struct DlEngineUpdate { int fileCount; int fileNumber; long long fileSize; long long fileBytes; char fileName[66]; };
struct DlProgress   { long long totalBytes; long long bytesPresent; int fileCount; int filesDone; int speed;
                      long long elapsedSeconds; long long remainingSeconds; int percent; int fileIndex;
                      long long fileSize; long long fileBytesPresent; long long speed64;
                      long long remainingSeconds64; int filePercent; char fileName[66]; };

// Where a job runs (DlGetJobPath).
constexpr int DL_PATH_NONE = 0;   // never started
constexpr int DL_PATH_ENGINE = 1; // the download engine
constexpr int DL_PATH_PLAIN = 2;  // the built-in plain downloader

typedef void (*DlEventCallback)(int code, int param, const void* userData);

// Starts the service thread and waits up to 3 s for it. DL_OK;
// DL_ERR_RUNNING while a service is registered (also after a failed start:
// call DlFinalize first); DL_ERR_GENERAL when the thread did not come up, or
// while a service thread that an earlier DlFinalize had to leave behind still
// runs (nothing is registered then). The callback (may be null) and the
// window (may be null) receive every event; userData goes back with each
// callback. elevate = 1 starts the engine program elevated where the system
// asks for it; the three-argument form passes 1.
int DlInitialize(HWND window, DlEventCallback callback, const void* userData);
int DlInitialize(HWND window, DlEventCallback callback, const void* userData, unsigned char elevate);
// Stops the service thread (waiting up to 3 s; a thread that does not end is
// left behind, never freed under it) and destroys the service. Always DL_OK,
// also without a service. Call it after stopping and removing the jobs.
int DlFinalize();
// Fetches the URL into memory, replacing any earlier fetch: later
// DL_EVENT_FETCH_TICK each second, then DL_EVENT_FETCH_DONE or
// DL_EVENT_FETCH_FAILED. An empty URL starts nothing (still DL_OK).
int DlFetchData(const char* url);
// The fetched body's size; DL_ERR_GENERAL when there is none.
int DlGetFetchedSize(long long* size);
// Copies the body into buffer->data only if buffer->size equals the size
// DlGetFetchedSize answers and data is not null; otherwise DL_ERR_GENERAL and
// nothing is written.
int DlGetFetchedData(DlDataBuffer* buffer);
// After DL_EVENT_FETCH_FAILED: the URL that failed and why ("URL: cause",
// its user name and password left out), copied into text and always
// NUL-terminated (cut to capacity). DL_ERR_GENERAL without a failed fetch
// or without room.
int DlGetFetchFailure(char* text, int capacity);
// Adds a URL to the service's size check (made on first use). The checker
// reports to the job manager, which raises the size-check events.
int DlAddSizeCheckUrl(const char* url);
// Starts the size check: DL_EVENT_SIZE_CHECK_DONE or _FAILED follows.
// DL_ERR_GENERAL when no URL was ever added.
int DlStartSizeCheck();
// The size check's total so far; DL_ERR_GENERAL without a size check.
int DlGetSizeCheckTotal(long long* total);
// After DL_EVENT_SIZE_CHECK_FAILED: the URL that failed and why, as
// DlGetFetchFailure gives it.
int DlGetSizeCheckFailure(char* text, int capacity);
// The identifier the engine downloader sends the engine with every
// connection (null: empty); kept while the service runs. DL_OK.
int DlSetServiceId(const char* id);
// *job: 0 (or a handle that names no job) in, the new job's handle out. tag
// (up to 3 characters) and serviceId (up to 32) may be null.
int DlCreateJob(int* job, const char* tag, const char* serviceId);
// Marks the job for the engine downloader.
int DlSetJobEngineFlag(int job);
// Adds a file to an idle job; the folder (with every missing parent) is
// created. Size: sizeLow/sizeHigh as one 64-bit value, -1 for unknown,
// otherwise positive (else DL_ERR_SIZE, checked first). flagA/flagB travel
// with the file to the engine (the application passes 1 and 0; the
// seven-argument form passes 0 for flagB). DL_OK, DL_ERR_URL (empty URL),
// DL_ERR_FOLDER (the folder cannot be made; DL_EVENT_DOWNLOAD_PATH_FAILED
// follows), DL_ERR_GENERAL (job not idle, the same file already in it, or a
// file of it named like the other's temporary files).
int DlAddJobFile(int job, const char* url, const char* folder, const char* name,
                 unsigned int sizeLow, int sizeHigh, int flagA);
int DlAddJobFile(int job, const char* url, const char* folder, const char* name,
                 unsigned int sizeLow, int sizeHigh, int flagA, int flagB);
// Starts a job that has files. mode 0: a fixed receive budget per second;
// any other value: full speed. DL_OK, or DL_ERR_ALREADY_RUNNING.
// Events follow: DL_EVENT_JOB_SIZE, DL_EVENT_JOB_PROGRESS each second,
// DL_EVENT_FILE_DONE per file, DL_EVENT_NOTICE, DL_EVENT_JOB_COMPLETE.
int DlStartJob(int job, unsigned char mode);
// Stops the job where it runs; DL_ERR_GENERAL when no downloader holds it.
// The second argument of the two-argument form is ignored.
int DlStopJob(int job);
int DlStopJob(int job, int ignored);
// Stops the job if it runs and destroys it; its handle is unknown afterwards.
int DlRemoveJob(int job);
// The answer to DL_EVENT_ASK_RESUME: resume 1 continues the partial file,
// applyToAll 1 answers for every file of the job. DL_ERR_NOT_HELD when the
// engine downloader does not hold the job.
int DlAnswerResume(int job, unsigned char resume, unsigned char applyToAll);
// Bytes still to come: from the job's progress once it has a total, else the
// size check's total (and its answer).
int DlGetJobRemaining(int job, long long* remaining);
// The room the oldest notice's text needs, NUL included (0: no notice, or
// one without text). Call it right before DlPopJobNotice.
int DlGetJobNoticeSize(int job, int* size);
// Takes the oldest notice: its code (DL_NOTICE_NONE when there is none) and,
// if notice->text is not null, its text. A text larger than the last
// DlGetJobNoticeSize answered (the notice came after that call) is refused:
// DL_ERR_GENERAL, nothing written, the notice stays; size again and retry.
int DlPopJobNotice(int job, DlNotice* notice);
// Takes the oldest file-done record; none queued leaves *record untouched.
int DlPopJobFileDone(int job, DlFileDone* record);
// The job's current progress.
int DlGetJobProgress(int job, DlProgress* record);
// The size record of DL_EVENT_JOB_SIZE, once: a second call copies nothing.
int DlGetJobSizeInfo(int job, DlSizeInfo* record);
// The completion record of DL_EVENT_JOB_COMPLETE, once.
int DlGetJobResult(int job, DlJobResult* record);
// The engine update's latest report, as DL_EVENT_UPDATE_BEGIN and
// DL_EVENT_UPDATE_PROGRESS announce it: the file's name (the part of its URL
// after the last '/', at most 65 characters), its size and the bytes held.
// A record of zeros before the update has reported a file. It stays until
// the next run of the update begins (after the engine was lost and is
// started again).
int DlGetEngineUpdate(DlEngineUpdate* record);
// Which downloader holds the job now (DL_PATH_ENGINE, DL_PATH_PLAIN); for a
// job no downloader holds (stopped, completed), the one that last started
// it; DL_PATH_NONE for a job never started.
int DlGetJobPath(int job, int* path);
// The userData of the last DlInitialize; null after DlFinalize.
const void* DlGetUserData();

#pragma once
// The download service's flat interface: the only way a front end (the GUI,
// the command-line program, tests) reaches the service.
//
// Contract:
// - Every function is called on the application's thread; only DlInitialize
//   and DlFinalize start and end the service. Every function but those two
//   and DlGetUserData answers DL_ERR_GENERAL (517) while the service is not
//   running.
// - Events reach the application twice: as WM_DL_EVENT posted to the window
//   given to DlInitialize (wParam: event code, lParam: the job handle or 0),
//   and as a call of the callback on the service thread, inside the service's
//   own processing. The callback must return quickly and must not call
//   DlFinalize. An event carries no payload: the application fetches it with
//   the query function of the event, into memory it owns.
// - Strings are NUL-terminated narrow strings in the locale's encoding.

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

struct DlDataBuffer { void* data; long long size; };
struct DlNotice     { int code; char* text; };
struct DlFileDone   { int fileCount; int sequence; char text[1024]; };
struct DlSizeInfo   { int fileCount; long long totalBytes; };
struct DlJobResult  { int fileCount; int valueA; int valueB; };
struct DlProgress   { long long totalBytes; long long bytesPresent; int fileCount; int filesDone; int speed;
                      long long elapsedSeconds; long long remainingSeconds; int percent; int fileIndex;
                      long long fileSize; long long fileBytesPresent; long long speed64;
                      long long remainingSeconds64; int filePercent; char fileName[66]; };

typedef void (*DlEventCallback)(int code, int param, const void* userData);

int DlInitialize(HWND window, DlEventCallback callback, const void* userData);   // passes 1 as the elevation flag
int DlInitialize(HWND window, DlEventCallback callback, const void* userData, unsigned char elevate);
int DlFinalize();
int DlFetchData(const char* url);
int DlGetFetchedSize(long long* size);
int DlGetFetchedData(DlDataBuffer* buffer);
int DlAddSizeCheckUrl(const char* url);
int DlStartSizeCheck();
int DlGetSizeCheckTotal(long long* total);
int DlSetServiceId(const char* id);
int DlCreateJob(int* job, const char* tag, const char* serviceId);
int DlSetJobEngineFlag(int job);
int DlAddJobFile(int job, const char* url, const char* folder, const char* name,
                 unsigned int sizeLow, int sizeHigh, int flagA);               // passes 0 as flag b
int DlAddJobFile(int job, const char* url, const char* folder, const char* name,
                 unsigned int sizeLow, int sizeHigh, int flagA, int flagB);
int DlStartJob(int job, unsigned char mode);
int DlStopJob(int job);
int DlStopJob(int job, int ignored);
int DlRemoveJob(int job);
int DlAnswerResume(int job, unsigned char resume, unsigned char applyToAll);
int DlGetJobRemaining(int job, long long* remaining);
int DlGetJobNoticeSize(int job, int* size);
int DlPopJobNotice(int job, DlNotice* notice);
int DlPopJobFileDone(int job, DlFileDone* record);
int DlGetJobProgress(int job, DlProgress* record);
int DlGetJobSizeInfo(int job, DlSizeInfo* record);
int DlGetJobResult(int job, DlJobResult* record);
const void* DlGetUserData();

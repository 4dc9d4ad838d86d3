// The plain transfer session against scripted servers: what it asks for,
// what it writes where, and when it retries, moves on, or gives up.

#include "ScriptedConnection.h"
#include "netlib/core/cpCMutex.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "netlib/runtime/cpCTimerManager.h"
#include "platform/CodePage.h"
#include "engine/ActivityLog.h"
#include "service/CPartFileRecord.h"
#include "service/CPlatformSession.h"
#include "platform/FileSystem.h"
#include "unit/RuntimeTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kBody = "0123456789";
const char* const kUrl = "http://files.test/a.bin";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadLog()
{
    char path[4096];
    LogPath(path, sizeof path);
    return ReadFile(path);
}

// Records the session's reports; opened files and progress are counted, the
// rest kept in order.
class Listener : public IPlatFormSessionEventListener {
public:
    void OnAllFilesDone(void* context) override { Record(context, "all"); }
    void OnTransferFailed(void* context, const char* text) override { Record(context, std::string("failed:") + text); }
    void OnFileDone(void* context, const CJobFile& file) override { Record(context, "done:" + file.name); }
    void OnProgress(void* context) override
    {
        ++progress;
        Hook(context, "progress");
    }
    void OnFileOpened(void* context, const char* path) override
    {
        opened.push_back(path);
        Hook(context, "opened");
    }
    void OnNotice(void* context, int code, const char* text) override
    {
        Record(context, "notice:" + std::to_string(code) + ":" + text);
    }

    std::vector<std::string> events;
    std::vector<std::string> opened;
    int progress = 0;
    // Runs after each report with its name ("done:a.bin", "progress", ...).
    std::function<void(const std::string&)> hook;

private:
    void Record(void* context, const std::string& event)
    {
        events.push_back(event);
        Hook(context, event);
    }
    void Hook(void* context, const std::string& event)
    {
        EXPECT_EQ(context, this);
        if (hook) hook(event);
    }
};

std::unique_ptr<CJobFile> File(const std::string& url, const std::string& folder, const std::string& name)
{
    auto file = std::make_unique<CJobFile>();
    file->url = url;
    file->folder = folder;
    file->name = name;
    memcpy(file->serviceId, "svc", 4);
    file->size = 10;
    return file;
}

// A part left by an earlier run, with its record.
void WritePart(const std::string& path, const std::string& content, const std::string& url, int64_t total,
               const std::string& validator)
{
    WriteFile(path + ".part", content);
    if (validator.empty()) return;
    ASSERT_TRUE((CPartFileRecord{url, total, validator}.Save(path + ".part")));
}

class PlatformSession : public testing::Test {
protected:
    void SetUp() override
    {
        SetSystemCodeSetForTesting("UTF-8");
        ScriptedConnection::Install();
        LogReset();
        testrt::g_nowMs = testrt::At(1700049600);
        cpSetClockForTesting(&testrt::TestClock);
        lock.CreateInstance(CLSID_cpCMutex);
        ASSERT_EQ(cpCTimerManager::Create(lock.As<cpCMutex>()), VQ_OK_PLATFORM);
        folder = std::string(getenv("HOME")) + "/dl/" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        session.reset();
        cpCTimerManager::Destroy();
        cpSetClockForTesting(nullptr);
        ScriptedConnection::Uninstall();
        SetSystemCodeSetForTesting(nullptr);
    }
    // Lets the clock run in timer ticks for ms milliseconds.
    static void Elapse(uint64_t ms)
    {
        for (uint64_t passed = 0; passed < ms; passed += cpCTimerManager::kTickPeriodMs) {
            testrt::g_nowMs += cpCTimerManager::kTickPeriodMs;
            cpCTimerManager::Get()->Tick();
        }
    }
    // Lets the clock run until the session makes its next connection (a
    // retry waits), at most a minute; the milliseconds it waited.
    static uint64_t AwaitConnection(size_t count)
    {
        uint64_t waited = 0;
        while (ScriptedConnection::Count() < count && waited <= 61000) {
            Elapse(cpCTimerManager::kTickPeriodMs);
            waited += cpCTimerManager::kTickPeriodMs;
        }
        return waited;
    }
    void Start(std::vector<std::unique_ptr<CJobFile>> list, int mode = 1)
    {
        files = std::move(list);
        session = std::make_unique<CPlatformSession>();
        session->SetListener(&listener, &listener);
        session->SetMode(mode);
        session->Begin(files);
    }
    void StartOne(const std::string& url = kUrl) { Start(Files(url, "a.bin")); }
    std::vector<std::unique_ptr<CJobFile>> Files(const std::string& url, const std::string& name)
    {
        std::vector<std::unique_ptr<CJobFile>> list;
        list.push_back(File(url, folder, name));
        return list;
    }
    static ScriptedConnection& Last() { return ScriptedConnection::At(ScriptedConnection::Count() - 1); }

    vqSmartPtr lock;
    std::string folder;
    std::vector<std::unique_ptr<CJobFile>> files;
    Listener listener;
    std::unique_ptr<CPlatformSession> session;
};

// One step of a scripted server: what the connection just made answers.
struct Step {
    std::string answer; // empty: the connect is refused
    bool closeAfter = false;
};

struct AnswerCase {
    const char* name;
    std::string onDisk;     // the final file's content before the transfer
    std::string partOnDisk; // a part left by an earlier run
    std::string validator;  // its record's validator ("" for no record)
    std::vector<Step> steps;
    std::vector<std::string> ranges; // the Range of each request
    std::string expectedFile;        // under the final name
    std::vector<std::string> expectedEvents;
    long long expectedPresent;
};

std::string Ok(const std::string& body) { return HttpAnswer("200 OK", {"Content-Length: " + std::to_string(body.size())}, body); }
std::string Partial(const std::string& range, const std::string& body)
{
    return HttpAnswer("206 Partial Content", {"Content-Range: " + range, "Content-Length: " + std::to_string(body.size())}, body);
}

} // namespace

TEST_F(PlatformSession, AnswersDecideWhatIsWrittenWhereAndWhatFollows)
{
    const std::string failed = std::string("failed:") + kUrl;
    const std::string none = HttpAnswer("416 Range Not Satisfiable", {"Content-Range: bytes */10", "Content-Length: 0"});
    const std::string wrongStart = Partial("bytes 0-9/10", kBody);
    const std::string server = HttpAnswer("500 Internal Server Error", {"Content-Length: 0"});
    const std::string v1 = "\"v1\"";
    const AnswerCase cases[] = {
        {"a new file", "", "", "", {{Ok(kBody)}}, {"bytes=0-"}, kBody, {"done:a.bin", "all"}, 10},
        {"a part resumed under its record", "", "0123", v1, {{Partial("bytes 4-9/10", "456789")}}, {"bytes=4-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"a part without a record starts over", "", "XXXX", "", {{Ok(kBody)}}, {"bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"a final file is replaced, not resumed", "0123", "", "", {{Ok(kBody)}}, {"bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"a server that ignores the range", "", "XXXX", v1, {{Ok(kBody)}}, {"bytes=4-"}, kBody, {"done:a.bin", "all"}, 10},
        {"416 on a whole part", "", kBody, v1, {{none}}, {"bytes=10-"}, kBody, {"done:a.bin", "all"}, 10},
        {"416 of another total", "", "0123", v1,
         {{HttpAnswer("416 Range Not Satisfiable", {"Content-Range: bytes */3", "Content-Length: 0"})}, {Ok(kBody)}},
         {"bytes=4-", "bytes=0-"}, kBody, {"done:a.bin", "all"}, 10},
        {"a drop mid-body then resumption", "", "", "", {{Ok(kBody).substr(0, Ok(kBody).size() - 6), true}, {Partial("bytes 4-9/10", "456789")}},
         {"bytes=0-", "bytes=4-"}, kBody, {"done:a.bin", "all"}, 10},
        {"206 from another offset", "", "0123", v1, {{wrongStart}, {wrongStart}, {wrongStart}},
         {"bytes=4-", "bytes=4-", "bytes=4-"}, "", {failed + ": HTTP 206 Partial Content for another range than the one asked for"}, 4},
        {"404 is not retried", "", "", "", {{HttpAnswer("404 Not Found", {"Content-Length: 0"})}}, {"bytes=0-"}, "", {failed + ": HTTP 404 Not Found"}, 0},
        {"500 is retried", "", "", "", {{server}, {server}, {Ok(kBody)}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"no Content-Length", "", "", "", {{HttpAnswer("200 OK", {}, "01"), true}, {HttpAnswer("200 OK", {}, "01"), true},
         {HttpAnswer("200 OK", {}, "01"), true}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, "", {failed + ": HTTP 200 OK without a Content-Length"}, 0},
        {"refused three times", "", "", "", {{""}, {""}, {""}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, "", {failed + ": connection refused"}, 0},
        {"an idle connection", "", "", "", {{Ok(kBody).substr(0, 20)}, {Ok(kBody)}}, {"bytes=0-", "bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        listener = Listener();
        const std::string path = folder + "a.bin";
        if (!c.onDisk.empty()) WriteFile(path, c.onDisk);
        if (!c.partOnDisk.empty()) WritePart(path, c.partOnDisk, kUrl, 10, c.validator);
        StartOne();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            AwaitConnection(i + 1);
            ASSERT_EQ(ScriptedConnection::Count(), i + 1);
            ScriptedConnection& connection = Last();
            EXPECT_EQ(connection.RequestHeader("Range"), c.ranges.at(i));
            // A part is resumed only on the server's word that it is the same file.
            EXPECT_EQ(connection.RequestHeader("If-Range"), c.ranges.at(i) != "bytes=0-" && !c.validator.empty() ? v1 : "(none)");
            if (c.steps[i].answer.empty()) {
                connection.RefuseConnect();
                continue;
            }
            connection.Answer(c.steps[i].answer);
            if (c.steps[i].closeAfter) connection.PeerClose();
            else if (i + 1 < c.steps.size()) connection.IdleTimeout();
        }
        AwaitConnection(c.steps.size() + 1);
        EXPECT_EQ(ScriptedConnection::Count(), c.steps.size());
        EXPECT_EQ(listener.events, c.expectedEvents);
        EXPECT_EQ(PathExists(path) ? ReadFile(path) : std::string(), c.expectedFile.empty() ? c.onDisk : c.expectedFile);
        // Done: no part is left behind.
        if (c.expectedEvents.back() == "all") {
            EXPECT_FALSE(PathExists(path + ".part"));
        }
        EXPECT_EQ(session->GetBytesPresent(), c.expectedPresent);
    }
}

TEST_F(PlatformSession, EachConnectionIsThrottledByTheJobsMode)
{
    const std::pair<int, int32_t> modes[] = {{0, 393216}, {1, 104857600}, {2, 104857600}};
    for (const auto& [mode, budget] : modes) {
        SCOPED_TRACE(mode);
        ScriptedConnection::Install();
        Start(Files(kUrl, "a.bin"), mode);
        ASSERT_EQ(ScriptedConnection::Count(), 1u);
        const ScriptedConnection& connection = Last();
        EXPECT_EQ(connection.openAction, 5);
        EXPECT_EQ(connection.action, 6); // receive-only, a budget of its own
        EXPECT_EQ(connection.receiveLimit, budget);
        EXPECT_EQ(connection.eventMask, 5u);
        EXPECT_EQ(connection.connectTimeout, 3);
        EXPECT_EQ(connection.idleLimit, 3);
        EXPECT_EQ(connection.host, "files.test");
        EXPECT_EQ(connection.Target(), "/a.bin");
    }
}

TEST_F(PlatformSession, AlternativesAreTriedInOrderThreeTimesEach)
{
    const std::string entry = std::string(kUrl) + "|http://mirror.test/m/a.bin";
    StartOne(entry);
    for (size_t i = 1; i <= 3; ++i) {
        AwaitConnection(i);
        Last().RefuseConnect();
    }
    // The next alternative is tried at once: its server is not the one refusing.
    ASSERT_EQ(ScriptedConnection::Count(), 4u);
    EXPECT_EQ(Last().host, "mirror.test");
    EXPECT_EQ(Last().Target(), "/m/a.bin");
    EXPECT_TRUE(listener.events.empty()); // no notice while an alternative is left
    Last().Answer(Ok(kBody));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "all"}));
    EXPECT_EQ(ReadFile(folder + "a.bin"), kBody);

    // Both alternatives refusing: the failure names the last one, after six connections.
    ScriptedConnection::Install();
    listener = Listener();
    std::filesystem::remove(folder + "a.bin");
    StartOne(entry);
    for (size_t i = 1; i <= 6; ++i) {
        AwaitConnection(i);
        EXPECT_TRUE(listener.events.empty());
        Last().RefuseConnect();
    }
    EXPECT_EQ(ScriptedConnection::Count(), 6u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://mirror.test/m/a.bin: connection refused"}));
    EXPECT_NE(ReadLog().find("[MeshpullLib] TryMax Over : http://mirror.test/m/a.bin\r\n"), std::string::npos);
}

TEST_F(PlatformSession, AHostThatDoesNotResolveIsGivenUpWithoutWaitingForEvents)
{
    StartOne("http://nowhere.test/a.bin|http://nowhere.test/b.bin");
    EXPECT_EQ(ScriptedConnection::Count(), 6u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://nowhere.test/b.bin: host nowhere.test not found"}));
}

TEST_F(PlatformSession, RedirectsAreFollowedWithinTheirBound)
{
    StartOne();
    Last().Answer(HttpAnswer("302 Found", {"Location: /moved/a%20b.bin", "Content-Length: 0"}));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(Last().Target(), "/moved/a%20b.bin");
    // The redirect starts the attempts anew: two refusals are not the end.
    Last().RefuseConnect();
    AwaitConnection(3);
    Last().RefuseConnect();
    AwaitConnection(4);
    ASSERT_EQ(ScriptedConnection::Count(), 4u);
    Last().Answer(HttpAnswer("303 See Other", {"Location: http://mirror.test/final.bin"}));
    EXPECT_EQ(Last().host, "mirror.test");
    Last().Answer(Ok(kBody));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "all"}));
    EXPECT_EQ(ReadFile(folder + "a.bin"), kBody);

    // A redirect loop ends after the bound.
    ScriptedConnection::Install();
    listener = Listener();
    StartOne();
    for (int i = 0; i <= CPlatformSession::kMaxRedirects; ++i) {
        ASSERT_EQ(ScriptedConnection::Count(), size_t(i) + 1);
        Last().Answer(HttpAnswer("302 Found", {"Location: http://files.test/loop"}));
    }
    EXPECT_EQ(ScriptedConnection::Count(), size_t(CPlatformSession::kMaxRedirects) + 1);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://files.test/loop: more than 10 redirects"}));
}

TEST_F(PlatformSession, ARedirectWithoutLocationGivesUp)
{
    StartOne();
    Last().Answer(HttpAnswer("302 Found", {"Content-Length: 0"}));
    EXPECT_EQ(ScriptedConnection::Count(), 1u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{std::string("failed:") + kUrl}));
    EXPECT_NE(ReadLog().find(std::string("[MeshpullLib] eNWHSC_HTTP_SEEOTHER  : ") + kUrl), std::string::npos);
}

TEST_F(PlatformSession, NamesThatWouldLeaveTheFolderAreRefused)
{
    for (const char* name : {"..", ".", "", "sub/a.bin", "../a.bin"}) {
        SCOPED_TRACE(name);
        ScriptedConnection::Install();
        listener = Listener();
        Start(Files(kUrl, name));
        EXPECT_EQ(ScriptedConnection::Count(), 0u);
        // A local failure names the path and the reason, not the server.
        EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:" + folder + name + ": Invalid argument"}));
        EXPECT_NE(ReadLog().find("[MeshpullLib] CreateFile Failed(22) : " + folder + name + "\r\n"), std::string::npos);
    }
}

TEST_F(PlatformSession, AFileThatCannotBeOpenedEndsTheTransfer)
{
    std::filesystem::create_directories(folder + "a.bin"); // a directory stands where the file goes
    StartOne();
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:" + folder + "a.bin: Is a directory"}));
    const std::string log = ReadLog();
    EXPECT_NE(log.find("[MeshpullLib] CreateFile Failed(21) : " + folder + "a.bin\r\n"), std::string::npos);
    EXPECT_NE(log.find(std::string("[MeshpullLib] WriteFileOpen Failed : ") + kUrl + "\r\n"), std::string::npos);
}

TEST_F(PlatformSession, AFullDiskFailsTheFileInsteadOfFinishingIt)
{
    // Every write to /dev/full fails with "no space left on device".
    std::vector<std::unique_ptr<CJobFile>> list;
    list.push_back(File(kUrl, "/dev/", "full"));
    Start(std::move(list));
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    Last().Answer(Ok(kBody));
    EXPECT_EQ(listener.events,
              (std::vector<std::string>{std::string("notice:513:") + kUrl, std::string("failed:") + kUrl}));
    EXPECT_TRUE(Last().closed);
}

TEST_F(PlatformSession, FilesFollowOneAnotherAndTheTransferredOnesAreListed)
{
    const std::string longUrl = "http://files.test/" + std::string(300, 'x');
    std::vector<std::unique_ptr<CJobFile>> list;
    list.push_back(File("http://files.test/a.bin", folder, "a.bin"));
    list.push_back(File(longUrl, folder + "sub/deeper", "b.bin"));
    list.back()->size = 3;
    list.push_back(File("http://files.test/c.bin", folder, "c.bin"));
    // c.bin is whole already in a part its record vouches for.
    WritePart(folder + "c.bin", kBody, "http://files.test/c.bin", 10, "\"v1\"");
    Start(std::move(list));
    Last().Answer(Ok(kBody));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(session->GetCurrentFile()->name, "b.bin");
    Last().Answer(Ok("xyz"));
    ASSERT_EQ(ScriptedConnection::Count(), 3u);
    EXPECT_EQ(Last().RequestHeader("If-Range"), "\"v1\"");
    Last().Answer(HttpAnswer("416 Range Not Satisfiable", {"Content-Range: bytes */10"}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "done:b.bin", "done:c.bin", "all"}));
    EXPECT_EQ(ReadFile(folder + "c.bin"), kBody);
    EXPECT_EQ(session->GetCurrentFile(), nullptr);
    EXPECT_EQ(ReadFile(folder + "sub/deeper/b.bin"), "xyz");
    EXPECT_EQ(session->GetBytesPresent(), 23);

    std::vector<unsigned char> entries;
    ASSERT_EQ(session->ListTransferredFiles(&entries), 2); // c.bin received nothing
    ASSERT_EQ(entries.size(), 2 * kAgentEntrySize);
    const unsigned char* second = entries.data() + kAgentEntrySize;
    EXPECT_STREQ(reinterpret_cast<const char*>(second), "svc");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second + 33)), longUrl.substr(0, 255));
    int64_t bytes = 0;
    memcpy(&bytes, second + 289, 8);
    EXPECT_EQ(bytes, 3);
    EXPECT_EQ(second[297], 1);
    EXPECT_EQ(session->ListTransferredFiles(nullptr), 2);
}

TEST_F(PlatformSession, ARetriedFileIsCountedOnceInTheBytesPresent)
{
    const std::string body(300, 'z');
    std::vector<std::unique_ptr<CJobFile>> list = Files(kUrl, "a.bin");
    list.back()->size = 300;
    Start(std::move(list));
    Last().Answer(HttpAnswer("200 OK", {"Content-Length: 300"}, body.substr(0, 100)));
    EXPECT_EQ(session->GetBytesPresent(), 100);
    Last().PeerClose();
    AwaitConnection(2);
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(session->GetBytesPresent(), 100);
    EXPECT_EQ(session->GetCurrentFile()->startOffset, 100);
    Last().Answer(Partial("bytes 100-299/300", body.substr(100)));
    EXPECT_EQ(session->GetBytesPresent(), 300);
    EXPECT_EQ(ReadFile(folder + "a.bin"), body);
    std::vector<unsigned char> entries;
    ASSERT_EQ(session->ListTransferredFiles(&entries), 1);
    int64_t bytes = 0;
    memcpy(&bytes, entries.data() + 289, 8);
    EXPECT_EQ(bytes, 300);
}

TEST_F(PlatformSession, TheListenerMayDestroyTheSessionInsideAnyReport)
{
    for (const char* dieAt : {"opened", "progress", "done:a.bin", "notice:513:http://files.test/a.bin"}) {
        SCOPED_TRACE(dieAt);
        ScriptedConnection::Install();
        listener = Listener();
        listener.hook = [&](const std::string& event) {
            if (event == dieAt) session.reset();
        };
        std::vector<std::unique_ptr<CJobFile>> list;
        list.push_back(File(kUrl, std::string(dieAt).rfind("notice", 0) == 0 ? "/dev/" : folder,
                            std::string(dieAt).rfind("notice", 0) == 0 ? "full" : "a.bin"));
        list.push_back(File("http://files.test/b.bin", folder, "b.bin"));
        files = std::move(list);
        session = std::make_unique<CPlatformSession>();
        session->SetListener(&listener, &listener);
        session->Begin(files);
        if (session) Last().Answer(Ok(kBody));
        EXPECT_EQ(session, nullptr);
        // Nothing more is asked of the network once the session is gone.
        const bool beforeConnecting = std::string(dieAt) == "opened";
        ASSERT_EQ(ScriptedConnection::Count(), beforeConnecting ? 0u : 1u);
        EXPECT_TRUE(beforeConnecting || Last().closed);
    }
}

namespace {

// One step of a hostile or broken server.
struct FaultStep {
    FaultStep(std::string answer, bool close = false, uint64_t elapseMs = 0, std::string later = "")
        : answer(std::move(answer)), close(close), elapseMs(elapseMs), later(std::move(later))
    {
    }
    std::string answer; // empty: the connect is refused
    bool close;         // the peer closes after answering
    uint64_t elapseMs;  // then the clock runs this long
    std::string later;  // bytes the peer sends halfway through that time
};

struct FaultCase {
    const char* name;
    long long knownSize;     // what the size check found
    std::string finalOnDisk; // under the final name before the transfer
    std::string partOnDisk;  // a part of an earlier run, with a record when validator is set
    int64_t recordTotal;
    std::string validator;
    std::vector<FaultStep> steps;
    bool done;                 // otherwise the transfer fails and no file is under the final name
    uint64_t minWaitBeforeLast; // the pause before the last connection, at least
};

} // namespace

// Every fault a server can show the plain path: afterwards the file under its
// final name is the server's, byte for byte, or there is none.
TEST_F(PlatformSession, NoFaultOfTheServerLeavesAWrongFileUnderTheFinalName)
{
    const std::string v1 = "\"v1\"";
    const std::string body = kBody;
    auto ok = [](const std::vector<std::string>& fields, const std::string& b) { return HttpAnswer("200 OK", fields, b); };
    const std::string fail503 = HttpAnswer("503 Busy", {"Retry-After: 5", "Content-Length: 0"});
    const FaultCase cases[] = {
        {"a same-size final file of another version", 10, "ABCDEFGHIJ", "", 0, "", {{Ok(body)}}, true, 0},
        {"a shorter final file is not spliced", 10, "0123", "", 0, "", {{Ok(body)}}, true, 0},
        {"a part whose record names another total", 10, "", "0123", 12, v1, {{Ok(body)}}, true, 0},
        {"a part whose record names another URL", 10, "", "0123", 10, "", {{Ok(body)}}, true, 0},
        {"the server's file changed (If-Range answered whole)", 10, "", "abcd", 10, v1,
         {{ok({"Content-Length: 10", "ETag: \"v2\""}, body)}}, true, 0},
        {"a non-numeric Content-Length", 10, "", "", 0, "", {{ok({"Content-Length: ten"}, body)}}, false, 0},
        {"a negative Content-Length", 10, "", "", 0, "", {{ok({"Content-Length: -10"}, body)}}, false, 0},
        {"two Content-Lengths that disagree", 10, "", "", 0, "",
         {{ok({"Content-Length: 4", "Content-Length: 10"}, body)}}, false, 0},
        {"a length hint is no length", 10, "", "", 0, "",
         {{ok({"Content-Length-Hint: 4"}, "0123"), true}, {ok({"Content-Length-Hint: 4"}, "0123"), true},
          {ok({"Content-Length-Hint: 4"}, "0123"), true}}, false, 0},
        {"a 206 that covers part of the range is continued", 10, "", "", 0, "",
         {{Partial("bytes 0-3/10", "0123")}, {Partial("bytes 4-9/10", "456789")}}, true, 0},
        {"a 416 whose total is not the part's", 10, "", "0123", 10, v1,
         {{HttpAnswer("416 Range Not Satisfiable", {"Content-Range: bytes */4"})}, {Ok(body)}}, true, 1000},
        {"a 206 of another total restarts the file", 10, "", "0123", 10, v1,
         {{Partial("bytes 4-9/12", "456789")}, {Ok(body)}}, true, 1000},
        {"a 206 with another validator restarts the file", 10, "", "0123", 10, v1,
         {{HttpAnswer("206 Partial Content", {"Content-Range: bytes 4-9/10", "Content-Length: 6", "ETag: \"v2\""}, "456789")},
          {Ok(body)}}, true, 1000},
        {"more bytes than announced are not written", 10, "", "", 0, "", {{ok({"Content-Length: 10"}, body + "EXTRA")}}, true, 0},
        {"503 with Retry-After is honoured", 10, "", "", 0, "", {{fail503}, {Ok(body)}}, true, 5000},
        {"a Retry-After longer than a file may go without data gives up at once", 10, "", "", 0, "",
         {{HttpAnswer("503 Busy", {"Retry-After: 86400", "Content-Length: 0"})}}, false, 0},
        {"a cut connection waits before its retry", 10, "", "", 0, "",
         {{Ok(body).substr(0, Ok(body).size() - 3), true}, {Partial("bytes 7-9/10", "789")}}, true, 1000},
        {"a trickling server is a failed attempt", 10, "", "", 0, "",
         {{Ok(body).substr(0, Ok(body).size() - 9), false, CPlatformSession::kFloorWindowMs + 1000, body.substr(1, 1)},
          {Partial("bytes 2-9/10", body.substr(2))}}, true, 0},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        listener = Listener();
        const std::string path = folder + "a.bin";
        if (!c.finalOnDisk.empty()) WriteFile(path, c.finalOnDisk);
        if (!c.partOnDisk.empty()) {
            WriteFile(path + ".part", c.partOnDisk);
            const std::string url = std::string(c.name).find("URL") != std::string::npos ? "http://files.test/other" : kUrl;
            if (c.recordTotal > 0) {
                ASSERT_TRUE((CPartFileRecord{url, c.recordTotal, c.validator.empty() ? v1 : c.validator}.Save(path + ".part")));
            }
        }
        std::vector<std::unique_ptr<CJobFile>> list;
        list.push_back(File(kUrl, folder, "a.bin"));
        list.back()->size = c.knownSize;
        Start(std::move(list));
        uint64_t waited = 0;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            waited = AwaitConnection(i + 1);
            ASSERT_EQ(ScriptedConnection::Count(), i + 1);
            if (c.steps[i].answer.empty()) {
                Last().RefuseConnect();
                continue;
            }
            Last().Answer(c.steps[i].answer);
            if (c.steps[i].close) Last().PeerClose();
            Elapse(c.steps[i].elapseMs / 2);
            if (!c.steps[i].later.empty()) Last().Answer(c.steps[i].later);
            Elapse(c.steps[i].elapseMs - c.steps[i].elapseMs / 2);
        }
        EXPECT_GE(waited, c.minWaitBeforeLast);
        AwaitConnection(c.steps.size() + 1);
        EXPECT_EQ(ScriptedConnection::Count(), c.steps.size());
        if (c.done) {
            EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "all"}));
            EXPECT_EQ(ReadFile(path), body);
            EXPECT_FALSE(PathExists(path + ".part"));
            EXPECT_FALSE(PathExists(path + ".part.state"));
        } else {
            // The failure names the URL and a cause after it.
            ASSERT_EQ(listener.events.size(), 1u);
            EXPECT_EQ(listener.events[0].rfind(std::string("failed:") + kUrl + ": ", 0), 0u) << listener.events[0];
            EXPECT_GT(listener.events[0].size(), std::string("failed:").size() + strlen(kUrl) + 2);
            EXPECT_FALSE(PathExists(path));
        }
    }
}

// However many alternatives and attempts a file has, it goes without data
// for kMaxSilenceSeconds at most; a server that asks for a longer pause is
// not waited for.
TEST_F(PlatformSession, AFileGoesWithoutDataForABoundedTimeOnly)
{
    const std::string busy20 = HttpAnswer("503 Busy", {"Retry-After: 20", "Content-Length: 0"});
    const std::string busyDay = HttpAnswer("503 Busy", {"Retry-After: 86400", "Content-Length: 0"});
    const uint64_t bound = CPlatformSession::kMaxSilenceSeconds * 1000ull;
    struct Case {
        const char* name;
        int mirrors;        // alternatives of the entry
        std::string answer; // of every connection; "": accepted, then nothing
        uint64_t maxMs;     // the file is given up within this long
        const char* logged;
    };
    const Case cases[] = {
        {"eight mirrors that accept and never answer", 8, "", bound + 1000, "[MeshpullLib] No Data For 30 s : http://files.test/m3/a.bin"},
        {"a Retry-After of a day", 1, busyDay, 0, "reason:ResCode:503 RetryAfter:86400 try:3 url:http://files.test/m1/a.bin"},
        {"a Retry-After of 20 s that would be asked again", 1, busy20, 20000, "[MeshpullLib] No Data For 30 s : http://files.test/m1/a.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        listener = Listener();
        std::string entry;
        for (int i = 1; i <= c.mirrors; ++i) entry += (i > 1 ? "|" : "") + std::string("http://files.test/m") + std::to_string(i) + "/a.bin";
        const uint64_t started = testrt::g_nowMs;
        StartOne(entry);
        size_t handled = 0;
        while (listener.events.empty() && testrt::g_nowMs - started <= 5 * bound) {
            if (ScriptedConnection::Count() == handled) {
                Elapse(cpCTimerManager::kTickPeriodMs);
                continue;
            }
            ScriptedConnection& connection = Last();
            ++handled;
            if (!c.answer.empty()) {
                connection.Answer(c.answer);
                continue;
            }
            Elapse(CPlatformSession::kTimeoutSeconds * 1000);
            connection.IdleTimeout();
        }
        ASSERT_EQ(listener.events.size(), 1u);
        EXPECT_EQ(listener.events[0].rfind("failed:", 0), 0u) << listener.events[0];
        EXPECT_LE(testrt::g_nowMs - started, c.maxMs);
        EXPECT_NE(ReadLog().find(c.logged), std::string::npos) << ReadLog();
        EXPECT_FALSE(PathExists(folder + "a.bin"));
    }
}

// An answer whose length is not the size the job holds (given, or found by
// its size check) is a failed attempt, never the file; when every attempt
// says so the failure names both sizes.
TEST_F(PlatformSession, ALengthThatIsNotTheKnownSizeIsAFailedAttemptNamingBothSizes)
{
    const std::string body = kBody;
    auto ok = [](const std::string& b) { return HttpAnswer("200 OK", {"Content-Length: " + std::to_string(b.size())}, b); };
    const std::string failed = std::string("failed:") + kUrl + ": the server's length ";
    struct Case {
        const char* name;
        long long jobSize;     // the job's own entry
        long long checkedSize; // what its size check found (-1: no check ran)
        std::vector<std::string> answers;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"Content-Length 0 for a non-empty file", 10, -1, {ok(""), ok(""), ok("")},
         {failed + "0 is not the file's size 10"}},
        {"a 200 shorter than the file", 10, -1, {ok("0123"), ok("0123"), ok("0123")},
         {failed + "4 is not the file's size 10"}},
        {"a 206 from byte 0 of a larger total", 10, -1,
         {Partial("bytes 0-11/12", "0123456789AB"), Partial("bytes 0-11/12", "0123456789AB"),
          Partial("bytes 0-11/12", "0123456789AB")},
         {failed + "12 is not the file's size 10"}},
        {"the size the check found, for a job without one", -1, 10, {ok("0123"), ok("0123"), ok("0123")},
         {failed + "4 is not the file's size 10"}},
        {"a later answer of the right length completes", 10, -1, {ok(""), ok(body)}, {"done:a.bin", "all"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        listener = Listener();
        const std::string path = folder + "a.bin";
        std::vector<std::unique_ptr<CJobFile>> list;
        list.push_back(File(kUrl, folder, "a.bin"));
        list.back()->size = c.jobSize;
        files = std::move(list);
        session = std::make_unique<CPlatformSession>();
        session->SetListener(&listener, &listener);
        if (c.checkedSize >= 0) session->SetKnownSizes({c.checkedSize});
        session->Begin(files);
        for (size_t i = 0; i < c.answers.size(); ++i) {
            AwaitConnection(i + 1);
            ASSERT_EQ(ScriptedConnection::Count(), i + 1);
            Last().Answer(c.answers[i]);
        }
        AwaitConnection(c.answers.size() + 1);
        EXPECT_EQ(ScriptedConnection::Count(), c.answers.size());
        EXPECT_EQ(listener.events, c.events);
        if (c.events.back() == "all") {
            EXPECT_EQ(ReadFile(path), body);
        } else {
            EXPECT_FALSE(PathExists(path));
            EXPECT_NE(ReadLog().find("Transfer Attempt Failed reason:OtherSize try:3"), std::string::npos);
        }
    }
}

// The engine keeps a file it gave up for a resume; once the plain path has
// the whole file those are stale, while a file that failed here too keeps them.
TEST_F(PlatformSession, TheEnginesFilesBesideAFileGoOnlyOnceTheFileIsWhole)
{
    const std::string path = folder + "a.bin";
    WriteFile(path + ".zdrpart", std::string(10, '\0'));
    WriteFile(path + ".zdrctl", "control");
    StartOne();
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    Last().Answer(HttpAnswer("404 Not Found", {"Content-Length: 0"}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{std::string("failed:") + kUrl + ": HTTP 404 Not Found"}));
    EXPECT_TRUE(PathExists(path + ".zdrpart"));
    EXPECT_TRUE(PathExists(path + ".zdrctl"));

    ScriptedConnection::Install();
    listener = Listener();
    StartOne();
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    Last().Answer(Ok(kBody));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "all"}));
    EXPECT_EQ(ReadFile(path), kBody);
    EXPECT_FALSE(PathExists(path + ".zdrpart"));
    EXPECT_FALSE(PathExists(path + ".zdrctl"));
}

TEST_F(PlatformSession, AFileAnotherDownloadHoldsIsRefusedAndLeftAlone)
{
    const std::string path = folder + "a.bin";
    WriteFile(path + ".part", "0123");
    COutputFile other;
    ASSERT_EQ(other.OpenLocked(path + ".part"), COutputFile::LockResult::kOpened);
    StartOne();
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:" + path + ".part: in use by another download"}));
    EXPECT_EQ(ReadFile(path + ".part"), "0123");
    EXPECT_FALSE(PathExists(path));
    other.Close();

    // Once the other download let go, the file is ours.
    ScriptedConnection::Install();
    listener = Listener();
    StartOne();
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    EXPECT_EQ(Last().RequestHeader("Range"), "bytes=0-"); // no record: the part starts over
    Last().Answer(Ok(kBody));
    EXPECT_EQ(ReadFile(path), kBody);
}

TEST_F(PlatformSession, LinksAtTheNamesOfOurTemporariesAreNotFollowed)
{
    // Someone who can write into the download folder puts links where the
    // part file and its record go: neither leads our writes elsewhere.
    const std::string path = folder + "a.bin";
    const std::string victim = folder + "../victim";
    WriteFile(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".part").c_str()), 0);
    StartOne();
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    ASSERT_EQ(listener.events.size(), 1u);
    EXPECT_EQ(listener.events[0].rfind("failed:" + path + ".part", 0), 0u) << listener.events[0];
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_FALSE(PathExists(path));

    std::filesystem::remove(path + ".part");
    ASSERT_EQ(symlink(victim.c_str(), (path + ".part.state").c_str()), 0);
    ScriptedConnection::Install();
    listener = Listener();
    StartOne();
    Last().Answer(HttpAnswer("200 OK", {"Content-Length: 10", "ETag: \"v1\""}, "0123"));
    session.reset();
    EXPECT_EQ(ReadFile(victim), "precious");
    EXPECT_FALSE(PathExists(path));
}

TEST_F(PlatformSession, ResumedBytesArePresentFromTheStartAndAreNotReceived)
{
    const std::string path = folder + "a.bin";
    WritePart(path, "0123", kUrl, 10, "\"v1\"");
    StartOne();
    EXPECT_EQ(session->GetBytesPresent(), 4);
    EXPECT_EQ(session->GetBytesResumed(), 4);
    Last().Answer(Partial("bytes 4-9/10", "456789"));
    EXPECT_EQ(session->GetBytesPresent(), 10);
    EXPECT_EQ(session->GetBytesResumed(), 4);
    std::vector<unsigned char> entries;
    ASSERT_EQ(session->ListTransferredFiles(&entries), 1);
    int64_t bytes = 0;
    memcpy(&bytes, entries.data() + 289, 8);
    EXPECT_EQ(bytes, 6);
}

TEST_F(PlatformSession, AStoppedTransferLeavesAResumablePartAndNoFinalFile)
{
    const std::string path = folder + "a.bin";
    StartOne();
    Last().Answer(HttpAnswer("200 OK", {"Content-Length: 10", "ETag: \"v1\""}, "0123"));
    session.reset();
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(ReadFile(path + ".part"), "0123");
    CPartFileRecord record;
    ASSERT_TRUE(record.Load(path + ".part"));
    EXPECT_EQ(record.url, kUrl);
    EXPECT_EQ(record.total, 10);
    EXPECT_EQ(record.validator, "\"v1\"");

    // Without a validator nothing could be resumed: no part is kept.
    ScriptedConnection::Install();
    std::filesystem::remove(path + ".part");
    CPartFileRecord::Remove(path + ".part");
    StartOne();
    Last().Answer(HttpAnswer("200 OK", {"Content-Length: 10"}, "0123"));
    session.reset();
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(PathExists(path + ".part"));
}

TEST_F(PlatformSession, PathsAndRedirectTargetsAreSentAsGiven)
{
    StartOne("http://files.test//dir//a%2Fb.bin");
    ASSERT_EQ(ScriptedConnection::Count(), 1u);
    EXPECT_EQ(Last().Target(), "//dir//a%2Fb.bin");
    // An escaped '/' in a redirect stays one: it is part of a name, no separator.
    Last().Answer(HttpAnswer("301 Moved Permanently", {"Location: /x%2Fy/a%20b.bin", "Content-Length: 0"}));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(Last().Target(), "/x%2Fy/a%20b.bin");
    Last().Answer(HttpAnswer("308 Permanent Redirect", {"Location: http://mirror.test/m/a.bin"}));
    ASSERT_EQ(ScriptedConnection::Count(), 3u);
    EXPECT_EQ(Last().host, "mirror.test");
    Last().Answer(Ok(kBody));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "all"}));
}

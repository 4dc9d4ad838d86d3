// The plain transfer session against scripted servers: what it asks for,
// what it writes where, and when it retries, moves on, or gives up.

#include "ScriptedConnection.h"
#include "netlib/layers/vqIAgentLayer.h"
#include "platform/CodePage.h"
#include "service/ActivityLog.h"
#include "service/CPlatformSession.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

class PlatformSession : public testing::Test {
protected:
    void SetUp() override
    {
        SetSystemCodeSetForTesting("UTF-8");
        ScriptedConnection::Install();
        LogReset();
        folder = std::string(getenv("HOME")) + "/dl/" + testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        std::filesystem::create_directories(folder);
    }
    void TearDown() override
    {
        session.reset();
        ScriptedConnection::Uninstall();
        SetSystemCodeSetForTesting(nullptr);
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
    std::string onDisk; // the file's content before the transfer
    std::vector<Step> steps;
    std::vector<std::string> ranges; // the Range of each request
    std::string expectedFile;
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
    const AnswerCase cases[] = {
        {"a new file", "", {{Ok(kBody)}}, {"bytes=0-"}, kBody, {"done:a.bin", "all"}, 10},
        {"a partial file resumed", "0123", {{Partial("bytes 4-9/10", "456789")}}, {"bytes=4-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"a server that ignores the range", "XXXX", {{Ok(kBody)}}, {"bytes=4-"}, kBody, {"done:a.bin", "all"}, 10},
        {"416 on a whole file", kBody, {{none}}, {"bytes=10-"}, kBody, {"done:a.bin", "all"}, 10},
        {"416 on a longer file", kBody + "AB", {{none}, {Ok(kBody)}}, {"bytes=12-", "bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"a drop mid-body then resumption", "", {{Ok(kBody).substr(0, Ok(kBody).size() - 6), true}, {Partial("bytes 4-9/10", "456789")}},
         {"bytes=0-", "bytes=4-"}, kBody, {"done:a.bin", "all"}, 10},
        {"206 from another offset", "0123", {{wrongStart}, {wrongStart}, {wrongStart}}, {"bytes=4-", "bytes=4-", "bytes=4-"},
         "0123", {failed}, 4},
        {"404 is not retried", "", {{HttpAnswer("404 Not Found", {"Content-Length: 0"})}}, {"bytes=0-"}, "", {failed}, 0},
        {"500 is retried", "", {{server}, {server}, {Ok(kBody)}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
        {"no Content-Length", "", {{HttpAnswer("200 OK", {}, "01"), true}, {HttpAnswer("200 OK", {}, "01"), true},
         {HttpAnswer("200 OK", {}, "01"), true}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, "", {failed}, 0},
        {"refused three times", "", {{""}, {""}, {""}}, {"bytes=0-", "bytes=0-", "bytes=0-"}, "", {failed}, 0},
        {"an idle connection", "", {{Ok(kBody).substr(0, 20)}, {Ok(kBody)}}, {"bytes=0-", "bytes=0-"}, kBody,
         {"done:a.bin", "all"}, 10},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        listener = Listener();
        const std::string path = folder + "a.bin";
        std::filesystem::remove(path);
        if (!c.onDisk.empty()) WriteFile(path, c.onDisk);
        StartOne();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            ASSERT_EQ(ScriptedConnection::Count(), i + 1);
            ScriptedConnection& connection = Last();
            EXPECT_EQ(connection.RequestHeader("Range"), c.ranges.at(i));
            if (c.steps[i].answer.empty()) {
                connection.RefuseConnect();
                continue;
            }
            connection.Answer(c.steps[i].answer);
            if (c.steps[i].closeAfter) connection.PeerClose();
            else if (i + 1 < c.steps.size()) connection.IdleTimeout();
        }
        EXPECT_EQ(ScriptedConnection::Count(), c.steps.size());
        EXPECT_EQ(listener.events, c.expectedEvents);
        EXPECT_EQ(ReadFile(path), c.expectedFile);
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
    for (int i = 0; i < 3; ++i) Last().RefuseConnect();
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
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(listener.events.empty());
        Last().RefuseConnect();
    }
    EXPECT_EQ(ScriptedConnection::Count(), 6u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://mirror.test/m/a.bin"}));
    EXPECT_NE(ReadLog().find("[MeshpullLib] TryMax Over : http://mirror.test/m/a.bin\r\n"), std::string::npos);
}

TEST_F(PlatformSession, AHostThatDoesNotResolveIsGivenUpWithoutWaitingForEvents)
{
    StartOne("http://nowhere.test/a.bin|http://nowhere.test/b.bin");
    EXPECT_EQ(ScriptedConnection::Count(), 6u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://nowhere.test/b.bin"}));
}

TEST_F(PlatformSession, RedirectsAreFollowedWithinTheirBound)
{
    StartOne();
    Last().Answer(HttpAnswer("302 Found", {"Location: /moved/a%20b.bin", "Content-Length: 0"}));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(Last().Target(), "/moved/a%20b.bin");
    // The redirect starts the attempts anew: two refusals are not the end.
    Last().RefuseConnect();
    Last().RefuseConnect();
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
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:http://files.test/loop"}));
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
        EXPECT_EQ(listener.events, (std::vector<std::string>{std::string("failed:") + kUrl}));
        EXPECT_NE(ReadLog().find("[MeshpullLib] CreateFile Failed(22) : " + folder + name + "\r\n"), std::string::npos);
    }
}

TEST_F(PlatformSession, AFileThatCannotBeOpenedEndsTheTransfer)
{
    std::filesystem::create_directories(folder + "a.bin"); // a directory stands where the file goes
    StartOne();
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{std::string("failed:") + kUrl}));
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
    list.push_back(File("http://files.test/c.bin", folder, "c.bin"));
    WriteFile(folder + "c.bin", kBody);
    Start(std::move(list));
    Last().Answer(Ok(kBody));
    ASSERT_EQ(ScriptedConnection::Count(), 2u);
    EXPECT_EQ(session->GetCurrentFile()->name, "b.bin");
    Last().Answer(Ok("xyz"));
    ASSERT_EQ(ScriptedConnection::Count(), 3u);
    Last().Answer(HttpAnswer("416 Range Not Satisfiable", {"Content-Range: bytes */10"}));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done:a.bin", "done:b.bin", "done:c.bin", "all"}));
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
    StartOne();
    Last().Answer(HttpAnswer("200 OK", {"Content-Length: 300"}, body.substr(0, 100)));
    EXPECT_EQ(session->GetBytesPresent(), 100);
    Last().PeerClose();
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

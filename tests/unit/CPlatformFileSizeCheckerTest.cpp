// The plain downloader's size check of a job against scripted servers: how
// many probes run, what each answer means, and what the checker reports.

#include "ScriptedConnection.h"
#include "platform/CodePage.h"
#include "service/CPlatformFileSizeChecker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

int64_t g_freeBytes = 1000;
int64_t FreeBytes(const std::string&)
{
    return g_freeBytes;
}

class Listener : public ICheckerEventListener {
public:
    void OnCheckDone(void* context, const CPlatformSizeCheckResult& done) override
    {
        EXPECT_EQ(context, this);
        events.push_back("done");
        result = done;
    }
    void OnCheckFailed(void* context, int code, const char* text) override
    {
        EXPECT_EQ(context, this);
        events.push_back("failed:" + std::to_string(code) + ":" + text);
        if (destroyOnFailure) destroyOnFailure();
    }

    std::vector<std::string> events;
    CPlatformSizeCheckResult result;
    std::function<void()> destroyOnFailure;
};

class PlatformFileSizeChecker : public testing::Test {
protected:
    void SetUp() override
    {
        SetSystemCodeSetForTesting("UTF-8");
        ScriptedConnection::Install();
        g_freeBytes = 1000;
        CPlatformFileSizeCheckSession::SetFreeSpaceSourceForTesting(&FreeBytes);
    }
    void TearDown() override
    {
        checker.reset();
        CPlatformFileSizeCheckSession::SetFreeSpaceSourceForTesting(nullptr);
        ScriptedConnection::Uninstall();
        SetSystemCodeSetForTesting(nullptr);
    }
    void Add(const std::string& url, long long size = -1, long long done = 0)
    {
        auto file = std::make_unique<CJobFile>();
        file->url = url;
        file->folder = "/tmp/zdr/";
        file->name = "f" + std::to_string(files.size());
        file->size = size;
        file->bytesDone = done;
        files.push_back(std::move(file));
    }
    void Begin()
    {
        checker = std::make_unique<CPlatformFileSizeChecker>();
        checker->SetListener(&listener, &listener);
        listener.destroyOnFailure = [this] { checker.reset(); };
        checker->Begin(files);
    }
    static ScriptedConnection& Last() { return ScriptedConnection::At(ScriptedConnection::Count() - 1); }

    std::vector<std::unique_ptr<CJobFile>> files;
    Listener listener;
    std::unique_ptr<CPlatformFileSizeChecker> checker;
};

std::string Length(int64_t length)
{
    return HttpAnswer("200 OK", {"Content-Length: " + std::to_string(length)});
}

} // namespace

TEST_F(PlatformFileSizeChecker, KnownSizesAreReportedAtOnceWithoutARequest)
{
    Add("http://files.test/a", 10, 4);
    Add("http://files.test/b", 20);
    Begin();
    EXPECT_EQ(ScriptedConnection::Count(), 0u);
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done"}));
    EXPECT_EQ(listener.result.totalBytes, 30);
    EXPECT_EQ(listener.result.bytesPresent, 4);
    EXPECT_EQ(listener.result.fileCount, 2);
}

TEST_F(PlatformFileSizeChecker, FiveProbesRunAtOnceAndTheSixthWaitsForOne)
{
    for (int i = 0; i < 6; ++i) Add("http://files.test/f" + std::to_string(i));
    Add("http://files.test/known", 7);
    Begin();
    ASSERT_EQ(ScriptedConnection::Count(), 5u);
    EXPECT_EQ(checker->RunningCount(), 5u);
    ScriptedConnection::At(2).Answer(Length(100));
    ASSERT_EQ(ScriptedConnection::Count(), 6u);
    EXPECT_EQ(Last().Target(), "/f5");
    EXPECT_TRUE(ScriptedConnection::At(2).closed); // the body is never read
    for (size_t i : {0u, 1u, 3u, 4u, 5u}) ScriptedConnection::At(i).Answer(Length(100 + int64_t(i)));
    EXPECT_EQ(listener.events, (std::vector<std::string>{"done"}));
    EXPECT_EQ(listener.result.totalBytes, 7 + 100 + 100 + 101 + 103 + 104 + 105);
    EXPECT_EQ(listener.result.fileCount, 7);
    // Each file's size in the job's order, for the transfer to be held to.
    EXPECT_EQ(listener.result.sizes, (std::vector<int64_t>{100, 101, 100, 103, 104, 105, 7}));
}

TEST_F(PlatformFileSizeChecker, EachAnswerSizesTheFileOrFailsIt)
{
    struct Case {
        const char* name;
        std::string entry;
        std::vector<std::string> answers; // empty: the connect is refused
        std::vector<std::string> targets;
        std::string expected;
    };
    const std::string notFound = HttpAnswer("404 Not Found", {"Content-Length: 0"});
    const Case cases[] = {
        {"200", "http://files.test/a", {Length(100)}, {"/a"}, "done"},
        {"302 then 200", "http://files.test/a", {HttpAnswer("302 Found", {"Location: /b"}), Length(100)}, {"/a", "/b"}, "done"},
        {"404", "http://files.test/a", {notFound}, {"/a"}, "failed:517:http://files.test/a: HTTP 404 Not Found"},
        {"404 then the second alternative", "http://files.test/a|http://mirror.test/m", {notFound, Length(100)},
         {"/a", "/m"}, "done"},
        {"refused three times then the second alternative", "http://files.test/a|http://mirror.test/m",
         {"", "", "", Length(100)}, {"/a", "/a", "/a", "/m"}, "done"},
        {"refused on every alternative", "http://files.test/a", {"", "", ""}, {"/a", "/a", "/a"},
         "failed:517:http://files.test/a: connection refused"},
        {"larger than the free space", "http://files.test/a", {Length(1001)}, {"/a"},
         "failed:513:http://files.test/a: 1001 bytes, with 1000 bytes free in the folder"},
        {"exactly the free space", "http://files.test/a", {Length(1000)}, {"/a"},
         "failed:517:http://files.test/a: 1000 bytes, with 1000 bytes free in the folder"},
        {"no length", "http://files.test/a", {HttpAnswer("200 OK", {})}, {"/a"},
         "failed:517:http://files.test/a: HTTP 200 OK without a Content-Length"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        files.clear();
        listener = Listener();
        Add(c.entry);
        Begin();
        for (size_t i = 0; i < c.answers.size(); ++i) {
            ASSERT_EQ(ScriptedConnection::Count(), i + 1);
            EXPECT_EQ(Last().Target(), c.targets[i]);
            if (c.answers[i].empty()) Last().RefuseConnect();
            else Last().Answer(c.answers[i]);
        }
        EXPECT_EQ(ScriptedConnection::Count(), c.answers.size());
        EXPECT_EQ(listener.events, (std::vector<std::string>{c.expected}));
        EXPECT_EQ(listener.result.totalBytes, c.expected == "done" ? 100 : 0);
    }
}

TEST_F(PlatformFileSizeChecker, AProbeThatFailsAtOnceEndsTheCheckInsideBegin)
{
    Add("http://files.test/a");
    Add("http://nowhere.test/b");
    Add("http://files.test/c");
    Begin();
    EXPECT_EQ(checker, nullptr); // the listener destroyed it from inside Begin
    EXPECT_EQ(listener.events, (std::vector<std::string>{"failed:517:http://nowhere.test/b: host nowhere.test not found"}));
    EXPECT_EQ(ScriptedConnection::Count(), 4u); // one probe for a, three tries for b
    EXPECT_TRUE(ScriptedConnection::At(0).closed);
}

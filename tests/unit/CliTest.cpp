#include "cli/CTerminalQuestion.h"
#include "cli/CliOptions.h"
#include "cli/ProgressLine.h"
#include "cli/TerminalText.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
constexpr ResumeChoice kUnset = ResumeChoice::kUnset;
constexpr ResumeChoice kResume = ResumeChoice::kResume;
constexpr ResumeChoice kAfresh = ResumeChoice::kAfresh;
} // namespace

TEST(CliOptions, Table)
{
    struct Case {
        std::vector<const char*> args;
        bool ok;
        std::string url, folder;
        bool consent;
        ResumeChoice resume;
        bool help;
        bool plain = false;
    } cases[] = {
        {{}, true, "", "", true, kUnset, false},
        {{"http://h/list.txt"}, true, "http://h/list.txt", "", true, kUnset, false},
        {{"--folder", "/g", "--no-engine-consent", "u"}, true, "u", "/g", false, kUnset, false},
        {{"--folder=/g/x", "--no-resume"}, true, "", "/g/x", true, kAfresh, false},
        {{"--help"}, true, "", "", true, kUnset, true},
        {{"--plain", "u"}, true, "u", "", true, kUnset, false, true},
        {{"--no-resume", "--resume"}, true, "", "", true, kResume, false},
        {{"--resume", "--no-resume", "--plain"}, true, "", "", true, kAfresh, false, true},
        {{"--folder"}, false, "", "", true, kUnset, false},
        {{"--folder", ""}, false, "", "", true, kUnset, false},
        {{"--bogus"}, false, "", "", true, kUnset, false},
        {{"a", "b"}, false, "a", "", true, kUnset, false},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = {"zdrdl"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CliOptions options;
        std::string error;
        const bool ok = ParseCliOptions(static_cast<int>(argv.size()), argv.data(), &options, &error);
        const std::string name = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(ok, c.ok) << name;
        EXPECT_EQ(error.empty(), c.ok) << name;
        if (!ok) continue;
        EXPECT_EQ(options.fileListUrl, c.url) << name;
        EXPECT_EQ(options.folder, c.folder) << name;
        EXPECT_EQ(options.engineConsent, c.consent) << name;
        EXPECT_EQ(options.resume, c.resume) << name;
        EXPECT_EQ(options.help, c.help) << name;
        EXPECT_EQ(options.plain, c.plain) << name;
    }
}

TEST(ProgressLine, WithAndWithoutBar)
{
    DlProgress p{};
    p.totalBytes = 4 * 1048576;
    p.bytesPresent = 1048576;
    p.fileCount = 5;
    p.filesDone = 1;
    p.speed = 2048;
    p.elapsedSeconds = 3661;
    p.remainingSeconds = 61;
    p.percent = 25;
    strcpy(p.fileName, "data2.bin");
    EXPECT_EQ(FormatProgressLine(p, true, DL_PATH_ENGINE),
              "[######..................]  25%  1.00 MB / 4.00 MB  2.00 KB/Sec  elapsed 01:01:01  left 00:01:01  "
              "files 1/5  via engine  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, false, DL_PATH_PLAIN),
              " 25%  1.00 MB / 4.00 MB  2.00 KB/Sec  elapsed 01:01:01  left 00:01:01  files 1/5  via plain  data2.bin");
    EXPECT_EQ(FormatProgressLine(p, false, DL_PATH_NONE),
              " 25%  1.00 MB / 4.00 MB  2.00 KB/Sec  elapsed 01:01:01  left 00:01:01  files 1/5  data2.bin");
    p.percent = 250; // never past a full bar
    memset(p.fileName, 'x', sizeof p.fileName); // and no read past an unterminated name
    const std::string line = FormatProgressLine(p, true, DL_PATH_NONE);
    EXPECT_EQ(line.substr(0, 32), "[########################] 100% ");
    EXPECT_EQ(line.substr(line.size() - 66), std::string(66, 'x'));
}

TEST(TerminalText, ControlBytesAndEscapesAreShownNotObeyed)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a.bin", "a.bin"},
        {"\x1b[2J\x1b]0;title\x07x.bin", "\\x1B[2J\\x1B]0;title\\x07x.bin"},
        {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
        {"back\\slash", "back\\\\slash"},
        {"\x7f", "\\x7F"},
        {"\xe4\xb8\x8b.zip", "\xe4\xb8\x8b.zip"}, // UTF-8 stays readable
    };
    for (const auto& [raw, shown] : cases) EXPECT_EQ(TerminalSafe(raw), shown) << shown;
    DlProgress p{};
    snprintf(p.fileName, sizeof p.fileName, "%s", "\x1b[31mred.bin");
    EXPECT_NE(FormatProgressLine(p, false, DL_PATH_NONE).find("\\x1B[31mred.bin"), std::string::npos);
    DlEngineUpdate update{};
    snprintf(update.fileName, sizeof update.fileName, "%s", "\x1b[2Jx.zip");
    EXPECT_EQ(FormatEngineUpdateLine(update).find('\x1b'), std::string::npos);
}

TEST(ProgressLine, EngineUpdate)
{
    DlEngineUpdate update{};
    update.fileCount = 1;
    update.fileNumber = 1;
    update.fileSize = 3 * 1048576;
    update.fileBytes = 1536;
    strcpy(update.fileName, "ZDRDownloadV32.exe.zip");
    EXPECT_EQ(FormatEngineUpdateLine(update), "updating engine: ZDRDownloadV32.exe.zip 1.50 KB of 3.00 MB");
    update.fileCount = 3;
    update.fileNumber = 2;
    memset(update.fileName, 'n', sizeof update.fileName); // an unterminated name is not read past
    EXPECT_EQ(FormatEngineUpdateLine(update),
              "updating engine: " + std::string(66, 'n') + " 1.50 KB of 3.00 MB (file 2 of 3)");
}

// The question against a pipe standing for the terminal: what is typed
// (possibly ahead, in pieces, or not at all) and what each ask answers.
TEST(TerminalQuestion, AnswersTable)
{
    using Result = CTerminalQuestion::Result;
    struct Case {
        const char* what;
        std::vector<std::string> typed; // written one piece after another
        bool closeInput;
        std::vector<Result> answers; // one Ask each
        int asked;                   // how often a question was written
    } cases[] = {
        {"yes then no", {"y\n", "n\n"}, false, {Result::kYes, Result::kNo}, 2},
        {"words, blanks and letter case", {"  YES \r\n", "No\n"}, false, {Result::kYes, Result::kNo}, 2},
        {"typed ahead in one piece", {"n\ny\n"}, false, {Result::kNo, Result::kYes}, 2},
        {"split inside a word", {"ye", "s\n"}, false, {Result::kYes}, 1},
        {"anything else asks again", {"maybe\n", "\n", "yy\n", "n\n"}, false, {Result::kNo}, 4},
        {"an overlong line is no answer", {std::string(600, 'y') + "\n", "y\n"}, false, {Result::kYes}, 2},
        {"a last line without its end", {"y"}, true, {Result::kYes, Result::kEndOfInput}, 2},
        {"end of input", {}, true, {Result::kEndOfInput}, 1},
        {"nothing typed", {}, false, {Result::kTimedOut}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        std::thread typist([&] {
            for (const std::string& piece : c.typed) {
                ASSERT_EQ(write(fds[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (c.closeInput) close(fds[1]);
        });
        char* shown = nullptr;
        size_t shownSize = 0;
        FILE* out = open_memstream(&shown, &shownSize);
        CTerminalQuestion question(fds[0], out, [] { return false; });
        std::vector<Result> answers;
        for (size_t i = 0; i < c.answers.size(); ++i) answers.push_back(question.Ask("Q? [y/n] ", 2000));
        typist.join();
        fclose(out);
        const std::string text(shown, shownSize);
        free(shown);
        close(fds[0]);
        if (!c.closeInput) close(fds[1]);
        EXPECT_EQ(answers, c.answers);
        size_t asked = 0;
        for (size_t at = text.find("Q? [y/n] "); at != std::string::npos; at = text.find("Q? [y/n] ", at + 1)) ++asked;
        EXPECT_EQ(asked, static_cast<size_t>(c.asked)) << text;
    }
}

TEST(TerminalQuestion, KeysPressedBeforeTheQuestionAreNoAnswer)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "y\ny\n", 4), 4);
    FILE* out = fopen("/dev/null", "w");
    CTerminalQuestion question(fds[0], out, [] { return false; });
    question.DiscardTypedAhead();
    std::thread typist([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(write(fds[1], "n\n", 2), 2);
    });
    EXPECT_EQ(question.Ask("Q? ", 5000), CTerminalQuestion::Result::kNo);
    typist.join();
    fclose(out);
    close(fds[0]);
    close(fds[1]);
}

TEST(TerminalQuestion, AnInterruptEndsTheWaitAtOnce)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FILE* out = fopen("/dev/null", "w");
    const auto start = std::chrono::steady_clock::now();
    CTerminalQuestion question(fds[0], out, [&] { return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(200); });
    EXPECT_EQ(question.Ask("Q? ", 60000), CTerminalQuestion::Result::kInterrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    fclose(out);
    close(fds[0]);
    close(fds[1]);
}

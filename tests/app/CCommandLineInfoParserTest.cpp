#include "app/CCommandLineInfoParser.h"
#include "app/CZDRDownloaderApp.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineInfoParser, FirstParameterFlagOrNotIsTheListUrl)
{
    struct Case {
        std::vector<const char*> args;
        std::string url;
    };
    const Case cases[] = {
        {{}, ""},
        {{"http://portal.test/list.txt", "/quiet"}, "http://portal.test/list.txt"},
        {{"/list"}, "list"},
        {{"-list", "http://portal.test/list.txt"}, "list"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = c.args;
        argv.insert(argv.begin(), "zdr-downloader");
        const int before = CCommandLineInfoParser::ParamCount();
        CCommandLineInfoParser parser;
        parser.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(parser.FileListUrl(), c.url);
        // Every parameter is counted, flags included.
        EXPECT_EQ(CCommandLineInfoParser::ParamCount() - before, static_cast<int>(c.args.size()));
    }
}

TEST(ZDRDownloaderApp, InstanceNameJoinsProductAndDefaultUrlWithinTheLimit)
{
    EXPECT_EQ(CZDRDownloaderApp::InstanceName("ZDR-Downloader", "http://p.test/list.txt"),
              "ZDR-Downloader::http://p.test/list.txt");
    const std::string longUrl = "http://p.test/" + std::string(300, 'x');
    EXPECT_EQ(CZDRDownloaderApp::InstanceName("ZDR-Downloader", longUrl),
              ("ZDR-Downloader::" + longUrl).substr(0, 260));
    // Whole characters: 260 of them, not 260 bytes.
    const std::string wide = "http://p.test/" + std::string(100, 'x') + [] {
        std::string s;
        for (int i = 0; i < 200; ++i) s += "檔";
        return s;
    }();
    const std::string name = CZDRDownloaderApp::InstanceName("ZDR-Downloader", wide);
    EXPECT_EQ(name, ("ZDR-Downloader::" + wide).substr(0, 16 + 114 + 130 * 3));
}

} // namespace

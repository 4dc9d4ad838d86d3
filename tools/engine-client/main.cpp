// zdr-engine-client: hands one job to a running download engine and prints
// what the engine answers, one line per message. For tests and benchmarks.
//
//   zdr-engine-client [--port P] --folder DIR [--mode 1|2] [--resume 0|1] [--size BYTES] URL...
//
// A file's name is the last path segment of its first URL; a URL may carry
// alternatives joined by '|'. The resume question is answered with --resume
// (default 1). --size gives every file that size, as the service does after
// its size check; without it the engine learns the sizes itself.
// Exit: 0 job done, 1 given up, 2 rejected, 3 connection lost or no answer
// for 120 s, 4 not enough disk space.

#include "tools/engine-client/EngineClient.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    uint16_t port = kLocalEnginePort;
    if (const char* env = getenv("ZDR_ENGINE_PORT")) port = static_cast<uint16_t>(atoi(env));
    std::string folder;
    int mode = 2, resume = 1;
    long long size = 0;
    std::vector<EngineClient::File> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) port = static_cast<uint16_t>(atoi(argv[++i]));
        else if (arg == "--folder" && i + 1 < argc) folder = argv[++i];
        else if (arg == "--mode" && i + 1 < argc) mode = atoi(argv[++i]);
        else if (arg == "--resume" && i + 1 < argc) resume = atoi(argv[++i]);
        else if (arg == "--size" && i + 1 < argc) size = atoll(argv[++i]);
        else {
            EngineClient::File file;
            file.url = arg;
            std::string first = arg.substr(0, arg.find('|'));
            first = first.substr(0, first.find('?'));
            file.name = first.substr(first.rfind('/') + 1);
            files.push_back(file);
        }
    }
    if (folder.empty() || files.empty()) {
        fprintf(stderr, "usage: zdr-engine-client [--port P] --folder DIR [--mode 1|2] [--resume 0|1] [--size BYTES] URL...\n");
        return 2;
    }
    if (folder.back() != '/') folder += '/';
    for (auto& file : files) {
        file.folder = folder;
        file.size = size;
    }
    EngineClient client;
    if (!client.Connect(port) || !client.SendJob(1, static_cast<uint8_t>(mode), files)) {
        fprintf(stderr, "no engine on port %u\n", port);
        return 3;
    }
    int32_t task = 0;
    bool diskFull = false;
    EngineClient::Message message;
    while (client.Next(&message, 120000)) {
        const unsigned char* p = message.payload.data();
        const uint32_t n = static_cast<uint32_t>(message.payload.size());
        switch (message.code) {
        case kLocalJobAccepted: {
            vqLOCALJOBACCEPTED r{};
            if (!nwCDNLocalCodec::DecodeJobAccepted(p, n, &r)) return 3;
            task = r.taskNumber;
            printf("accepted task %d files %d bytes %lld\n", r.taskNumber, r.fileCount, static_cast<long long>(r.totalBytes));
            break;
        }
        case kLocalJobRejected: {
            vqLOCALJOBREJECTED r{};
            if (!nwCDNLocalCodec::DecodeJobRejected(p, n, &r)) return 3;
            printf("rejected %s\n", r.reason);
            return 2;
        }
        case kLocalJobProgress: {
            vqLOCALPROGRESS r{};
            std::vector<vqLOCALFILERECORD> records;
            if (!nwCDNLocalCodec::DecodeProgress(p, n, &r, &records)) return 3;
            printf("progress %lld/%lld files %d/%d rate %d running %d\n", static_cast<long long>(r.bytesPresent),
                   static_cast<long long>(r.totalBytes), r.filesCompleted, r.fileCount, r.rate, r.recordCount);
            break;
        }
        case kLocalFileDone: {
            vqLOCALFILEDONE r{};
            if (!nwCDNLocalCodec::DecodeFileDone(p, n, &r)) return 3;
            printf("done %s from %s\n", r.localPath, r.source);
            break;
        }
        case kLocalJobError: {
            vqLOCALJOBERROR r{};
            if (!nwCDNLocalCodec::DecodeJobError(p, n, &r)) return 3;
            printf("error kind %d %s\n", r.kind, r.text);
            diskFull |= r.kind == kLocalErrorDiskSpace;
            break;
        }
        case kLocalJobFinished: {
            vqLOCALJOBFINISHED r{};
            if (!nwCDNLocalCodec::DecodeJobFinished(p, n, &r)) return 3;
            printf("finished %d %d\n", r.valueA, r.valueB);
            return diskFull ? 4 : r.valueB != 0 ? 1 : 0;
        }
        case kLocalAskResume:
            printf("ask resume: answering %d\n", resume);
            client.SendResumeAnswer(task, 1, resume != 0, false);
            break;
        case kLocalNetworkLost:
            printf("network lost\n");
            break;
        case kLocalNetworkRestored:
            printf("network restored\n");
            break;
        default:
            printf("message %u\n", message.code);
            break;
        }
        fflush(stdout);
    }
    fprintf(stderr, "the engine went away\n");
    return 3;
}

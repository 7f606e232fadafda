// Mail store figures: listing a 10,000-message folder (headers only), copy+delete of one
// message, a copy into and a deletion from a folder that holds 10,000 messages, opening
// a message by id after every folder object was released, and the time from a file's arrival in
// new/ to the WM_NEWMSGS post.
#include "util/ComPtr.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "platform/Store.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <stdlib.h>

namespace fs = std::filesystem;

namespace {

std::string makeRoot() {
    std::string pattern = (fs::temp_directory_path() / "brevalo-bench-XXXXXX").string();
    std::string root = std::string(mkdtemp(pattern.data())) + "/Maildir";
    createStoreRoot(root);
    return root;
}

std::string message(int i) {
    std::string text =
        "Return-Path: <sender" + std::to_string(i) +
        "@example.org>\r\n"
        "Received: from mx.example.org by mail.example.net; Mon, 7 Dec 2026 10:00:00 +0000\r\n"
        "From: =?UTF-8?Q?J=C3=BCrgen_Sender?= <sender" +
        std::to_string(i) +
        "@example.org>\r\n"
        "To: Someone <someone@example.net>\r\n"
        "Subject: =?UTF-8?B?UmU6IE1lZXRpbmcgw7xiZXIgZGFzIEJ1ZGdldA==?= " +
        std::to_string(i) +
        "\r\n"
        "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
        "Message-ID: <" +
        std::to_string(i) +
        "@example.org>\r\n"
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    text += std::string(4000, 'b') + "\r\n";
    return text;
}

void deliver(const std::string& folder, const std::string& name, const std::string& text) {
    std::ofstream(folder + "/tmp/" + name, std::ios::binary) << text;
    fs::rename(folder + "/tmp/" + name, folder + "/new/" + name);
}

com_ptr<IStoreFolder> openInbox(IStoreNamespace* store) {
    FOLDERPROPS props;
    HENUMSTORE handle = nullptr;
    store->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle);
    store->GetSubFolderClose(handle);
    com_ptr<IStoreFolder> inbox;
    store->OpenFolder(props.dwFolderId, 0, inbox.out());
    return inbox;
}

size_t listAll(IStoreFolder* folder) {
    size_t count = 0;
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    while (hr == S_OK) {
        ++count;
        benchmark::DoNotOptimize(props.pszSubject.data());
        folder->FreeMessageProps(&props);
        hr = folder->GetNextMessage(handle, 0, &props);
    }
    folder->GetMessageClose(handle);
    return count;
}

// Every listing with a new store object, as after a restart (ids already on disk).
void BM_ListFolder10000(benchmark::State& state) {
    std::string root = makeRoot();
    {
        com_ptr<IStoreNamespace> store;
        createStoreNamespace(root, store.out());
    }
    for (int i = 0; i < 10000; ++i)
        deliver(root, std::to_string(1700000000 + i) + ".M" + std::to_string(i) + "P1.bench",
                message(i));
    for (auto _ : state) {
        com_ptr<IStoreNamespace> store;
        createStoreNamespace(root, store.out());
        auto inbox = openInbox(store.get());
        if (listAll(inbox.get()) != 10000)
            state.SkipWithError("not every message listed");
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_ListFolder10000)->Unit(benchmark::kMillisecond)->Iterations(5);

// The first listing of a folder another program filled: every message gets its id.
void BM_ListFolder10000FirstSight(benchmark::State& state) {
    std::string root = makeRoot();
    {
        com_ptr<IStoreNamespace> store;
        createStoreNamespace(root, store.out());
    }
    for (int i = 0; i < 10000; ++i)
        deliver(root, std::to_string(1700000000 + i) + ".M" + std::to_string(i) + "P1.bench",
                message(i));
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(root + "/brevalo-uidlist");
        state.ResumeTiming();
        com_ptr<IStoreNamespace> store;
        createStoreNamespace(root, store.out());
        auto inbox = openInbox(store.get());
        if (listAll(inbox.get()) != 10000)
            state.SkipWithError("not every message listed");
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_ListFolder10000FirstSight)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_CopyDeleteOneMessage(benchmark::State& state) {
    std::string root = makeRoot();
    com_ptr<IStoreNamespace> store;
    createStoreNamespace(root, store.out());
    auto inbox = openInbox(store.get());
    STOREFOLDERID targetId = 0;
    store->CreateFolder(FOLDERID_ROOT, "Target", 0, &targetId);
    com_ptr<IStoreFolder> target;
    store->OpenFolder(targetId, 0, target.out());
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++n;
        deliver(root, "copy" + std::to_string(n) + ".M1P1.bench", message(n));
        MESSAGEPROPS props;
        HENUMSTORE handle = nullptr;
        inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
        inbox->GetMessageClose(handle);
        MESSAGEID id = props.dwMessageId;
        MESSAGEIDLIST list{12, 1, &id};
        state.ResumeTiming();
        if (inbox->CopyMoveMessages(target.get(), &list, 0, 2, nullptr) != S_OK ||
            inbox->DeleteMessages(&list, 0, nullptr) != S_OK)
            state.SkipWithError("copy+delete failed");
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_CopyDeleteOneMessage)->Unit(benchmark::kMicrosecond);

// A sort run fills its target folders: the copy's cost must not grow with the target.
void BM_CopyIntoFolderOf10000(benchmark::State& state) {
    std::string root = makeRoot();
    com_ptr<IStoreNamespace> store;
    createStoreNamespace(root, store.out());
    auto inbox = openInbox(store.get());
    STOREFOLDERID targetId = 0;
    store->CreateFolder(FOLDERID_ROOT, "Big", 0, &targetId);
    std::string targetPath = root + "/.Big";
    for (int i = 0; i < 10000; ++i)
        deliver(targetPath, "full" + std::to_string(i) + ".M1P1.bench", message(i));
    com_ptr<IStoreFolder> target;
    store->OpenFolder(targetId, 0, target.out());
    if (listAll(target.get()) != 10000)
        state.SkipWithError("target not filled");
    int n = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++n;
        deliver(root, "into" + std::to_string(n) + ".M1P1.bench", message(n));
        MESSAGEPROPS props;
        HENUMSTORE handle = nullptr;
        inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
        inbox->GetMessageClose(handle);
        MESSAGEID id = props.dwMessageId;
        MESSAGEIDLIST list{12, 1, &id};
        state.ResumeTiming();
        if (inbox->CopyMoveMessages(target.get(), &list, 0, 2, nullptr) != S_OK)
            state.SkipWithError("copy failed");
        state.PauseTiming();
        inbox->DeleteMessages(&list, 0, nullptr);
        state.ResumeTiming();
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_CopyIntoFolderOf10000)->Unit(benchmark::kMicrosecond)->Iterations(300);

// A sort run empties the inbox one message at a time: a deletion must not cost O(inbox).
void BM_DeleteFromFolderOf10000(benchmark::State& state) {
    std::string root = makeRoot();
    com_ptr<IStoreNamespace> store;
    createStoreNamespace(root, store.out());
    for (int i = 0; i < 10000; ++i)
        deliver(root, "del" + std::to_string(i) + ".M1P1.bench", message(i));
    auto inbox = openInbox(store.get());
    std::vector<MESSAGEID> ids;
    MESSAGEPROPS props;
    HENUMSTORE handle = nullptr;
    HRESULT hr = inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    while (hr == S_OK) {
        ids.push_back(props.dwMessageId);
        hr = inbox->GetNextMessage(handle, 0, &props);
    }
    inbox->GetMessageClose(handle);
    size_t next = 0;
    for (auto _ : state) {
        MESSAGEIDLIST list{12, 1, &ids[next++ % ids.size()]};
        if (inbox->DeleteMessages(&list, 0, nullptr) != S_OK)
            state.SkipWithError("delete failed");
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_DeleteFromFolderOf10000)->Unit(benchmark::kMicrosecond)->Iterations(2000);

// The sorter opens the inbox, takes a message by id and releases the folder again.
void BM_OpenMessageAfterRelease(benchmark::State& state) {
    std::string root = makeRoot();
    com_ptr<IStoreNamespace> store;
    createStoreNamespace(root, store.out());
    for (int i = 0; i < 1000; ++i)
        deliver(root, "open" + std::to_string(i) + ".M1P1.bench", message(i));
    STOREFOLDERID inboxId = 0;
    std::vector<MESSAGEID> ids;
    {
        auto inbox = openInbox(store.get());
        MESSAGEPROPS props;
        HENUMSTORE handle = nullptr;
        HRESULT hr = inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
        while (hr == S_OK) {
            ids.push_back(props.dwMessageId);
            hr = inbox->GetNextMessage(handle, 0, &props);
        }
        inbox->GetMessageClose(handle);
        FOLDERPROPS folderProps;
        inbox->GetFolderProps(0, &folderProps);
        inboxId = folderProps.dwFolderId;
    }
    size_t next = 0;
    for (auto _ : state) {
        com_ptr<IStoreFolder> inbox;
        com_ptr<IMimeMessage> mime;
        if (store->OpenFolder(inboxId, 0, inbox.out()) != S_OK ||
            inbox->OpenMessage(ids[next++ % ids.size()], mime.out()) != S_OK)
            state.SkipWithError("open failed");
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_OpenMessageAfterRelease)->Unit(benchmark::kMicrosecond);

class TimingSink : public INotifySink {
public:
    void post(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
        if (message == WM_NEWMSGS && !at)
            at = std::chrono::steady_clock::now();
    }
    std::optional<std::chrono::steady_clock::time_point> at;
};

void BM_ArrivalToPost(benchmark::State& state) {
    std::string root = makeRoot();
    com_ptr<IStoreNamespace> store;
    createStoreNamespace(root, store.out());
    auto inbox = openInbox(store.get());
    // A lived-in inbox.
    for (int i = 0; i < state.range(0); ++i)
        deliver(root, "old" + std::to_string(i) + ".M1P1.bench", message(i));
    TimingSink sink;
    inbox->RegisterNotification(0, &sink);
    std::vector<double> latencies;
    int n = 0;
    auto drain = [&] {
        pollfd fd{store->NotificationHandle(), POLLIN, 0};
        while (poll(&fd, 1, 0) > 0)
            store->DispatchNotifications();
    };
    for (auto _ : state) {
        std::string name = "arrive" + std::to_string(++n) + ".M1P1.bench";
        std::ofstream(root + "/tmp/" + name, std::ios::binary) << message(n);
        sink.at.reset();
        auto start = std::chrono::steady_clock::now();
        fs::rename(root + "/tmp/" + name, root + "/new/" + name);
        while (!sink.at) {
            pollfd fd{store->NotificationHandle(), POLLIN, 0};
            if (poll(&fd, 1, 5000) <= 0) {
                state.SkipWithError("no notification");
                break;
            }
            store->DispatchNotifications();
        }
        if (!sink.at)
            break;
        double seconds = std::chrono::duration<double>(*sink.at - start).count();
        state.SetIterationTime(seconds);
        latencies.push_back(seconds);
        fs::remove(root + "/new/" + name);
        drain();
    }
    inbox->UnregisterNotification(0, &sink);
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000;
        state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100] * 1000;
    }
    fs::remove_all(fs::path(root).parent_path());
}
BENCHMARK(BM_ArrivalToPost)
    ->ArgName("inbox")
    ->Arg(200)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

} // namespace

int main(int argc, char** argv) {
    setLogToStderr(false);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The message store, each figure beside the host's plain file operations for the same work in
// the same run: creating and writing messages, listing a full folder, opening a storage and
// recovering a storage of 5000 messages. The README reports the figures.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_root.h"
#include "platform/env.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "store/batch.h"
#include "store/message_codec.h"
#include "store/message_maker.h"
#include "store/storage.h"
#include "store/storage_interface.h"
#include "store/storage_tree.h"

namespace {

using FolderPtr = std::unique_ptr<OxFolderInterface>;
using MessagePtr = std::unique_ptr<OxMessageInterface>;
using StoragePtr = std::unique_ptr<OxStorageInterface>;

const oxm::bench::BenchRoot& root() { return oxm::bench::benchRoot("oxm-store-bench.XXXXXX"); }

// Header rebuilds need a codec; this one fills nothing (the benchmark measures the store).
struct NullCodec : oxm::MessageCodec {
  unsigned decodeFields(const std::string&, oxm::MessageFields*) override { return OXMDL_ERR_NONE; }
  unsigned encode(Email*, oxm::EncodedMessage*) override { return OXMDL_ERR_MEM_SHORTAGE; }
  unsigned removeAttachments(const std::string&, std::string*) override { return OXMDL_ERR_ATT_SINGLE_PART; }
};

const std::string kText4k = [] {
  std::string t = "From: a@example.jp\r\nTo: b@example.jp\r\nSubject: bench\r\n\r\n";
  t.resize(4096, 'x');
  return t;
}();

// A new storage directory with the root and one folder; returns the folder's identifier.
unsigned long freshStorage(const std::wstring& dir, int folders = 1) {
  std::filesystem::remove_all(root().path + "/" + std::string(dir.begin(), dir.end()));
  oxm::createStorageTree(dir);
  StoragePtr s(oxm::openStorageInterface(dir));
  FolderPtr r(s->OpenRootFolder());
  unsigned long id = 0;
  for (int i = 0; i < folders; ++i) r->CreateFolder(L"f" + std::to_wstring(i), &id);
  return id;
}

// Arguments: flushes off/on; 0 outside a batch, 1 in a batch committed after each message (a
// retrieval that deletes from the server), 2 in a batch committed at its end (an import); 0 for
// CreateMessage and Write, 1 for messages made whole (MessageMaker: file, list line and header
// record once each, as a retrieval and an import make them).
void BM_CreateAndWrite1000(benchmark::State& state) {
  root();
  oxm::setSyncEnabled(state.range(0) != 0);
  const int64_t mode = state.range(1);
  const bool whole = state.range(2) != 0;
  OxMessageInterface::Attributes unread;
  unread.mask = OxMessageInterface::ATTR_UNREAD;
  unread.flags[OxMessageInterface::FLAG_UNREAD] = 1;
  long ops[static_cast<int>(oxm::fault::Op::Count)] = {};
  for (auto _ : state) {
    state.PauseTiming();
    unsigned long folderId = freshStorage(L"create");
    StoragePtr s(oxm::openStorageInterface(L"create"));
    FolderPtr f(s->OpenFolder(folderId));
    oxm::fault::reset();
    state.ResumeTiming();
    {
      oxm::StoreBatch batch(mode != 0 ? s.get() : nullptr);
      for (int i = 0; i < 1000; ++i) {
        unsigned long id = 0;
        if (whole) {
          if (!oxm::MessageMaker::create(*f, unread, kText4k, &id)) state.SkipWithError("make");
        } else {
          if (!f->CreateMessage(&id)) state.SkipWithError("create");
          MessagePtr m(s->OpenMessage(id));
          if (!m->Write(kText4k)) state.SkipWithError("write");
        }
        if (mode == 1 && batch.commitMessages() != OXMDL_ERR_NONE) state.SkipWithError("commit");
      }
      if (batch.finish() != OXMDL_ERR_NONE) state.SkipWithError("finish");
    }
    state.PauseTiming();
    for (int op = 0; op < static_cast<int>(oxm::fault::Op::Count); ++op) ops[op] = oxm::fault::calls(static_cast<oxm::fault::Op>(op));
    f.reset();
    s.reset();
    state.ResumeTiming();
  }
  // File operations per message created and written (last iteration).
  const char* names[] = {"open", "read", "write", "flush", "rename", "delete", "mkdir", "rmdir", "find", "map"};
  for (int op = 0; op < 10; ++op) state.counters[names[op]] = ops[op] / 1000.0;
  oxm::setSyncEnabled(false);
}
BENCHMARK(BM_CreateAndWrite1000)
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The host's own work for the same messages: one file of 256 + 4096 bytes each, created and
// written (and flushed), and nothing else.
void BM_HostWrite1000(benchmark::State& state) {
  const bool sync = state.range(0) != 0;
  const std::string dir = root().path + "/hostwrite";
  std::string content(256, '\0');
  content += kText4k;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    state.ResumeTiming();
    for (int i = 0; i < 1000; ++i) {
      int fd = ::open((dir + "/" + std::to_string(i) + ".eml").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
      if (::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) state.SkipWithError("write");
      if (sync) ::fdatasync(fd);
      ::close(fd);
    }
  }
}
BENCHMARK(BM_HostWrite1000)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// A full folder: 1000 messages in one folder, listed with their header records.
void BM_ListFullFolder(benchmark::State& state) {
  root();
  oxm::setSyncEnabled(false);
  unsigned long folderId = freshStorage(L"list");
  StoragePtr s(oxm::openStorageInterface(L"list"));
  FolderPtr f(s->OpenFolder(folderId));
  for (int i = 0; i < 1000; ++i) {
    unsigned long id = 0;
    f->CreateMessage(&id);
  }
  std::vector<FolderMsgHeader> headers(1000);
  for (auto _ : state) {
    std::vector<unsigned long> ids;
    if (!f->GetMessageIds(&ids) || !f->LoadMessageHeader(headers.data(), ids.size())) state.SkipWithError("list");
    benchmark::DoNotOptimize(headers.data());
  }
}
BENCHMARK(BM_ListFullFolder)->Unit(benchmark::kMicrosecond);

// The host reading the same bytes: the 11 KB list and the 1.2 MB header cache.
void BM_HostReadListAndCache(benchmark::State& state) {
  const std::string dir = root().path + "/list/TREE/01";
  std::vector<char> buf(4000 + 1000 * 1180);
  for (auto _ : state) {
    for (const char* name : {"/00.msg", "/00.fdb"}) {
      int fd = ::open((dir + name).c_str(), O_RDONLY);
      ssize_t n = ::read(fd, buf.data(), buf.size());
      benchmark::DoNotOptimize(n);
      ::close(fd);
    }
  }
}
BENCHMARK(BM_HostReadListAndCache)->Unit(benchmark::kMicrosecond);

void BM_OpenStorage(benchmark::State& state) {
  root();
  freshStorage(L"open", 4);
  for (auto _ : state) {
    StoragePtr s(oxm::openStorageInterface(L"open"));
    if (!s) state.SkipWithError("open");
  }
}
BENCHMARK(BM_OpenStorage)->Unit(benchmark::kMicrosecond);

// The host: read both Status.txt files, open and map Entry.dat.
void BM_HostOpenStorage(benchmark::State& state) {
  const std::string dir = root().path + "/open";
  for (auto _ : state) {
    char buf[16];
    for (const char* name : {"/TREE/Status.txt", "/DATA/Status.txt"}) {
      int fd = ::open((dir + name).c_str(), O_RDONLY);
      benchmark::DoNotOptimize(::read(fd, buf, sizeof buf));
      ::close(fd);
    }
    int fd = ::open((dir + "/DATA/Entry.dat").c_str(), O_RDWR);
    void* p = ::mmap(nullptr, 262144, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::munmap(p, 262144);
    ::close(fd);
  }
}
BENCHMARK(BM_HostOpenStorage)->Unit(benchmark::kMicrosecond);

void BM_RecoverAll5000(benchmark::State& state) {
  root();
  oxm::setSyncEnabled(false);
  static NullCodec codec;
  oxm::registerMessageCodec(&codec);
  freshStorage(L"recover", 10);
  {
    StoragePtr s(oxm::openStorageInterface(L"recover"));
    for (unsigned long folder = 1; folder <= 10; ++folder) {
      FolderPtr f(s->OpenFolder(folder));
      for (int i = 0; i < 500; ++i) {
        unsigned long id = 0;
        f->CreateMessage(&id);
        MessagePtr m(s->OpenMessage(id));
        m->Write(kText4k);
      }
    }
  }
  for (auto _ : state) {
    StoragePtr s(oxm::openStorageInterface(L"recover"));
    if (!s->RecoverMessageEntryAll()) state.SkipWithError("recover");
  }
  oxm::registerMessageCodec(nullptr);
}
BENCHMARK(BM_RecoverAll5000)->Unit(benchmark::kMillisecond);

// The host reading what recovery must read: every message file's header and text.
void BM_HostRead5000(benchmark::State& state) {
  const std::string data = root().path + "/recover/DATA";
  std::vector<char> buf(256 + 4096);
  for (auto _ : state) {
    for (int id = 0; id < 5000; ++id) {
      char name[32];
      std::snprintf(name, sizeof name, "/%02X/%02X.eml", id & 0xFF, id >> 8);
      int fd = ::open((data + name).c_str(), O_RDONLY);
      benchmark::DoNotOptimize(::read(fd, buf.data(), buf.size()));
      ::close(fd);
    }
  }
}
BENCHMARK(BM_HostRead5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// oxmail import, export: message files in and out of a folder, with progress bars.
#include <cstdio>

#include "tools/oxmail/args.h"
#include "tools/oxmail/commands.h"
#include "tools/oxmail/output.h"
#include "tools/oxmail/session.h"

namespace oxmail {

namespace {

// Counts what the library reports and moves the bar.
class Counter : public OxMessageImporter::Notification, public OxMessageExporter::Notification {
 public:
  Counter(Progress* bar, size_t base) : bar_(bar), base_(base) {}
  void begin(unsigned long) override {}
  void progress(unsigned long done) override {
    done_ = done;
    bar_->step(base_ + done);
  }
  void end(bool) override {}
  unsigned long done() const { return done_; }

 private:
  Progress* bar_;
  size_t base_;
  unsigned long done_ = 0;
};

struct Source {
  std::string hostPath;
  std::wstring devicePath;
};

std::vector<Source> sources(const std::vector<std::string>& paths) {
  std::vector<Source> out;
  for (const std::string& path : paths) {
    if (OxIsHostDirectory(path)) {
      std::vector<std::string> names;
      if (!OxListHostDirectory(path, &names)) throw Failure("cannot list the directory '" + path + "'");
      for (const std::string& n : names) out.push_back({path + "/" + n, OxHostToDevicePath(path + "/" + n)});
      continue;
    }
    std::string probe;
    if (!OxReadDeviceFile(OxHostToDevicePath(path), &probe)) throw Failure("cannot read '" + path + "'");
    out.push_back({path, OxHostToDevicePath(path)});
  }
  return out;
}

}  // namespace

int runImport(const Words& words) {
  Args args(words, {});
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long folderId = account.folder(args.need(1, "FOLDER"));
  if (folderId >= 0x10000) throw Failure("messages cannot be imported into a virtual folder");
  if (args.positionals().size() < 3) throw UsageError("missing PATH");
  const std::vector<Source> files =
      sources(std::vector<std::string>(args.positionals().begin() + 2, args.positionals().end()));
  Owned<OxFolderInterface> folder = account.openFolder(folderId);
  if (files.size() > folder->GetRemainMessageCount()) {
    throw Failure("the folder has room for " + std::to_string(folder->GetRemainMessageCount()) + " more messages, not " +
                  std::to_string(files.size()));
  }
  // The importer stops at the first file it cannot take; that file is reported and skipped and
  // the run goes on with the next one.
  Progress bar("importing", files.size());
  size_t next = 0;
  size_t imported = 0;
  std::vector<std::pair<std::string, std::string>> skipped;
  while (next < files.size()) {
    std::vector<std::wstring> batch;
    for (size_t i = next; i < files.size(); ++i) batch.push_back(files[i].devicePath);
    OxMessageImporter importer;
    Counter counter(&bar, next);
    if (!importer.SetSource(batch) || !importer.SetDestination(folder.get()) ||
        !importer.RegisterNotification(&counter)) {
      libraryFailure("cannot start the import");
    }
    int reserved = 0;
    const bool all = importer.Fire(&reserved);
    imported += counter.done();
    next += counter.done();
    if (all) break;
    const unsigned int code = GetOxMiddleError();
    if (code == OXMDL_ERR_STG_FOLDER_FULL || code == OXMDL_ERR_STG_DISK_FULL) {
      libraryFailure("import stopped after " + std::to_string(imported) + " messages at '" + files[next].hostPath + "'");
    }
    skipped.emplace_back(files[next].hostPath, describe(code));
    ++next;
    bar.step(next);
  }
  for (const auto& [path, why] : skipped) std::fprintf(stderr, "oxmail: skipped %s: %s\n", path.c_str(), why.c_str());
  if (settings().json) {
    printRecord({{"imported", Cell(static_cast<unsigned long>(imported))},
                 {"skipped", Cell(static_cast<unsigned long>(skipped.size()))}});
  } else if (!settings().quiet) {
    std::printf("imported %zu of %zu files", imported, files.size());
    if (!skipped.empty()) std::printf(" (%zu skipped, see above)", skipped.size());
    std::printf("\n");
  }
  return skipped.empty() ? kExitOk : kExitFailure;
}

int runExport(const Words& words) {
  Args args(words, {"to"});
  args.atMost(2);
  Account account(args.need(0, "ACCOUNT"));
  const unsigned long folderId = account.folder(args.need(1, "FOLDER"));
  const auto dir = args.value("to");
  if (!dir) throw UsageError("missing --to DIR");
  if (!OxIsHostDirectory(*dir)) throw Failure("'" + *dir + "' is not a directory");
  Owned<OxFolderInterface> folder = account.openFolder(folderId);
  std::vector<unsigned long> ids;
  if (!folder->GetMessageIds(&ids)) libraryFailure("cannot list folder " + std::to_string(folderId));
  if (ids.empty()) {
    if (!settings().quiet && !settings().json) std::printf("the folder is empty; nothing exported\n");
    return kExitOk;
  }
  std::vector<Owned<OxMessageInterface>> open;
  std::vector<OxMessageInterface*> messages;
  for (unsigned long id : ids) {
    open.push_back(account.openMessage(id));
    messages.push_back(open.back().get());
  }
  Progress bar("exporting", messages.size());
  Counter counter(&bar, 0);
  OxMessageExporter exporter;
  if (!exporter.SetSource(messages) || !exporter.SetDestination(OxHostToDevicePath(*dir)) ||
      !exporter.RegisterNotification(&counter)) {
    libraryFailure("cannot start the export");
  }
  if (!exporter.Fire()) libraryFailure("export stopped after " + std::to_string(counter.done()) + " messages");
  if (settings().json) {
    printRecord({{"exported", Cell(counter.done())}, {"directory", Cell(*dir)}});
  } else if (!settings().quiet) {
    std::printf("exported %lu messages to %s\n", counter.done(), dir->c_str());
  }
  return kExitOk;
}

}  // namespace oxmail

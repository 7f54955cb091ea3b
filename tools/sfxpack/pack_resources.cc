#include "tools/sfxpack/pack_resources.h"

#include <vector>

#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/stub_manifest.h"

namespace sfxpack {

Status ParsePackResources(const Options& options, PackResources* resources) {
  resources->iconPath = options.Get("--icon");
  if (options.Has("--icon") && resources->iconPath.empty()) return Status::Error("--icon wants a file");
  for (const std::string& argument : options.GetAll("--version-info")) {
    const Status status = AddVersionString(argument, &resources->edits.version);
    if (!status.ok()) return status;
    resources->edits.versionGiven = true;
  }
  if (options.Has("--execution-level")) {
    const std::string level = options.Get("--execution-level");
    const Status status = CheckExecutionLevel(level);
    if (!status.ok()) return status;
    resources->edits.executionLevel = level;
  }
  return Status::Ok();
}

Status ReadPackIcon(PackResources* resources) {
  if (resources->iconPath.empty()) return Status::Ok();
  std::vector<uint8_t> bytes;
  const Status status = ReadWholeFile("--icon", resources->iconPath, kMaxIconFileSize, &bytes);
  if (!status.ok()) return status;
  return ParseIconFile(bytes, "--icon " + resources->iconPath, &resources->edits.icon);
}

void WarnAboutElevation(const InputFile& stub, const PackResources& resources) {
  StubResources own;
  if (!resources.edits.executionLevel.empty() || !ReadStubResources(stub, &own).ok() ||
      own.machine != kMachineAmd64 || !own.executionLevel.empty()) {
    return;
  }
  Warn("the stub is a 64-bit program and --execution-level is not given: Windows elevates only "
       "32-bit setup programs by their name, so the package runs with the user's rights (a setup "
       "program that needs an administrator then fails with error 740); give --execution-level "
       "requireAdministrator, or asInvoker when it needs none");
}

Status MakeEditedStub(const InputFile& stub, const PackResources& resources, PrivateTempDir* folder,
                      InputFile* edited, const InputFile** use) {
  if (!resources.edits.any()) return Status::Ok();
  // The stub is rewritten in memory; stubs are a few hundred KB.
  constexpr uint64_t kMaxEditedStub = 64u << 20;
  if (stub.size() > kMaxEditedStub) {
    return Status::Error("--stub " + stub.path() + " is over 64 MiB: too large a stub to set resources in");
  }
  std::vector<uint8_t> image(static_cast<size_t>(stub.size()));
  Status status = stub.ReadAt(0, image.data(), image.size());
  if (status.ok()) status = ApplyStubResources(resources.edits, nullptr, &image);
  if (!status.ok()) return status.Within("--stub " + stub.path() + ": ");
  status = folder->Create();
  const std::string path = folder->path() + "/stub.exe";
  if (status.ok()) status = WriteFileAtomically(path, image.data(), image.size(), 0600);
  if (status.ok()) status = edited->Open("--stub (with the resources set)", path, stub.size() + image.size());
  if (status.ok()) *use = edited;
  return status;
}

}  // namespace sfxpack

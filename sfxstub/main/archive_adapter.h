// The stub's PackageArchive: the real SfxArchive, verifying with the built-in signer key.
#ifndef SFXSTUB_MAIN_ARCHIVE_ADAPTER_H_
#define SFXSTUB_MAIN_ARCHIVE_ADAPTER_H_

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/main/package_archive.h"

namespace sfx {

class SfxArchiveAdapter : public PackageArchive {
 public:
  SfxArchiveAdapter(const DsaPublicKey& key, ProgressSink* progress) : archive_(key, progress) {}

  Status Open(const std::string& path) override { return archive_.Open(path); }
  Status ExtractMainProgram(const std::string& targetPath) override {
    return archive_.ExtractMainProgram(targetPath);
  }
  Status ExtractFiles(const std::string& folder) override { return archive_.ExtractFiles(folder); }
  std::string CommandTemplate() const override { return archive_.commandTemplate; }

 private:
  SfxArchive archive_;
};

// Makes SfxArchiveAdapters that verify with `key` (which must outlive them).
ArchiveFactory MakeSfxArchiveFactory(const DsaPublicKey& key = SignerKeySlot.key);

}  // namespace sfx

#endif  // SFXSTUB_MAIN_ARCHIVE_ADAPTER_H_

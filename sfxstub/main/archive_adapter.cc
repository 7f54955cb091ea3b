#include "sfxstub/main/archive_adapter.h"

namespace sfx {

ArchiveFactory MakeSfxArchiveFactory(const DsaPublicKey& key) {
  const DsaPublicKey* keyPointer = &key;
  return [keyPointer](ProgressSink* progress) -> std::unique_ptr<PackageArchive> {
    return std::unique_ptr<PackageArchive>(new SfxArchiveAdapter(*keyPointer, progress));
  };
}

}  // namespace sfx

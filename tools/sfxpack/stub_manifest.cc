#include "tools/sfxpack/stub_manifest.h"

namespace sfxpack {

Status CheckExecutionLevel(const std::string& level) {
  for (const char* known : {"asInvoker", "highestAvailable", "requireAdministrator"}) {
    if (level == known) return Status::Ok();
  }
  return Status::Error("--execution-level '" + level +
                       "' is none of asInvoker, highestAvailable, requireAdministrator");
}

Status SetExecutionLevel(const std::string& level, std::string* manifest) {
  std::string text = *manifest;
  const size_t old = text.find("<trustInfo");
  if (old != std::string::npos) {
    const std::string close = "</trustInfo>";
    const size_t end = text.find(close, old);
    if (end == std::string::npos) return Status::Error("its manifest has a trustInfo without </trustInfo>");
    text.erase(old, end + close.size() - old);
  }
  if (text.find("trustInfo") != std::string::npos) {
    return Status::Error("its manifest has a trustInfo element that pack cannot replace");
  }
  const size_t closing = text.rfind("</assembly>");
  if (closing == std::string::npos) return Status::Error("its manifest has no </assembly>");
  text.insert(closing,
              "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
              "<requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>"
              "</requestedPrivileges></security></trustInfo>");
  *manifest = std::move(text);
  return Status::Ok();
}

std::string ManifestExecutionLevel(const std::string& manifest) {
  const size_t element = manifest.find("requestedExecutionLevel");
  if (element == std::string::npos) return "";
  const size_t end = manifest.find('>', element);
  const size_t level = manifest.find("level=", element);
  if (level == std::string::npos || level > end || level + 7 > manifest.size()) return "";
  const char quote = manifest[level + 6];
  const size_t close = manifest.find(quote, level + 7);
  if ((quote != '"' && quote != '\'') || close == std::string::npos || close > end) return "";
  return manifest.substr(level + 7, close - level - 7);
}

}  // namespace sfxpack

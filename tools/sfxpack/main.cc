// sfxpack: makes, signs, inspects and verifies sfxstub packages.
#include <cstdio>
#include <cstring>

#include "tools/sfxpack/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* usage;
};

const Command kCommands[] = {
    {"keygen", sfxpack::RunKeygen, "keygen OUT                      new 1024/160 DSA key pair: OUT.pem (private), OUT.pub.pem"},
    {"sign", sfxpack::RunSign, "sign --key KEY --kind binary|text|md5 FILE [-o OUT]"},
    {"verify", sfxpack::RunVerify, "verify [--key PUB] FILE"},
    {"pack", sfxpack::RunPack, "pack --stub STUB.exe --key KEY --main SETUP.exe [--file NAME=PATH ...] [--raw NAME=PATH ...] [--allow-duplicates] [--no-salt] --cmdline TEMPLATE -o PACKAGE.exe"},
    {"list", sfxpack::RunList, "list [--key PUB] PACKAGE"},
    {"extract", sfxpack::RunExtract, "extract [--key PUB] PACKAGE --to DIR [--decode]"},
    {"authenticode", sfxpack::RunAuthenticode, "authenticode (--cert CERT --key KEY | --pkcs12 P12) [--pass PASS] [-n NAME] [-i URL] [-t URL] --signer-key DSAKEY PACKAGE -o OUT"},
};

int Usage(FILE* out) {
  std::fprintf(out, "usage: sfxpack COMMAND ...\n");
  for (const Command& c : kCommands) std::fprintf(out, "  sfxpack %s\n", c.usage);
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "help"))
    return Usage(stdout);
  for (const Command& c : kCommands) {
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "sfxpack: unknown command '%s'\n", argv[1]);
  return Usage(stderr);
}

// sfxpack's commands. Each runs on its parsed command line (ParseCommand, options.h, which also
// prints its help text for -h or --help) and returns the process exit code (status.h: 0 good, 1 a
// verdict of "bad", 2 usage or I/O error). Messages go to stderr, prefixed "sfxpack: ".
#ifndef SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_
#define SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_

#include "tools/sfxpack/options.h"

namespace sfxpack {

// One command: what `sfxpack --help` says of it, its command line (name, options, help text),
// and what runs it once that is parsed.
struct Command {
  const char* summary;
  CommandSpec spec;
  int (*run)(const Options& options);
};

extern const Command kPackCommand;
extern const Command kListCommand;
extern const Command kExtractCommand;
extern const Command kVerifyCommand;
extern const Command kSignCommand;
extern const Command kKeygenCommand;
extern const Command kAuthenticodeCommand;
extern const Command kStubCommand;

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_

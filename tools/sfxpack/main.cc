// sfxpack: makes, signs, inspects and verifies sfxstub packages.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/sfxpack/commands.h"
#include "tools/sfxpack/messages.h"
#include "tools/sfxpack/options.h"
#include "tools/sfxpack/shipped_stubs.h"
#include "tools/sfxpack/status.h"

#ifndef SFXPACK_VERSION
#define SFXPACK_VERSION "0.0.0"
#endif

namespace {

const sfxpack::Command* const kCommands[] = {
    &sfxpack::kPackCommand,   &sfxpack::kListCommand,   &sfxpack::kExtractCommand,
    &sfxpack::kVerifyCommand, &sfxpack::kSignCommand,   &sfxpack::kKeygenCommand,
    &sfxpack::kAuthenticodeCommand, &sfxpack::kStubCommand,
};

int Usage(FILE* out) {
  std::fprintf(out,
               "usage: sfxpack COMMAND [options] ...\n"
               "       sfxpack help COMMAND | COMMAND --help | --version\n"
               "commands:\n");
  for (const sfxpack::Command* c : kCommands) {
    std::fprintf(out, "  %-13s %s\n", c->spec.name, c->summary);
  }
  std::fprintf(out,
               "exit codes: 0 success or a good verdict; 1 a bad verdict (the stub would refuse "
               "it); 2 a usage error, an input that can't be read, or any other failure\n");
  return out == stdout ? sfxpack::kExitGood : sfxpack::kExitError;
}

const sfxpack::Command* Find(const char* name) {
  for (const sfxpack::Command* c : kCommands) {
    if (!std::strcmp(name, c->spec.name)) return c;
  }
  return nullptr;
}

int Unknown(const std::string& name) {
  std::vector<std::string> names;
  for (const sfxpack::Command* c : kCommands) names.push_back(c->spec.name);
  const std::string near = sfxpack::DidYouMean(name, names);
  std::fprintf(stderr, "sfxpack: unknown command '%s'%s\n", name.c_str(),
               near.empty() ? "" : (" (did you mean '" + near + "'?)").c_str());
  std::fprintf(stderr, "(sfxpack --help lists the commands)\n");
  return sfxpack::kExitError;
}

// The command's arguments (argv[0] is its name) parsed as it declares them, then the command.
int Run(const sfxpack::Command& command, int argc, char** argv) {
  sfxpack::Options options;
  int exitCode = sfxpack::kExitGood;
  if (!sfxpack::ParseCommand(argc, argv, command.spec, &options, &exitCode)) return exitCode;
  return command.run(options);
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  const std::string first = argv[1];
  if (first == "-h" || first == "--help") return Usage(stdout);
  if (first == "--version" || first == "-V") {
    std::printf("sfxpack %s\n%s", SFXPACK_VERSION, sfxpack::DescribeShippedStubs(SFXPACK_VERSION).c_str());
    return sfxpack::kExitGood;
  }
  if (first == "help") {
    if (argc == 2 || std::string(argv[2]) == "help") return Usage(stdout);
    const sfxpack::Command* c = Find(argv[2]);
    if (!c) return Unknown(argv[2]);
    std::fputs(c->spec.help, stdout);
    return sfxpack::kExitGood;
  }
  const sfxpack::Command* c = Find(argv[1]);
  if (!c) return Unknown(first);
  return Run(*c, argc - 1, argv + 1);
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever goes wrong ends in a message and exit 2, never in an abort.
  try {
    return Dispatch(argc, argv);
  } catch (const std::bad_alloc&) {
    return sfxpack::Report(sfxpack::Status::Error("out of memory"));
  } catch (const std::exception& e) {
    return sfxpack::Report(sfxpack::Status::Error(std::string("internal error: ") + e.what()));
  } catch (...) {
    return sfxpack::Report(sfxpack::Status::Error("internal error"));
  }
}

// The one GNU-style option parser of every sfxpack command.
#ifndef SFXSTUB_TOOLS_SFXPACK_OPTIONS_H_
#define SFXSTUB_TOOLS_SFXPACK_OPTIONS_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/sfxpack/status.h"

namespace sfxpack {

struct OptionDecl {
  enum Kind { kFlag, kValue, kList };
  const char* name;  // as typed: "--key", "-o", or a single-dash long name ("-certs")
  Kind kind;
};

// The parsed command line of one command. "--opt value" and "--opt=value" are the same, and so
// are "-o value" and "-ovalue" for a one-letter option that takes a value; "--" ends the options; "-h" and "--help" anywhere before "--" ask for the command's help (except
// where a command declares "-h" itself). A single-value option given twice is an error.
class Options {
 public:
  // Fails (the reason without the command's name) for an unknown option, a missing value, a
  // value given to a flag, or a repeated single-value option.
  Status Parse(int argc, char** argv, const std::vector<OptionDecl>& decls);

  bool help() const { return helpAsked_; }
  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of a single-value option, or `fallback`.
  std::string Get(const std::string& name, const std::string& fallback = "") const;
  // Every value of a list option, in order.
  std::vector<std::string> GetAll(const std::string& name) const;
  // Every option with its value, in command-line order.
  const std::vector<std::pair<std::string, std::string>>& ordered() const { return order_; }
  const std::vector<std::string>& positional() const { return args_; }
  // -q or --quiet.
  bool quiet() const { return Has("-q") || Has("--quiet"); }

 private:
  // One option at argv[*i] (its value may be the next argument, which then is consumed).
  Status ParseOne(int argc, char** argv, int* i, const std::vector<OptionDecl>& decls);

  bool helpAsked_ = false;
  std::map<std::string, std::vector<std::string>> values_;
  std::vector<std::pair<std::string, std::string>> order_;
  std::vector<std::string> args_;
};

// A command's name, options and help text.
struct CommandSpec {
  const char* name;
  std::vector<OptionDecl> options;
  const char* help;
};

// The command line of `command` parsed into `options`. False when the run ends here,
// `*exitCode` saying how: the command's help printed for -h or --help (0), or a usage error
// reported (2).
bool ParseCommand(int argc, char** argv, const CommandSpec& command, Options* options,
                  int* exitCode);

// The closest of `candidates` to `word` (edit distance at most 2), or empty.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_OPTIONS_H_

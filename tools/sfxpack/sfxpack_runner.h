// How the sfxpack tests run the tool (native only): one shell runner with proper quoting, one
// result type, and PackArgs, the arguments of a `pack` run built up option by option. Scratch
// folders are tests/common/temp_dir.h's.
#ifndef SFXSTUB_TOOLS_SFXPACK_SFXPACK_RUNNER_H_
#define SFXSTUB_TOOLS_SFXPACK_SFXPACK_RUNNER_H_

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sfxpack {
namespace test {

// The test signer's keys (SFXSTUB_TEST_PRIVATE_KEY and its public half).
inline std::string PrivateKeyPath() { return SFXSTUB_TEST_PRIVATE_KEY; }
inline std::string PublicKeyPath() {
  return std::string(SFXSTUB_SOURCE_DIR) + "/keys/test-signer/signer-public.pem";
}

// What a command did: its exit status (-1 when it did not exit normally) and its stdout and
// stderr together.
struct RunResult {
  int status = -1;
  std::string output;
  bool Has(const std::string& text) const { return output.find(text) != std::string::npos; }
};

// `text` as one word for the shell, whatever it holds.
inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a shell command line.
inline RunResult RunShell(const std::string& command) {
  RunResult run;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs sfxpack with `args`, each one word, after `prefix` (a shell command such as "ulimit -v N;"
// or "TMPDIR=x").
inline RunResult RunSfxpack(const std::vector<std::string>& args, const std::string& prefix = "") {
  std::string command = prefix + ShellQuote(SFXPACK_EXE);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  return RunShell(command);
}

// The same with stdout alone in `output` (stderr dropped): what a --json run prints.
inline RunResult RunSfxpackStdout(const std::vector<std::string>& args) {
  std::string command = ShellQuote(SFXPACK_EXE);
  for (const std::string& a : args) command += " " + ShellQuote(a);
  return RunShell("{ " + command + " 2>/dev/null; }");
}

// The arguments of one `sfxpack pack` run: the required options, then whatever a test adds.
// Set replaces a single-value option's value (or adds the option), so a test changes one input
// by name: PackArgs(stub, key, main, out).Set("--stub", other).
class PackArgs {
 public:
  PackArgs(const std::string& stub, const std::string& key, const std::string& main,
           const std::string& output, const std::string& cmdline = "/q")
      : args_({"pack", "--stub", stub, "--key", key, "--main", main, "--cmdline", cmdline, "-o",
               output}) {}

  PackArgs& Set(const std::string& option, const std::string& value) {
    for (size_t i = 1; i + 1 < args_.size(); ++i) {
      if (args_[i] == option) {
        args_[i + 1] = value;
        return *this;
      }
    }
    return Add({option, value});
  }
  PackArgs& File(const std::string& name, const std::string& path) { return Add({"--file", name + "=" + path}); }
  PackArgs& Raw(const std::string& name, const std::string& path) { return Add({"--raw", name + "=" + path}); }
  PackArgs& Add(std::vector<std::string> more) {
    args_.insert(args_.end(), more.begin(), more.end());
    return *this;
  }
  // The value of `option` (the first one given), or empty.
  std::string Get(const std::string& option) const {
    for (size_t i = 1; i + 1 < args_.size(); ++i) {
      if (args_[i] == option) return args_[i + 1];
    }
    return std::string();
  }
  const std::vector<std::string>& args() const { return args_; }
  operator const std::vector<std::string>&() const { return args_; }

 private:
  std::vector<std::string> args_;
};

}  // namespace test
}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_SFXPACK_RUNNER_H_

#include "tools/sfxpack/authenticode_osslsigncode.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/sfxpack/files.h"

extern char** environ;

namespace sfxpack {
namespace {

// The last lines of a program's output, enough to show why it failed without flooding.
std::string TailOf(const std::string& logPath) {
  std::vector<uint8_t> log;
  if (!ReadWholeFile("the log", logPath, 64 << 20, &log).ok()) return std::string();
  const size_t kMax = 2000;
  size_t from = log.size() > kMax ? log.size() - kMax : 0;
  std::string text(log.begin() + static_cast<std::ptrdiff_t>(from), log.end());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// posix_spawn file actions, released however the spawn ends.
class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const { return ok_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  bool ok_ = false;
};

}  // namespace

std::vector<std::string> OsslsigncodeSignArguments(const OsslsigncodeOptions& options,
                                                   const std::string& in, const std::string& out) {
  std::vector<std::string> arguments = {options.program, "sign"};
  arguments.insert(arguments.end(), options.signOptions.begin(), options.signOptions.end());
  arguments.insert(arguments.end(), {"-in", in, "-out", out});
  return arguments;
}

Status RunLoggedProgram(const std::vector<std::string>& arguments, const std::string& logPath) {
  const std::string& program = arguments.at(0);
  SpawnActions actions;
  if (!actions.ok() ||
      posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_addopen(actions.get(), 1, logPath.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), 1, 2) != 0) {
    return Status::Error("cannot prepare to run " + program);
  }
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int failed = posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (failed != 0) return Status::Error("cannot run " + program + ": " + std::strerror(failed));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return Status::Error("lost track of " + program + ": " + std::strerror(errno));
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return Status::Ok();
  std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                    : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                          : "status " + std::to_string(status);
  std::string why = program + " failed (" + how + ")";
  // A program that could not be started at all ends with 127 from the child.
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) why += ": cannot run it";
  std::string output = TailOf(logPath);
  if (!output.empty()) why += ":\n" + output;
  return Status::Error(why);
}

AuthenticodeSigner MakeOsslsigncodeSigner(const OsslsigncodeOptions& options,
                                          const std::string& workDir) {
  return [options, workDir](const std::string& in, const std::string& out) {
    return RunLoggedProgram(OsslsigncodeSignArguments(options, in, out), workDir + "/osslsigncode.log");
  };
}

}  // namespace sfxpack

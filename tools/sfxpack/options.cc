#include "tools/sfxpack/options.h"

#include <algorithm>
#include <cstdio>

#include "tools/sfxpack/json_object.h"
#include "tools/sfxpack/messages.h"

namespace sfxpack {
namespace {

const OptionDecl* Find(const std::vector<OptionDecl>& decls, const std::string& name) {
  for (const OptionDecl& decl : decls) {
    if (name == decl.name) return &decl;
  }
  return nullptr;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

Status Options::Parse(int argc, char** argv, const std::vector<OptionDecl>& decls) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      args_.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else {
      Status status = ParseOne(argc, argv, &i, decls);
      if (!status.ok()) return status;
    }
  }
  return Status::Ok();
}

Status Options::ParseOne(int argc, char** argv, int* i, const std::vector<OptionDecl>& decls) {
  const std::string arg = argv[*i];
  std::string name = arg;
  std::string value;
  const size_t eq = arg.find('=');
  bool inlineValue = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
  if (inlineValue) {
    name = arg.substr(0, eq);
    value = arg.substr(eq + 1);
  }
  const OptionDecl* decl = Find(decls, name);
  // A one-letter option's value may follow it directly, as "-oFILE".
  const OptionDecl* shortDecl = inlineValue || decl || arg[1] == '-' ? nullptr : Find(decls, arg.substr(0, 2));
  if (shortDecl && shortDecl->kind != OptionDecl::kFlag) {
    decl = shortDecl;
    name = arg.substr(0, 2);
    value = arg.substr(2);
    inlineValue = true;
  }
  if (!decl && (name == "-h" || name == "--help")) {
    helpAsked_ = true;
    return Status::Ok();
  }
  if (!decl) {
    std::vector<std::string> names;
    for (const OptionDecl& d : decls) names.push_back(d.name);
    const std::string near = DidYouMean(name, names);
    return Status::Error("unknown option '" + name + "'" +
                         (near.empty() ? "" : " (did you mean " + near + "?)"));
  }
  if (decl->kind == OptionDecl::kFlag && inlineValue) return Status::Error(name + " takes no value");
  if (decl->kind != OptionDecl::kFlag && !inlineValue) {
    if (*i + 1 >= argc) return Status::Error(name + " needs a value");
    value = argv[++*i];
  }
  std::vector<std::string>& slot = values_[name];
  if (decl->kind != OptionDecl::kList && !slot.empty()) {
    return Status::Error(name + " is given more than once");
  }
  slot.push_back(value);
  order_.emplace_back(name, value);
  return Status::Ok();
}

std::string Options::Get(const std::string& name, const std::string& fallback) const {
  auto it = values_.find(name);
  return it == values_.end() || it->second.empty() ? fallback : it->second.back();
}

std::vector<std::string> Options::GetAll(const std::string& name) const {
  auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>() : it->second;
}

// Whether the command takes --json and its command line asks for it (before any "--").
bool JsonAsked(int argc, char** argv, const CommandSpec& command) {
  if (!Find(command.options, "--json")) return false;
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    if (std::string(argv[i]) == "--json") return true;
  }
  return false;
}

bool ParseCommand(int argc, char** argv, const CommandSpec& command, Options* options,
                  int* exitCode) {
  const Status status = options->Parse(argc, argv, command.options);
  if (!status.ok()) {
    const Status usage = UsageError(command.name, status.reason());
    // Even a command line that can't be parsed gets its one JSON object.
    if (JsonAsked(argc, argv, command)) {
      JsonObject().Null("file").Null("key").String("error", usage.reason()).Number("exit", usage.code()).Print();
    }
    *exitCode = Report(usage);
    return false;
  }
  if (options->help()) {
    std::fputs(command.help, stdout);
    *exitCode = kExitGood;
    return false;
  }
  return true;
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  std::string best;
  size_t bestDistance = 3;
  for (const std::string& c : candidates) {
    const size_t d = EditDistance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  return best;
}

}  // namespace sfxpack

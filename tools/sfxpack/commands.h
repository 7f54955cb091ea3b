// sfxpack's commands. Each takes the arguments after the command name (argv[0] is the command)
// and returns the process exit code (status.h: 0 good, 1 a verdict of "bad", 2 usage or I/O error).
// Messages go to stderr, prefixed "sfxpack: ". Each command prints its help text (below) for
// -h or --help.
#ifndef SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_
#define SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_

namespace sfxpack {

int RunKeygen(int argc, char** argv);
int RunSign(int argc, char** argv);
int RunVerify(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunList(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunAuthenticode(int argc, char** argv);

extern const char kKeygenHelp[];
extern const char kSignHelp[];
extern const char kVerifyHelp[];
extern const char kPackHelp[];
extern const char kListHelp[];
extern const char kExtractHelp[];
extern const char kAuthenticodeHelp[];

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_

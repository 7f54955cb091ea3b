// sfxpack's commands. Each takes the arguments after the command name (argv[0] is the command)
// and returns the process exit code: 0 on success, 1 for a failed check (verify), 2 for bad
// input or usage. Messages go to stderr, prefixed "sfxpack: ".
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

}  // namespace sfxpack

#endif  // SFXSTUB_TOOLS_SFXPACK_COMMANDS_H_

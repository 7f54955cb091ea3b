// The runtime's low-level file calls under their Windows runtime names. The Windows runtime has
// them as they are; elsewhere they are the POSIX calls of the same meaning.
#ifndef SFXSTUB_ARCHIVE_LOWLEVEL_IO_H_
#define SFXSTUB_ARCHIVE_LOWLEVEL_IO_H_

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>
#include <fcntl.h>
// 64-bit seeks, so that offsets between 2 GiB and 4 GiB work with a 32-bit long.
#define SFX_LSEEK64 _lseeki64
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>
#define _open ::open
#define _read ::read
#define _write ::write
#define _lseek ::lseek
#define SFX_LSEEK64 ::lseek
#define _close ::close
#define _unlink ::unlink
#define _utime ::utime
#define _utimbuf utimbuf
#define _O_RDONLY O_RDONLY
#define _O_RDWR O_RDWR
#define _O_CREAT O_CREAT
#define _O_TRUNC O_TRUNC
#define _O_EXCL O_EXCL
#define _O_WRONLY O_WRONLY
#define _O_BINARY 0
#define _O_NOINHERIT O_CLOEXEC
#define _S_IREAD S_IRUSR
#define _S_IWRITE S_IWUSR
#endif

#endif  // SFXSTUB_ARCHIVE_LOWLEVEL_IO_H_

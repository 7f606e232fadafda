#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

// The system calls of the store that tests make fail (a full disk, a vanished file):
// every file operation of the store goes through this table, and a test swaps an entry
// for one that sets errno and answers -1. resetSysCalls() restores the real calls.
struct MaildirSysCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buffer, size_t size);
    ssize_t (*write)(int fd, const void* buffer, size_t size);
    ssize_t (*pread)(int fd, void* buffer, size_t size, off_t offset);
    int (*ftruncate)(int fd, off_t size);
    int (*fsync)(int fd);
    int (*syncfs)(int fd);
    int (*close)(int fd);
    int (*fstat)(int fd, struct stat* st);
    int (*stat)(const char* path, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    int (*rename)(const char* from, const char* to);
    int (*link)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*mkdir)(const char* path, mode_t mode);
    int (*flock)(int fd, int operation);
    int (*futimens)(int fd, const struct timespec times[2]);
};

// The table in use (process-wide).
MaildirSysCalls& sysCalls();
void resetSysCalls();

// "call(args) failed: reason" for the log, with errno's text.
std::string sysFailure(const std::string& call, int error);
// Logs the failure of call (with errno's text) and answers errno as a result code.
HRESULT sysError(const std::string& call);

// The one read loop of the store: reads fd through the table to its end in pieces of at
// most pieceSize bytes (with pread from offset at, or from the file offset when at is
// negative), retrying after EINTR, and gives each piece to take, which stops the reading
// early by answering false. 0, or -1 with errno set by the failed read.
int readPieces(int fd, off_t at, std::size_t pieceSize,
               const std::function<bool(const char* data, std::size_t size)>& take);
// Writes all of data through the table, retrying after EINTR and short writes. 0, or -1
// with errno set.
int writeAll(int fd, const char* data, std::size_t size);

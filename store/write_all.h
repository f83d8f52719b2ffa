#pragma once

#include <sys/types.h>

#include <cstddef>

// Writes every byte, resuming after partial writes and EINTR. Returns 0, or
// the errno of the failure (ENOSPC when a write makes no progress).
int write_all(int fd, const void *data, std::size_t length);
// The same at `offset`, with pwrite: the file's offset stays where it was.
int pwrite_all(int fd, const void *data, std::size_t length, off_t offset);
// Reads exactly `length` bytes at `offset` with pread, resuming after partial
// reads and EINTR: 0, or the errno of the failure (EIO when the file ends
// first).
int pread_all(int fd, void *data, std::size_t length, off_t offset);

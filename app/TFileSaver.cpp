#include "app/TFileSaver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "net/TIdStream.h"

namespace kv::app {

namespace {

// Tries this many fresh names before giving up on a folder full of leftovers.
constexpr int kMaxTemporaryNameAttempts = 100;

[[noreturn]] void Fail(const char* what, const std::string& path, int error) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, " (error %d: ", error);
  throw EFileSaveError(std::string(what) + " \"" + path + "\"" + buffer + std::strerror(error) +
                       ")");
}

std::string FolderPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name next to the target, created exclusively so that nothing else is overwritten;
// the mode 0666 lets the user's umask decide the permissions, as for any new file.
int CreateTemporaryFile(const std::string& targetPath, std::string& temporaryPath) {
  std::random_device device;
  std::mt19937_64 random(device());
  int lastError = 0;
  for (int attempt = 0; attempt < kMaxTemporaryNameAttempts; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%ld.%016llx.tmp", static_cast<long>(getpid()),
                  static_cast<unsigned long long>(random()));
    temporaryPath = FolderPart(targetPath) + "." + NamePart(targetPath) + suffix;
    const int fd = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      return fd;
    }
    lastError = errno;
    if (lastError != EEXIST) {
      break;
    }
  }
  Fail("Cannot create a temporary file for", targetPath, lastError);
}

void WriteAll(int fd, const uint8_t* data, int64_t size, const std::string& path) {
  int64_t written = 0;
  while (written < size) {
    const ssize_t n = write(fd, data + written, static_cast<size_t>(size - written));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Fail("Cannot write", path, errno);
    }
    written += n;
  }
}

// Makes the rename itself durable; a failure here loses nothing that is already visible.
void SyncFolder(const std::string& targetPath) {
  const std::string folder = FolderPart(targetPath);
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

void SaveStreamAtomically(const std::string& targetPath, const kv::net::TIdMemoryStream& stream) {
  std::string temporaryPath;
  int fd = CreateTemporaryFile(targetPath, temporaryPath);
  try {
    WriteAll(fd, stream.Memory(), stream.Size(), temporaryPath);
    if (fsync(fd) != 0) {
      Fail("Cannot flush", temporaryPath, errno);
    }
    const int closed = close(fd);
    fd = -1;
    if (closed != 0) {
      Fail("Cannot close", temporaryPath, errno);
    }
    if (rename(temporaryPath.c_str(), targetPath.c_str()) != 0) {
      Fail("Cannot replace", targetPath, errno);
    }
  } catch (...) {
    if (fd >= 0) {
      close(fd);
    }
    unlink(temporaryPath.c_str());
    throw;
  }
  SyncFolder(targetPath);
}

}  // namespace kv::app

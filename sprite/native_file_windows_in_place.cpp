#include "sprite/native_file_windows_in_place.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "sprite/file.h"

namespace kavoni::native {

namespace {

OVERLAPPED At(unsigned long long offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// The chunk that one call reads or writes: a DWORD's worth, and a round number of them.
DWORD Chunk(std::size_t left) {
  return static_cast<DWORD>(std::min<std::size_t>(left, 1u << 30));
}

// The whole file as it is now, read through `file` from its start.
std::string ReadAll(HANDLE file) {
  FILE_STANDARD_INFO standard{};
  if (!Calls().get_file_information(file, FileStandardInfo, &standard, sizeof standard)) {
    Fail("cannot read the file's size", GetLastError());
  }
  std::string bytes(static_cast<std::size_t>(standard.EndOfFile.QuadPart), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at = At(done);
    DWORD read = 0;
    if (!Calls().read_file(file, bytes.data() + done, Chunk(bytes.size() - done), &read, &at)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) {
        break;
      }
      Fail("cannot read the old content", error);
    }
    if (read == 0) {
      break;
    }
    done += read;
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

DWORD WriteFromStart(HANDLE file, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED at = At(done);
    DWORD written = 0;
    if (!Calls().write_file(file, bytes.data() + done, Chunk(bytes.size() - done), &written, &at)) {
      return GetLastError();
    }
    // Nothing written and no error: trying again would loop for ever.
    if (written == 0) {
      return ERROR_WRITE_FAULT;
    }
    done += written;
  }
  return ERROR_SUCCESS;
}

namespace {

DWORD SetLength(HANDLE file, std::size_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return Calls().set_file_information(file, FileEndOfFileInfo, &end, sizeof end) ? ERROR_SUCCESS
                                                                                 : GetLastError();
}

DWORD Flush(HANDLE file) {
  return Calls().flush_file_buffers(file) ? ERROR_SUCCESS : GetLastError();
}

// Puts `old` back as the whole file after the step `what` failed with `error`, and reports that
// failure, or, where the old content could not be put back, that.
[[noreturn]] void RestoreAndFail(HANDLE file, const std::string& old, const char* what,
                                 DWORD error) {
  DWORD restored = WriteFromStart(file, old);
  if (restored == ERROR_SUCCESS) {
    restored = SetLength(file, old.size());
  }
  if (restored == ERROR_SUCCESS) {
    restored = Flush(file);
  }
  if (restored != ERROR_SUCCESS) {
    Fail((std::string(what) + ", and the old content could not be written back").c_str(), restored);
  }
  Fail(what, error);
}

}  // namespace

void WriteInPlace(Handle& file, std::string_view content) {
  const std::string old = ReadAll(file.get());
  // The room for the new content, taken before anything changes.
  if (content.size() > old.size()) {
    if (const DWORD error = SetLength(file.get(), content.size()); error != ERROR_SUCCESS) {
      // Not a byte has changed; the length is put back in case a part of it was taken.
      SetLength(file.get(), old.size());
      Fail("cannot make room for the new content", error);
    }
  }
  if (const DWORD error = WriteFromStart(file.get(), content); error != ERROR_SUCCESS) {
    RestoreAndFail(file.get(), old, "cannot write", error);
  }
  if (content.size() < old.size()) {
    if (const DWORD error = SetLength(file.get(), content.size()); error != ERROR_SUCCESS) {
      RestoreAndFail(file.get(), old, "cannot shorten the file", error);
    }
  }
  if (const DWORD error = Flush(file.get()); error != ERROR_SUCCESS) {
    RestoreAndFail(file.get(), old, "cannot sync", error);
  }
  file.Close();
}

}  // namespace kavoni::native
